#pragma once

#include "capture/CaptureBackend.h"
#include "persistence/AppPreferences.h"
#include "persistence/Recording.h"
#include "runtime/Clock.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLoggingCategory>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QUuid>

#include <qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace pellux {

class ActivityMonitor;
class DebugManager;
class ImageOptimizer;
class OCRProcessor;
class OwedTextWalk;
class RecognitionMemory;
class SerialQueue;
struct PreviousFrame;
class SimpleDatabaseManager;
class StorageManager;

// The capture service's own log lines ("com.pellux.ScreenshotService"): info for progress, critical
// for failures.
Q_DECLARE_LOGGING_CATEGORY(screenshotServiceLog)

// The capture loop. While capture is on, a one-shot timer wakes it at the current interval; each
// cycle enumerates the windows, captures the eligible ones one at a time, drops frames that have
// not changed, and sends the rest through optimisation, storage and text recognition. Lives on the
// main thread; the heavy work of each step runs on worker threads and is awaited.
class ScreenshotService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isCapturing READ isCapturing NOTIFY isCapturingChanged)
    Q_PROPERTY(int captureCount READ captureCount NOTIFY captureCountChanged)

public:
    // A frame whose difference from the window's last stored frame is at most this is unchanged.
    static constexpr double changeThreshold = 0.02;
    // Text recognition runs only when the processor has nothing else to do: at most this many
    // stored frames wait in memory for their text. Beyond them a frame stays stored and owed its
    // text, and is read back from its file and recognised once the ones in memory are done, so that
    // capture never waits, memory stays bounded and no text is dropped.
    static constexpr int maxPendingRecognitions = 3;
    static constexpr double initialInterval = 5.0;

    // Windows of these owners are never captured.
    static const QStringList &excludedOwnerNames();
    // Whether an enumerated window is one the capture cycle takes: on screen and larger than 50
    // points each way.
    static bool isCaptureCandidate(const WindowDescription &window);

    // The components one service drives; the application's come from its composition root.
    struct Components {
        CaptureBackend *backend = nullptr;
        ImageOptimizer *optimizer = nullptr;
        StorageManager *storage = nullptr;
        OCRProcessor *ocr = nullptr;
        SimpleDatabaseManager *database = nullptr;
        DebugManager *debug = nullptr;
        // Asked for only when a dynamic interval is needed, so the monitor starts watching then.
        std::function<ActivityMonitor &()> activityMonitor;
        const Clock *clock = nullptr;
    };

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static ScreenshotService &shared();

    // Loads the preferences and enumerates the windows once, from the event loop.
    explicit ScreenshotService(Components components, QObject *parent = nullptr);
    ~ScreenshotService() override;

    bool isCapturing() const { return m_isCapturing; }
    int captureCount() const { return m_captureCount; }
    double currentInterval() const { return m_currentInterval; }
    const AppPreferences &preferences() const { return m_preferences; }
    // The eligible windows of the last enumeration.
    const std::vector<WindowDescription> &windows() const { return m_windows; }
    bool hasAvailableContent() const { return m_availableContent.has_value(); }
    // The interval the pending cycle follows the last one at, when one is pending.
    std::optional<double> pendingCaptureInterval() const;
    bool isCycleRunning() const { return m_cycleRunning; }
    // Whether a stored frame of the window is kept for change detection.
    bool hasCachedFrame(quint32 windowID) const;
    // Screenshots were deleted (all, by age or one): every window's last stored frame may be gone,
    // so the next cycle stores each window whole instead of skipping it as unchanged or storing a
    // delta of a frame that no longer exists.
    void forgetStoredFrames();
    // The recognised text of the window's last stored frame, once its recognition has finished.
    std::optional<std::vector<OCRText>> rememberedText(quint32 windowID) const;
    // Since construction: frames the store could not save, and stored frames whose recognised
    // text could not be saved.
    int framesNotStored() const { return m_framesNotStored; }
    int framesNotIndexed() const { return m_framesNotIndexed; }
    // Stored frames whose text recognition failed (no model, an engine error): still owed their
    // text, which healing recognises later.
    int framesNotRecognized() const { return m_framesNotRecognized; }
    int pendingRecognitions() const { return m_pendingRecognitions; }
    // Stored frames of this process still owed their text, which wait on disk for a free core.
    int owedRecognitions() const { return m_owedRecognitions; }
    // How many times stopCapturing() was called; a start that began before a stop must not win.
    quint64 stopCount() const { return m_stopCount; }

    // Turns capture on (no effect when it is on). The first cycle runs one interval later. A stop
    // made while it enumerates the windows wins: capture then stays off.
    QCoro::Task<> startCapturing();
    // Turns capture off; a cycle in progress finishes its windows and does not re-arm.
    void stopCapturing();
    // A new activity-driven interval; applied only while capturing and when it differs by at least
    // half a second. The pending cycle moves to the new interval counted from when it was
    // scheduled, never further away, so that level changes in quick succession cannot put capture
    // off.
    QCoro::Task<> updateCaptureInterval(double interval);
    // Reloads the preferences; while capturing, stops and starts again so they take effect.
    void refreshPreferences();
    // Reloads the preferences without a restart: what the next cycle reads (the excluded
    // applications) applies from that cycle on; the interval keeps its value until the next start.
    void reloadPreferences();
    // One cycle over all windows now, independent of the timer.
    QCoro::Task<> captureTestScreenshot();
    // The action of the capture timer: one cycle, then the next wake-up. Public so that a caller
    // can run a cycle without waiting for the timer.
    QCoro::Task<> runCaptureCycle();

    // On battery, text recognition waits until the user is away (the activity level is idle: no
    // input for a minute) or the machine is on mains power again; frames stay owed their text
    // meanwhile, on disk.
    void setOnBattery(bool onBattery);
    bool recognitionDeferred() const;

    // Off: frames are stored without their text (for measuring what recognition costs).
    void setTextRecognitionEnabled(bool on) { m_textRecognitionEnabled = on; }

    // Makes a cycle in progress stop after the window it is working on (for a clean shutdown).
    void abandonCycle() { m_abandonCycle = true; }
    // Waits until every stored frame has its text (or the timeout passes); the number of frames
    // still waiting, in memory or on disk.
    QCoro::Task<int> waitForRecognitions(std::chrono::milliseconds timeout);
    // Waits until no cycle is in progress.
    QCoro::Task<> waitForCycle();

signals:
    void isCapturingChanged();
    void captureCountChanged();
    void cycleFinished();
    void recognitionFinished();
    void recognitionDeferredChanged();

private:
    QCoro::Task<> refreshAvailableContent();
    void scheduleNextCapture();
    void armTimer(double interval);
    QCoro::Task<> captureAllWindows();
    QCoro::Task<> captureWindowScreenshot(WindowDescription window, TimePoint timestamp);
    QCoro::Task<> processWindowScreenshot(
        QImage image, WindowDescription window, QString appName, QString windowTitle, TimePoint timestamp);
    // `storedSize`: the size the frame was stored at, which the words' boxes are given in.
    void recognizeText(const QImage &image, const QUuid &recordingId, QSize storedSize, const QString &appName,
        TimePoint timestamp, std::optional<PreviousFrame> previous, std::shared_ptr<RecognitionMemory> remember);
    enum class TextOutcome { saved, notSaved, notRecognized };
    void recognitionDone(TextOutcome outcome);
    // A stored frame left for later: no room in memory.
    void leaveTextOwed(const Recording &recording);
    // Recognises the owed frames from their files once the frames in memory are done.
    QCoro::Task<> recognizeOwedFrames();
    void walkOwedFramesWhenFree();
    // Battery or activity changed: tells the views, and lets owed frames be recognised when allowed.
    void updateRecognitionDeferral();
    void setCapturing(bool on);
    void announceCapturing(bool on);
    ActivityMonitor &activityMonitor();
    double activityInterval();

    Components m_components;
    bool m_isCapturing = false;
    quint64 m_stopCount = 0;
    int m_captureCount = 0;
    QTimer m_timer;
    QElapsedTimer m_timerArmed; // since the pending cycle was scheduled
    double m_armedInterval = 0;
    AppPreferences m_preferences;
    double m_currentInterval = initialInterval;
    std::optional<ShareableContent> m_availableContent;
    std::vector<WindowDescription> m_windows;
    // A window's last stored frame: what change detection compares with and what its next delta
    // is made against. Replaced only after the store has saved a newer frame (file, list entry and
    // row), so that a failed save is retried on the next cycle and no delta builds on a frame that
    // is not stored. Its text arrives once its recognition finishes; the window's next frame, when
    // stored as a changed-region delta of it, then has only its changed lines recognised.
    struct WindowFrameState {
        QImage image;
        QString imageHash; // the stored hash, also the perceptual hash change detection compares
        std::shared_ptr<RecognitionMemory> text;
        // The stored bytes of the whole frame its delta chain starts from (its own when whole).
        qint64 chainStartBytes = 0;
    };
    std::unordered_map<quint32, WindowFrameState> m_windowFrames;
    // Counts forgetStoredFrames: a frame whose save began before one is not committed.
    quint64 m_storedFramesGeneration = 0;
    int m_framesNotStored = 0;
    int m_framesNotIndexed = 0;
    int m_framesNotRecognized = 0;

    bool m_cycleRunning = false;
    bool m_abandonCycle = false;
    int m_pendingRecognitions = 0;
    // The frames in memory waiting for their text: a walk over the owed ones leaves them alone.
    QSet<QUuid> m_recognizing;
    int m_owedRecognitions = 0;
    // The capture time of the first frame owed since the last walk over them began.
    std::optional<TimePoint> m_owedFrom;
    bool m_walkingOwed = false;
    bool m_onBattery = false;
    bool m_recognitionDeferred = false;
    std::unique_ptr<SerialQueue> m_owedFiles;
    std::unique_ptr<OwedTextWalk> m_owedWalk;
    // Windows of the cycle in progress whose frame differed from their last stored one.
    int m_changedWindows = 0;
    bool m_monitorConnected = false;
    bool m_textRecognitionEnabled = true;
};

} // namespace pellux
