#pragma once

#include "capture/CaptureBackend.h"
#include "capture/FrameSource.h"
#include "persistence/AppPreferences.h"
#include "persistence/Recording.h"
#include "runtime/Clock.h"
#include "runtime/SerialQueue.h"

#include <QObject>
#include <QPointer>
#include <QUuid>
#include <QVariant>

#include <qcorotask.h>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace pellux {

class DebugManager;
class OCRProcessor;

// The stream-based capture path: every frame of a continuous screen stream is appended to a video
// writer, sampled for the debug window and, at most every five seconds, sent to text recognition.
// Nothing in the application creates or starts a stream or writer, so this path stays idle; the
// periodic ScreenshotService is the capture the application uses. Lives on the main thread.
class CaptureEngine : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isCapturing READ isCapturing NOTIFY isCapturingChanged)
    // The description of the last error, or null.
    Q_PROPERTY(QVariant captureError READ captureErrorValue NOTIFY captureErrorChanged)

public:
    // Recognises one frame; calls the completion (on any thread) with the fragments and the
    // recording id it made up, or never when the frame holds no pixels or recognition failed.
    using FrameRecognizer
        = std::function<void(const QImage &frame, std::function<void(std::vector<OCRText>, QUuid)> completion)>;

    static constexpr double ocrInterval = 5.0;
    // Recognised text waits here until something stores it; beyond this many fragments the oldest
    // are dropped, so that a stream left running cannot exhaust memory.
    static constexpr size_t maxPendingOCRTexts = 1000;
    // Frames converted for the debug window that may wait at once; further frames skip the preview
    // until the conversion catches up.
    static constexpr size_t maxPendingDebugImages = 2;

    struct Components {
        CaptureBackend *backend = nullptr;
        // Frames go to `recognizeFrame` when set, else to `ocr` (one of the two is needed for text).
        OCRProcessor *ocr = nullptr;
        FrameRecognizer recognizeFrame;
        DebugManager *debug = nullptr;
        const Clock *clock = nullptr;
        // The writer of the current recording; absent while nothing records.
        VideoWriter *writer = nullptr;
    };

    // A recogniser that hands frames to the processor's fast recognition.
    static FrameRecognizer recognizerFor(OCRProcessor &processor);

    // Loads the preferences, then checks the capture permission from the event loop.
    explicit CaptureEngine(Components components, QObject *parent = nullptr);
    ~CaptureEngine() override;

    bool isCapturing() const { return m_isCapturing; }
    const std::optional<CaptureError> &captureError() const { return m_captureError; }
    QVariant captureErrorValue() const;
    const AppPreferences &preferences() const { return m_preferences; }
    VideoWriter *videoWriter() const { return m_components.writer; }
    std::optional<double> startTime() const { return m_startTime; }
    TimePoint lastOCRTime() const { return m_lastOCRTime; }
    const std::optional<QUuid> &currentRecordingId() const { return m_currentRecordingId; }
    // Oldest first, at most maxPendingOCRTexts.
    const std::deque<OCRText> &pendingOCRTexts() const { return m_pendingOCRTexts; }

    // Whoever starts a stream and writer turns this on; frames are ignored while it is off.
    void setCapturing(bool on);
    // A new writer begins a new session at its first frame.
    void setVideoWriter(VideoWriter *writer);

    // Asks the backend for the on-screen windows, desktop windows included. A failure is kept in
    // captureError; success changes nothing.
    QCoro::Task<> checkPermissions();

    // Handles one frame of the stream: writes it, samples it for the debug window, recognises its
    // text when ocrInterval has passed, and reports the handling time. Main thread.
    void processSampleBuffer(const VideoFrame &frame);

signals:
    void isCapturingChanged();
    void captureErrorChanged();
    // A frame's recognised text was added to pendingOCRTexts.
    void pendingOCRTextsChanged();

private:
    void performOCR(const VideoFrame &frame);
    void addRecognizedText(std::vector<OCRText> texts);
    void setCaptureError(std::optional<CaptureError> error);
    bool isDebugMode() const;

    Components m_components;
    bool m_isCapturing = false;
    std::optional<CaptureError> m_captureError;
    AppPreferences m_preferences;
    std::optional<double> m_startTime;
    TimePoint m_lastOCRTime;
    std::optional<QUuid> m_currentRecordingId;
    std::deque<OCRText> m_pendingOCRTexts;
    // Its tasks hold the engine only weakly, so they may finish after it is gone.
    SerialQueue m_imageProcessingQueue { QStringLiteral("com.pellux.imageprocessing") };
};

// Receives the stream's frames on any thread and hands each to the engine on the main thread, as
// long as the engine exists.
class CaptureStreamOutput final : public FrameSink {
public:
    explicit CaptureStreamOutput(CaptureEngine *engine)
        : m_captureEngine(engine)
    {
    }

    void stream(const VideoFrame &frame) override;

private:
    const QPointer<CaptureEngine> m_captureEngine;
};

} // namespace pellux
