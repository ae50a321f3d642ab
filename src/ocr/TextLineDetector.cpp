#include "ocr/TextLineDetector.h"

#include "ocr/RecognitionImage.h"
#include "ocr/TesseractEngine.h"

#include <memory>

namespace pellux {

std::vector<QRect> detectTextLines(const QImage &image)
{
    if (image.isNull() || image.width() < kMinimumRecognizableSide || image.height() < kMinimumRecognizableSide)
        return {};
    thread_local std::unique_ptr<TesseractEngine> engine;
    if (!engine)
        engine = std::make_unique<TesseractEngine>(TesseractEngine::Purpose::layoutAnalysis);
    const RecognitionTuning tuning { .scale = 1.0, .inversion = Inversion::darkRegions };
    return engine->detectLines(prepareForRecognition(image, tuning).grey);
}

} // namespace pellux
