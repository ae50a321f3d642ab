#pragma once

#include "runtime/Clock.h"
#include "runtime/SharedInstance.h"

#include <functional>
#include <memory>
#include <optional>

namespace pellux {

class TextRecognizer;

class ActivityMonitor;
class ActivitySource;
class CaptureBackend;
class DatabaseRecordingIndex;
class DebugManager;
class DeltaFrameProcessor;
class BatteryMonitor;
class HealingSession;
class ImageOptimizer;
class OCRProcessor;
class RecordingTextLoader;
class ScreenshotOptimizationService;
class ScreenshotService;
class SimpleDatabaseManager;
class StorageManager;

// The composition root: builds every long-lived part of the program once, on first use, each after
// the parts it needs (database, store, recogniser, imaging, debug counters, capture backend,
// activity monitor, capture service, store healing), hands each its collaborators through its
// constructor, registers it for `X::shared()`, and destroys them in the reverse order. The tray
// application, `pellux capture` and `pellux ocr` each make one and ask only for what they use.
// Main thread.
class AppComponents {
public:
    // Platform parts, for tests; the session's own when absent.
    struct Options {
        std::function<std::unique_ptr<CaptureBackend>()> makeBackend;
        std::function<std::unique_ptr<ActivitySource>()> makeActivitySource;
        Clock *clock = nullptr;
        // The text recogniser; Tesseract when not given.
        std::function<std::unique_ptr<TextRecognizer>()> makeRecognizer;
    };

    AppComponents();
    explicit AppComponents(Options options);
    ~AppComponents();
    AppComponents(const AppComponents &) = delete;
    AppComponents &operator=(const AppComponents &) = delete;

    SimpleDatabaseManager &database();
    StorageManager &storage();
    OCRProcessor &textRecognition();
    ImageOptimizer &imageOptimizer();
    DeltaFrameProcessor &deltaFrames();
    // Re-compression of stored screenshots: a pass once built, then hourly.
    ScreenshotOptimizationService &recompression();
    DebugManager &debug();
    CaptureBackend &captureBackend();
    ActivityMonitor &activityMonitor();
    ScreenshotService &capture();
    HealingSession &healing();
    // A recording's text and word boxes, for the viewer (recognised again for older recordings).
    RecordingTextLoader &recordingTexts();

    // Whether a part was built (the teardown of a command touches only what it used).
    bool hasCapture() const { return m_capture.object != nullptr; }
    bool hasRecompression() const { return m_recompression.object != nullptr; }

    // Stops what still works in the background, in the reverse order of building: healing, the
    // re-compression pass (the file in hand is finished), the recogniser's queued work (dropped,
    // the one running finishes) and the database's writes (all reach the file). The destructor
    // does this too; after it nothing runs but what the event loop still holds.
    void stop();

private:
    // One built part and its registration as the shared instance.
    template <typename T> struct Part {
        std::unique_ptr<T> object;
        std::optional<typename SharedInstance<T>::Registration> registration;
        T &set(std::unique_ptr<T> built)
        {
            object = std::move(built);
            registration.emplace(*object);
            return *object;
        }
        void reset()
        {
            registration.reset();
            object.reset();
        }
    };

    Options m_options;
    Clock &m_clock;
    bool m_stopped = false;
    // In the order of building; destroyed in the reverse.
    Part<SimpleDatabaseManager> m_database;
    std::unique_ptr<DatabaseRecordingIndex> m_index;
    Part<StorageManager> m_storage;
    Part<OCRProcessor> m_ocr;
    Part<RecordingTextLoader> m_recordingTexts;
    Part<ImageOptimizer> m_imageOptimizer;
    Part<DeltaFrameProcessor> m_deltaFrames;
    Part<ScreenshotOptimizationService> m_recompression;
    Part<DebugManager> m_debug;
    Part<CaptureBackend> m_backend;
    Part<ActivityMonitor> m_activity;
    Part<ScreenshotService> m_capture;
    std::unique_ptr<BatteryMonitor> m_battery;
    std::unique_ptr<HealingSession> m_healing;
};

} // namespace pellux
