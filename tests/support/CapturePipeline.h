#pragma once

#include "app/AppComponents.h"
#include "capture/ActivityMonitor.h"
#include "capture/ScreenshotService.h"
#include "diagnostics/DebugManager.h"
#include "imaging/DeltaFrameProcessor.h"
#include "imaging/ImageOptimizer.h"
#include "ocr/OCRProcessor.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "support/FakeCaptureBackend.h"
#include "support/FakeClock.h"

namespace pellux::test {

// The real capture pipeline (optimiser, store, database, text recognition, debug manager) as the
// application's composition root builds it, in a private home, fed by a fake capture backend, a fake
// activity source and a fake clock. Construct the service with makeService() after setting the
// preferences the test needs.
class CapturePipeline {
public:
    // Text is recognised by `recognizer`, or by Tesseract when none is given.
    explicit CapturePipeline(std::unique_ptr<TextRecognizer> recognizer = nullptr);
    ~CapturePipeline();

    // Saves the preferences to the private home, where the service loads them from.
    void savePreferences(const AppPreferences &preferences) { preferences.save(); }
    ScreenshotService &makeService();

    // Runs a task to completion, serving the event loop meanwhile.
    static void run(QCoro::Task<> task);
    // Waits until every stored frame has its text and the database has written it.
    void settle();

    // The text stored for a recording, if any.
    std::optional<QString> storedText(const QUuid &recordingId);

    // A window-sized frame showing the text in black on white.
    static QImage textFrame(const QString &text, int width = 640, int height = 200);
    static QImage blankFrame(int width = 640, int height = 200, QColor color = Qt::white)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(color);
        return image;
    }

    // The parts, owned by `components` (a test may swap one before makeService()); the service, owned
    // here, once makeService() built it.
    template <typename T> using Part = std::shared_ptr<T>;

    TempHome home;
    FakeClock clock;
    FakeActivitySource *activitySource = nullptr;
    AppComponents components;
    FakeCaptureBackend &backend;
    Part<SimpleDatabaseManager> database;
    Part<StorageManager> storage;
    Part<DeltaFrameProcessor> deltaFrames;
    Part<ImageOptimizer> optimizer;
    Part<OCRProcessor> ocr;
    Part<DebugManager> debug;
    Part<ActivityMonitor> monitor;
    Part<ScreenshotService> service;
};

} // namespace pellux::test
