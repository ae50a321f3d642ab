#include "ocr/TesseractRecognizer.h"

#include "ocr/LineCache.h"
#include "ocr/RecognitionImage.h"
#include "ocr/TesseractEngine.h"
#include "runtime/Log.h"

#include <exception>

namespace pellux {

TesseractRecognizer::TesseractRecognizer(std::optional<QString> tessdataPath)
    : m_tessdataPath(std::move(tessdataPath))
    , m_lines(std::make_unique<LineCache>())
{
}

TesseractRecognizer::~TesseractRecognizer() = default;

std::optional<RecognitionFailure> TesseractRecognizer::prepare()
{
    if (m_engine && m_engine->isReady())
        return std::nullopt;
    m_engine = std::make_unique<TesseractEngine>(TesseractEngine::Purpose::recognition, m_tessdataPath);
    if (m_engine->isReady())
        return std::nullopt;
    // Said once: until a model is there, every request fails the same way.
    if (!std::exchange(m_failureLogged, true))
        log::failure(QStringLiteral("Failed to perform OCR: ") + m_engine->failureReason());
    return RecognitionFailure { RecognitionFailure::Kind::unavailable, m_engine->failureReason() };
}

template <typename Work> RecognizedLines TesseractRecognizer::run(const Work &work)
{
    if (std::optional<RecognitionFailure> unavailable = prepare())
        return *unavailable;
    std::vector<RecognizedFragment> lines;
    try {
        lines = work(*m_engine);
    } catch (const std::exception &error) {
        // Out of memory for the enlarged copy of a huge frame, for one.
        const QString reason = QString::fromUtf8(error.what());
        log::failure(QStringLiteral("Failed to perform OCR: ") + reason);
        return RecognitionFailure { RecognitionFailure::Kind::image, reason };
    }
    if (!m_engine->recognitionFailure().isEmpty()) {
        log::failure(QStringLiteral("Failed to perform OCR: ") + m_engine->recognitionFailure());
        return RecognitionFailure { RecognitionFailure::Kind::image, m_engine->recognitionFailure() };
    }
    return lines;
}

RecognizedLines TesseractRecognizer::recognize(const QImage &image, RecognitionLevel level)
{
    const RecognitionTuning tuning = level == RecognitionLevel::accurate ? accurateTuning() : fastTuning();
    return run([&](TesseractEngine &engine) { return recognizeImage(engine, image, tuning); });
}

RecognizedLines TesseractRecognizer::recognizeBands(const QImage &image, const std::vector<RowSpan> &bands)
{
    return run([&](TesseractEngine &engine) {
        return pellux::recognizeBands(engine, image, bands, accurateTuning(), m_lines.get());
    });
}

LineCacheCounts TesseractRecognizer::lineCacheCounts() const { return { m_lines->hits(), m_lines->misses() }; }

} // namespace pellux
