// The thumbnail a captured frame keeps beside it when it gains by one: made at capture from the
// frame in hand, left alone by re-compression, and taken along by every way a screenshot leaves
// the store.
#include "imaging/DeltaTestImages.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "imaging/StoredScreenshotReader.h"
#include "imaging/Thumbnail.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/ListedRecordings.h"
#include "support/SampleHistory.h"
#include "ui/DayFrameCache.h"
#include "ui/ScreenshotLoader.h"

#include <QPainter>
#include <QRandomGenerator>

#include <qcorotask.h>

namespace pellux::test {
namespace {

// A photograph's grain with a dark or white patch: a frame that weighs its thumbnail many times over.
QImage photoFrame(int edited)
{
    QImage frame(1920, 1200, QImage::Format_RGB32);
    QRandomGenerator noise(11);
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, noise.generate() | 0xff000000u);
    }
    QPainter(&frame).fillRect(QRect(40, 40, 400, 200), edited ? Qt::white : Qt::black);
    return frame;
}

TEST(Thumbnails, FramesThatGainByOneKeepItReCompressionLeavesItAndEveryDeletionTakesIt)
{
    CapturePipeline pipeline(std::make_unique<FakeTextRecognizer>());
    pipeline.makeService();
    captureSampleHistory(pipeline);
    pipeline.backend.addWindow(
        FakeCaptureBackend::window(3, QRectF(0, 0, 1920, 1200), QStringLiteral("trip.jpg"), QStringLiteral("Photos")),
        photoFrame(0));
    for (int edited : { 0, 1 }) {
        pipeline.backend.setFrame(3, photoFrame(edited));
        pipeline.clock.advance(60);
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
    }
    pipeline.settle();
    std::vector<Recording> listed = listedRecordings(*pipeline.storage);
    ASSERT_GE(listed.size(), 6u);
    StoredScreenshotReader reader(StoredScreenshotReader::databaseLookup(*pipeline.database), 0);
    const auto loader = std::make_shared<ScreenshotLoader>(ScreenshotLoader::databaseLookup(*pipeline.database));
    std::map<std::pair<bool, bool>, int> seen; // (photo, delta) -> screenshots
    for (const Recording &r : listed) {
        const QString path = thumbnail::pathFor(r.localPath());
        SCOPED_TRACE(path.toStdString());
        const bool photo = r.appName == QStringLiteral("Photos");
        const bool delta = readAll(r.localPath()).startsWith("DLTA");
        ++seen[{ photo, delta }];
        const QImage frame = reader.read(r.localPath(), QSize());
        const QImage expected = thumbnail::reduce(frame);
        if (!photo) {
            // A text window's frames, whole and delta, are lighter than a lossy thumbnail twelvefold:
            // they keep none, and a card and the day view read the frame itself (a delta's rebuilt
            // from its chain), writing none.
            EXPECT_FALSE(QFileInfo::exists(path));
            EXPECT_EQ(loader->load(r.localPath(), expected.size()).size(), expected.size());
            DayFrameCache day(loader);
            QSignalSpy ready(&day, &DayFrameCache::frameReady);
            day.reset({ r.localPath() });
            day.prefetch(0, 0);
            ASSERT_TRUE(ready.wait(10'000));
            ASSERT_EQ(day.frame(0).size(), expected.size());
            EXPECT_LT(meanDifference(day.frame(0), expected, expected.rect()), 2.0);
            EXPECT_FALSE(QFileInfo::exists(path));
            continue;
        }
        const QByteArray bytes = readAll(path);
        ASSERT_TRUE(isWebPData(bytes));
        EXPECT_EQ(modeOf(path), 0600);
        // The whole frame reduced.
        const QImage kept = decodeImage(bytes);
        ASSERT_EQ(kept.size(), expected.size());
        EXPECT_EQ(std::max(kept.width(), kept.height()), thumbnail::kLongerSide);
        EXPECT_LT(meanDifference(kept, expected, kept.rect()), 12.0);
    }
    EXPECT_EQ(seen,
        (std::map<std::pair<bool, bool>, int> {
            { { false, false }, 3 }, { { false, true }, 2 }, { { true, false }, 2 } }));
    EXPECT_TRUE(thumbnail::worthKeeping(9000, 108000));
    EXPECT_FALSE(thumbnail::worthKeeping(9000, 107999));
    EXPECT_FALSE(thumbnail::worthKeeping(0, 108000));
    EXPECT_FALSE(thumbnail::mayBeWorthKeeping(12 * 1024 - 1));

    // The thumbnails kept so far: a deletion takes those of its screenshots, and only those.
    QSet<QString> kept;
    const auto keep = [&kept](const std::vector<Recording> &recordings) {
        for (const Recording &r : recordings) {
            if (QFileInfo::exists(thumbnail::pathFor(r.localPath())))
                kept.insert(thumbnail::pathFor(r.localPath()));
        }
    };
    const auto thumbnailsOf = [&kept](const std::vector<Recording> &recordings) {
        QStringList paths;
        for (const Recording &r : recordings) {
            if (kept.contains(thumbnail::pathFor(r.localPath())))
                paths << thumbnail::pathFor(r.localPath());
        }
        paths.sort();
        return paths;
    };
    keep(listed);
    // A re-compression pass over frames two months old, with its clean-up of stray files, leaves
    // every thumbnail as it was.
    QMap<QString, QByteArray> before;
    for (const QString &path : kept)
        before.insert(path, readAll(path));
    FakeClock later(fromSecondsSince1970(secondsSince1970(pipeline.clock.now()) + 60 * 86400.0));
    ScreenshotOptimizationService recompression(
        pipeline.storage->screenshotsDirectory(), {}, later, ScreenshotOptimizationService::Schedule::manual);
    QCoro::waitFor(recompression.optimizeOldScreenshots());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(readAll(it.key()), it.value()) << it.key().toStdString();

    // One screenshot the user chose, then by age, then everything (as a reset does): each takes
    // its thumbnails, and only its own.
    const auto thumbnailsLeft = [&] {
        QStringList left;
        QDirIterator it(pipeline.storage->screenshotsDirectory(), { QStringLiteral("*.thumb") }, QDir::Files,
            QDirIterator::Subdirectories);
        while (it.hasNext())
            left << it.next();
        left.sort();
        return left;
    };
    ASSERT_TRUE(QCoro::waitFor(pipeline.storage->deleteScreenshot(listed.back())));
    listed = listedRecordings(*pipeline.storage);
    EXPECT_EQ(thumbnailsLeft(), thumbnailsOf(listed));

    pipeline.clock.advance(3 * 86400.0);
    pipeline.backend.setFrame(1, CapturePipeline::textFrame(QStringLiteral("a later frame")));
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.settle();
    keep(listedRecordings(*pipeline.storage));
    QSignalSpy deleted(pipeline.storage.get(), &StorageManager::recordingsDeleted);
    pipeline.storage->deleteOldRecordings(1);
    ASSERT_TRUE(deleted.wait(10000));
    listed = listedRecordings(*pipeline.storage);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(thumbnailsLeft(), thumbnailsOf(listed));

    ASSERT_TRUE(QCoro::waitFor(pipeline.storage->deleteAllRecordings()));
    EXPECT_TRUE(thumbnailsLeft().isEmpty());
}

} // namespace
} // namespace pellux::test
