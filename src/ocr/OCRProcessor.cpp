#include "ocr/OCRProcessor.h"

#include "ocr/ChangedLines.h"
#include "ocr/RecognitionMemory.h"
#include "ocr/TesseractRecognizer.h"
#include "runtime/ProcessorTime.h"
#include "runtime/SharedInstance.h"

namespace pellux {

OCRProcessor &OCRProcessor::shared() { return SharedInstance<OCRProcessor>::get("OCRProcessor"); }

OCRProcessor::OCRProcessor(std::optional<QString> tessdataPath, Clock &clock)
    : OCRProcessor(std::make_unique<TesseractRecognizer>(std::move(tessdataPath)), clock)
{
}

OCRProcessor::OCRProcessor(std::unique_ptr<TextRecognizer> recognizer, Clock &clock)
    : m_clock(clock)
    , m_recognizer(std::move(recognizer))
    , m_queue(QStringLiteral("com.pellux.ocr"), ThreadPriority::idle)
{
}

OCRProcessor::~OCRProcessor() = default;

void OCRProcessor::processImage(const QImage &image, const std::optional<QUuid> &recordingId, Completion completion)
{
    if (image.isNull()) {
        if (completion)
            completion(std::vector<OCRText> {});
        return;
    }
    const QUuid id = recordingId.value_or(QUuid::createUuid());
    m_queue.async([this, image, id, completion = std::move(completion)] {
        Recognition fragments = recognize(image, id, RecognitionLevel::accurate);
        if (completion)
            completion(std::move(fragments));
    });
}

void OCRProcessor::processChangedImage(const QImage &image, const QUuid &recordingId,
    std::optional<PreviousFrame> previous, std::shared_ptr<RecognitionMemory> remember, Completion completion)
{
    if (image.isNull()) {
        if (completion)
            completion(std::vector<OCRText> {});
        return;
    }
    m_queue.async([this, image, recordingId, previous = std::move(previous), remember = std::move(remember),
                      completion = std::move(completion)] {
        Recognition fragments = recognizeChanges(image, recordingId, previous);
        if (fragments.ok() && remember)
            remember->remember(fragments.value());
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
        Recognition fragments = recognize(frame, id, RecognitionLevel::fast);
        if (completion)
            completion(std::move(fragments), id);
    });
}

bool OCRProcessor::isRecognizerReady()
{
    bool ready = false;
    m_queue.sync([this, &ready] { ready = !m_recognizer->prepare(); });
    return ready;
}

std::vector<OCRText> OCRProcessor::stamped(
    std::vector<RecognizedFragment> lines, const QUuid &recordingId, TimePoint now) const
{
    std::vector<OCRText> fragments;
    fragments.reserve(lines.size());
    for (RecognizedFragment &line : lines)
        fragments.push_back(OCRText {
            QUuid::createUuid(), recordingId, now, std::move(line.text), line.bounds, std::move(line.words) });
    return fragments;
}

Recognition OCRProcessor::recognize(const QImage &image, const QUuid &recordingId, RecognitionLevel level)
{
    RecognizedLines lines = m_recognizer->recognize(image, level);
    if (!lines)
        return lines.failure();
    return stamped(std::move(lines).value(), recordingId, m_clock.now());
}

Recognition OCRProcessor::recognizeChanges(
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
        Recognition whole = recognize(image, recordingId, RecognitionLevel::accurate);
        if (whole)
            tally(m_wholeImageRecognitions, m_wholeImageSeconds);
        return whole;
    }

    RecognizedLines lines = m_recognizer->recognizeBands(image, *bands);
    const LineCacheCounts cached = m_recognizer->lineCacheCounts();
    m_bandsFromCache = cached.hits;
    m_bandsRead = cached.misses;
    if (!lines)
        return lines.failure();
    tally(m_changedLineRecognitions, m_changedLineSeconds);
    const TimePoint now = m_clock.now();
    return mergeChangedLines(
        carried, *bands, stamped(std::move(lines).value(), recordingId, now), image.height(), recordingId, now);
}

} // namespace pellux
