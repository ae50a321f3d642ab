// The composition root: each part built once and registered as the shared instance, the parts torn
// down in the reverse order of building, and the recogniser's queued work dropped at the end.
#include "app/AppComponents.h"
#include "capture/ScreenshotService.h"
#include "diagnostics/DebugManager.h"
#include "ocr/OCRProcessor.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/CompletionFuture.h"
#include "storage/StorageManager.h"
#include "support/CapturePipeline.h"

namespace pellux {
namespace {

using test::CapturePipeline;

TEST(AppComponents, EachPartIsBuiltOnceAndTornDownAfterWhatUsesIt)
{
    auto pipeline = std::make_unique<CapturePipeline>();
    AppComponents &components = pipeline->components;
    ScreenshotService &service = components.capture();
    EXPECT_EQ(&components.capture(), &service);
    EXPECT_EQ(&ScreenshotService::shared(), &service);
    EXPECT_EQ(&components.imageOptimizer(), pipeline->optimizer.get());
    EXPECT_EQ(&SimpleDatabaseManager::shared(), &components.database());
    EXPECT_EQ(&StorageManager::shared(), &components.storage());

    // What each part saw registered when it went: every part it uses was still there.
    QStringList gone;
    const auto note = [&](const char *name) {
        const auto up = [](bool found) { return QLatin1String(found ? "up" : "gone"); };
        gone << QStringLiteral("%1 (database %2, store %3, capture %4)")
                    .arg(QLatin1String(name), up(SharedInstance<SimpleDatabaseManager>::find()),
                        up(SharedInstance<StorageManager>::find()), up(SharedInstance<ScreenshotService>::find()));
    };
    QObject::connect(&service, &QObject::destroyed, [&] { note("capture"); });
    QObject::connect(&components.debug(), &QObject::destroyed, [&] { note("debug"); });
    QObject::connect(&components.storage(), &QObject::destroyed, [&] { note("store"); });
    pipeline.reset();
    EXPECT_EQ(gone.join(QStringLiteral("; ")).toStdString(),
        "capture (database up, store up, capture gone); debug (database up, store up, capture gone); "
        "store (database up, store gone, capture gone)");
    EXPECT_EQ(SharedInstance<SimpleDatabaseManager>::find(), nullptr);
}

TEST(AppComponents, RecognitionStillQueuedAtTheEndIsDroppedAndItsWaitersAnswered)
{
    auto pipeline = std::make_unique<CapturePipeline>();
    OCRProcessor &ocr = *pipeline->ocr;
    SerialQueue &queue = ocr.textRecognitionQueue();
    // The queue is busy until the root has dropped what waits behind.
    std::atomic<bool> open = false;
    queue.async([&] {
        while (!open)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::vector<QFuture<Recognition>> answers;
    for (int i = 0; i < 3; ++i) {
        auto [answer, completion]
            = completionFuture(Recognition(RecognitionFailure { RecognitionFailure::Kind::image, "dropped" }));
        ocr.processImage(
            CapturePipeline::textFrame(QStringLiteral("queued %1").arg(i)), std::nullopt, std::move(completion));
        answers.push_back(answer);
    }
    std::thread opener([&] {
        // Only the busy task left: the rest was dropped. (A fallback keeps a failing run from hanging.)
        for (int i = 0; i < 10'000 && queue.pendingCount() > 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        open = true;
    });
    pipeline.reset();
    opener.join();
    for (QFuture<Recognition> &answer : answers) {
        ASSERT_TRUE(answer.isFinished());
        // The failure value, not recognised text.
        ASSERT_FALSE(answer.result().ok());
        EXPECT_EQ(answer.result().failure().reason, "dropped");
    }
}

} // namespace
} // namespace pellux
