#pragma once

#include "ocr/TextRecognizer.h"
#include "persistence/Recording.h"
#include "runtime/Clock.h"
#include "runtime/SerialQueue.h"

#include <QImage>
#include <QString>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pellux {

class RecognitionMemory;

// The window's previous stored frame, of which a new frame is a changed-region delta, and that
// frame's recognised text (filled once its recognition finishes).
struct PreviousFrame {
    QImage image;
    std::shared_ptr<const RecognitionMemory> text;
};

// The fragments of one image, or why the recogniser gave none. An empty list means a working
// recogniser found no text; a failure never does.
using Recognition = RecognitionResult<std::vector<OCRText>>;

// Turns images into recognised text fragments, one per text line, with their positions. All
// recognition runs on one serial queue, "com.pellux.ocr", one request at a time in submission
// order; completions are called exactly once, on that queue (or at once on the caller's thread
// for a null image), so callers that touch main-thread state hop there themselves.
//
// `OCRText::bounds` is in the pixel space of the given image with the origin at the bottom left:
// y is measured up from the image's bottom edge (no flip to Qt's top-left origin).
class OCRProcessor {
public:
    using Completion = std::function<void(Recognition)>;
    using FrameCompletion = std::function<void(Recognition, QUuid)>;

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static OCRProcessor &shared();

    // With the Tesseract recogniser: `tessdataPath` is the folder holding eng.traineddata; absent
    // means TESSDATA_PREFIX or the system's default. Tests and tools may make their own instances.
    explicit OCRProcessor(std::optional<QString> tessdataPath = std::nullopt, Clock &clock = Clock::system());
    // With the given recogniser, used only on the queue.
    explicit OCRProcessor(std::unique_ptr<TextRecognizer> recognizer, Clock &clock = Clock::system());
    ~OCRProcessor();

    OCRProcessor(const OCRProcessor &) = delete;
    OCRProcessor &operator=(const OCRProcessor &) = delete;

    // Recognises the text of a screenshot with the accurate settings. Every fragment carries
    // `recordingId`, or one UUID made for this call when none is given. A null image completes
    // with an empty list before this returns; a recogniser that fails completes with its failure.
    void processImage(const QImage &image, const std::optional<QUuid> &recordingId, Completion completion);

    // As processImage, for the next frame of the window `previous` showed: when that frame's
    // text is known by the time this request runs, only the bands of lines whose pixels changed
    // are recognised and the rest of the text is taken over from it, in the reading order a whole
    // recognition gives. A scrolled window is compared with its previous frame moved by the
    // scroll, so only the lines that came into view count as changed. Without previous text, or when the changed lines
    // cover more than kMaxChangedHeightShare of the height, the whole frame is recognised. Once recognised, the
    // fragments are also kept in `remember` (when given); a failure is not.
    void processChangedImage(const QImage &image, const QUuid &recordingId, std::optional<PreviousFrame> previous,
        std::shared_ptr<RecognitionMemory> remember, Completion completion);

    // How many requests recognised only changed lines, and how many the whole image, so far, and
    // the processor time the queue spent on each kind (seconds).
    int changedLineRecognitions() const { return m_changedLineRecognitions.load(); }
    int wholeImageRecognitions() const { return m_wholeImageRecognitions.load(); }
    double changedLineSeconds() const { return m_changedLineSeconds.load(); }
    double wholeImageSeconds() const { return m_wholeImageSeconds.load(); }
    // Changed-line bands whose text came from the cache of recognised lines, and bands read.
    int bandsFromCache() const { return m_bandsFromCache.load(); }
    int bandsRead() const { return m_bandsRead.load(); }

    // Recognises one video frame with the fast settings; the completion receives the fragments (or
    // the failure) and the recording id made up for this call. A null frame (no pixels) never
    // completes.
    void processSampleBuffer(const QImage &frame, FrameCompletion completion);

    // Waits for the requests queued so far, then tells whether the recogniser could be set up
    // (false when the English model is missing; the reason has then been logged once).
    bool isRecognizerReady();

    SerialQueue &textRecognitionQueue() { return m_queue; }

private:
    // Run on the queue.
    Recognition recognize(const QImage &image, const QUuid &recordingId, RecognitionLevel level);
    Recognition recognizeChanges(
        const QImage &image, const QUuid &recordingId, const std::optional<PreviousFrame> &previous);
    std::vector<OCRText> stamped(std::vector<RecognizedFragment> lines, const QUuid &recordingId, TimePoint now) const;

    Clock &m_clock;
    // Only touched on the queue.
    std::unique_ptr<TextRecognizer> m_recognizer;
    std::atomic<int> m_changedLineRecognitions { 0 };
    std::atomic<int> m_wholeImageRecognitions { 0 };
    // Written on the queue only.
    std::atomic<double> m_changedLineSeconds { 0 };
    std::atomic<double> m_wholeImageSeconds { 0 };
    std::atomic<int> m_bandsFromCache { 0 };
    std::atomic<int> m_bandsRead { 0 };
    // Declared last so that it is destroyed first: pending requests finish while the recogniser exists.
    SerialQueue m_queue;
};

} // namespace pellux
