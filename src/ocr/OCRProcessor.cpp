#include "ocr/OCRProcessor.h"

#include "ocr/ChangedLines.h"
#include "ocr/RecognitionImage.h"
#include "ocr/RecognitionMemory.h"
#include "ocr/TesseractEngine.h"
#include "runtime/Log.h"
#include "runtime/ProcessorTime.h"
#include "runtime/SharedInstance.h"

#include <exception>

namespace pellux {

OCRProcessor &OCRProcessor::shared() { return SharedInstance<OCRProcessor>::get("OCRProcessor"); }

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
        std::vector<OCRText> fragments = recognize(image, id, Level::accurate).value_or(std::vector<OCRText> {});
        if (completion)
            completion(std::move(fragments));
    });
}

void OCRProcessor::processChangedImage(const QImage &image, const QUuid &recordingId,
    std::optional<PreviousFrame> previous, std::shared_ptr<RecognitionMemory> remember, Completion completion)
{
    if (image.isNull()) {
        if (completion)
            completion({});
        return;
    }
    m_queue.async([this, image, recordingId, previous = std::move(previous), remember = std::move(remember),
                      completion = std::move(completion)] {
        std::optional<std::vector<OCRText>> fragments = recognizeChanges(image, recordingId, previous);
        if (fragments && remember)
            remember->remember(*fragments);
        if (completion)
            completion(std::move(fragments).value_or(std::vector<OCRText> {}));
    });
}

void OCRProcessor::processSampleBuffer(const QImage &frame, FrameCompletion completion)
{
    if (frame.isNull())
        return;
    const QUuid id = QUuid::createUuid();
    m_queue.async([this, frame, id, completion = std::move(completion)] {
        std::vector<OCRText> fragments = recognize(frame, id, Level::fast).value_or(std::vector<OCRText> {});
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

std::optional<std::vector<RecognizedFragment>> OCRProcessor::runEngine(
    const std::function<std::vector<RecognizedFragment>(TesseractEngine &)> &work)
{
    if (!ensureEngine())
        return std::nullopt;
    std::vector<RecognizedFragment> lines;
    try {
        lines = work(*m_engine);
    } catch (const std::exception &error) {
        // Out of memory for the enlarged copy of a huge frame, for one: this frame goes without text.
        log::failure(QStringLiteral("Failed to perform OCR: ") + QString::fromUtf8(error.what()));
        return std::nullopt;
    }
    if (!m_engine->recognitionFailure().isEmpty()) {
        log::failure(QStringLiteral("Failed to perform OCR: ") + m_engine->recognitionFailure());
        return std::nullopt;
    }
    return lines;
}

std::optional<std::vector<OCRText>> OCRProcessor::recognize(const QImage &image, const QUuid &recordingId, Level level)
{
    const RecognitionTuning tuning = level == Level::accurate ? accurateTuning() : fastTuning();
    std::optional<std::vector<RecognizedFragment>> lines
        = runEngine([&](TesseractEngine &engine) { return recognizeImage(engine, image, tuning); });
    if (!lines)
        return std::nullopt;
    std::vector<OCRText> fragments;
    for (RecognizedFragment &line : *lines)
        fragments.push_back(
            OCRText { QUuid::createUuid(), recordingId, m_clock.now(), std::move(line.text), line.bounds });
    return fragments;
}

std::optional<std::vector<OCRText>> OCRProcessor::recognizeChanges(
    const QImage &image, const QUuid &recordingId, const std::optional<PreviousFrame> &previous)
{
    const double started = threadProcessorSeconds();
    const auto tally = [started](std::atomic<int> &count, std::atomic<double> &seconds) {
        ++count;
        seconds.store(seconds.load() + threadProcessorSeconds() - started);
    };
    // The previous request of the window ran before this one on this queue, so its text is in by now.
    const std::optional<std::vector<OCRText>> previousText
        = previous && previous->text ? previous->text->fragments() : std::nullopt;
    std::optional<std::vector<RowSpan>> bands;
    // The previous text where it is in this frame: a scrolled window shows most of it higher up.
    std::vector<OCRText> carried;
    if (previousText) {
        const int shift = scrollShift(image, previous->image);
        std::vector<RowSpan> changed = changedRows(image, previous->image, shift);
        carried = shift == 0 ? *previousText : scrolledFragments(*previousText, shift, image.height(), changed);
        bands = linesToRecognize(changed, carried, image.size());
    }
    if (!bands) {
        std::optional<std::vector<OCRText>> whole = recognize(image, recordingId, Level::accurate);
        tally(m_wholeImageRecognitions, m_wholeImageSeconds);
        return whole;
    }

    std::optional<std::vector<RecognizedFragment>> lines
        = runEngine([&](TesseractEngine &engine) { return recognizeBands(engine, image, *bands, accurateTuning()); });
    if (!lines)
        return std::nullopt;
    tally(m_changedLineRecognitions, m_changedLineSeconds);
    const TimePoint now = m_clock.now();
    std::vector<OCRText> recognized;
    for (RecognizedFragment &line : *lines)
        recognized.push_back(OCRText { QUuid::createUuid(), recordingId, now, std::move(line.text), line.bounds });
    return mergeChangedLines(carried, *bands, recognized, image.height(), recordingId, now);
}

} // namespace pellux
