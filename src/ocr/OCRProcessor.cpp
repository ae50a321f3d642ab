#include "ocr/OCRProcessor.h"

#include "ocr/RecognitionImage.h"
#include "ocr/TesseractEngine.h"
#include "runtime/Log.h"

#include <exception>

namespace pellux {

OCRProcessor &OCRProcessor::shared()
{
    static OCRProcessor instance;
    return instance;
}

OCRProcessor::OCRProcessor(std::optional<QString> tessdataPath, Clock &clock)
    : m_tessdataPath(std::move(tessdataPath))
    , m_clock(clock)
    , m_queue(QStringLiteral("com.pellux.ocr"))
{
}

OCRProcessor::~OCRProcessor() = default;

void OCRProcessor::processImage(const QImage &image, const std::optional<QUuid> &recordingId, Completion completion)
{
    if (image.isNull()) {
        if (completion)
            completion({});
        return;
    }
    const QUuid id = recordingId.value_or(QUuid::createUuid());
    m_queue.async([this, image, id, completion = std::move(completion)] {
        std::vector<OCRText> fragments = recognize(image, id, Level::accurate);
        if (completion)
            completion(std::move(fragments));
    });
}

void OCRProcessor::processSampleBuffer(const QImage &frame, FrameCompletion completion)
{
    if (frame.isNull())
        return;
    const QUuid id = QUuid::createUuid();
    m_queue.async([this, frame, id, completion = std::move(completion)] {
        std::vector<OCRText> fragments = recognize(frame, id, Level::fast);
        if (completion)
            completion(std::move(fragments), id);
    });
}

bool OCRProcessor::isRecognizerReady()
{
    bool ready = false;
    m_queue.sync([this, &ready] { ready = ensureEngine(); });
    return ready;
}

bool OCRProcessor::ensureEngine()
{
    if (!m_engine) {
        m_engine = std::make_unique<TesseractEngine>(TesseractEngine::Purpose::recognition, m_tessdataPath);
        // Said once: every later request fails the same way and answers with an empty list.
        if (!m_engine->isReady())
            log::failure(QStringLiteral("Failed to perform OCR: ") + m_engine->failureReason());
    }
    return m_engine->isReady();
}

std::vector<OCRText> OCRProcessor::recognize(const QImage &image, const QUuid &recordingId, Level level)
{
    std::vector<OCRText> fragments;
    if (!ensureEngine())
        return fragments;
    const RecognitionTuning tuning = level == Level::accurate ? accurateTuning() : fastTuning();
    std::vector<RecognizedFragment> lines;
    try {
        lines = recognizeImage(*m_engine, image, tuning);
    } catch (const std::exception &error) {
        // Out of memory for the enlarged copy of a huge frame, for one: this frame goes without text.
        log::failure(QStringLiteral("Failed to perform OCR: ") + QString::fromUtf8(error.what()));
        return fragments;
    }
    if (!m_engine->recognitionFailure().isEmpty()) {
        log::failure(QStringLiteral("Failed to perform OCR: ") + m_engine->recognitionFailure());
        return fragments;
    }
    for (RecognizedFragment &line : lines)
        fragments.push_back(
            OCRText { QUuid::createUuid(), recordingId, m_clock.now(), std::move(line.text), line.bounds });
    return fragments;
}

} // namespace pellux
