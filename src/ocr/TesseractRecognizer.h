#pragma once

#include "ocr/TextRecognizer.h"

#include <memory>
#include <optional>

namespace pellux {

class LineCache;
class TesseractEngine;

// The production recogniser: Tesseract with the English model, screen images prepared as
// accurateTuning() and fastTuning() say. A model that cannot be loaded is tried again at the next
// request (one may have been installed meanwhile); the reason is logged the first time only.
class TesseractRecognizer final : public TextRecognizer {
public:
    // `tessdataPath` is the folder holding eng.traineddata; absent means TESSDATA_PREFIX or the
    // system's default.
    explicit TesseractRecognizer(std::optional<QString> tessdataPath = std::nullopt);
    ~TesseractRecognizer() override;

    std::optional<RecognitionFailure> prepare() override;
    RecognizedLines recognize(const QImage &image, RecognitionLevel level) override;
    RecognizedLines recognizeBands(const QImage &image, const std::vector<RowSpan> &bands) override;
    // Bands served from the cache of recognised lines, and bands read.
    LineCacheCounts lineCacheCounts() const override;

private:
    template <typename Work> RecognizedLines run(const Work &work);

    const std::optional<QString> m_tessdataPath;
    std::unique_ptr<TesseractEngine> m_engine;
    std::unique_ptr<LineCache> m_lines;
    bool m_failureLogged = false;
};

} // namespace pellux
