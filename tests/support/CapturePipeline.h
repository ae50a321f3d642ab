#pragma once

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
#include "support/TempHome.h"

#include <QImage>
#include <QString>

#include <qcorotask.h>

#include <memory>
#include <optional>

namespace pellux::test {

// The real capture pipeline (optimiser, store, database, text recognition, debug manager) in a
// private home, fed by a fake capture backend and a fake clock. Construct the service with
// makeService() after setting the preferences the test needs.
class CapturePipeline {
public:
    // Text is recognised by `recognizer`, or by Tesseract when none is given.
    explicit CapturePipeline(std::unique_ptr<TextRecognizer> recognizer = nullptr);
    ~CapturePipeline();

    // Saves the preferences to the private home, where the service loads them from.
    void savePreferences(const AppPreferences &preferences);
    ScreenshotService &makeService();

    // Runs a task to completion, serving the event loop meanwhile.
    static void run(QCoro::Task<> task);
    // Waits until every stored frame has its text and the database has written it.
    void settle();

    // The text stored for a recording, if any.
    std::optional<QString> storedText(const QUuid &recordingId);

    // A window-sized frame showing the text in black on white.
    static QImage textFrame(const QString &text, int width = 640, int height = 200);
    static QImage blankFrame(int width = 640, int height = 200, QColor color = Qt::white);

    TempHome home;
    FakeClock clock;
    FakeCaptureBackend backend;
    std::unique_ptr<SimpleDatabaseManager> database;
    std::unique_ptr<DatabaseRecordingIndex> index;
    std::unique_ptr<StorageManager> storage;
    std::unique_ptr<DeltaFrameProcessor> deltaFrames;
    std::unique_ptr<ImageOptimizer> optimizer;
    std::unique_ptr<OCRProcessor> ocr;
    std::unique_ptr<DebugManager> debug;
    FakeActivitySource *activitySource = nullptr;
    std::unique_ptr<ActivityMonitor> monitor;
    std::unique_ptr<ScreenshotService> service;
};

} // namespace pellux::test
