// The thumbnail each captured frame keeps beside it: made at capture from the frame in hand, left
// alone by re-compression, and taken along by every way a screenshot leaves the store.
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

namespace pellux::test {
namespace {

TEST(Thumbnails, EachCapturedFrameKeepsOneThatReCompressionLeavesAndEveryDeletionTakes)
{
    CapturePipeline pipeline(std::make_unique<FakeTextRecognizer>());
    pipeline.makeService();
    captureSampleHistory(pipeline);
    const std::vector<Recording> listed = listedRecordings(*pipeline.storage);
    ASSERT_GE(listed.size(), 4u);
    StoredScreenshotReader reader(StoredScreenshotReader::databaseLookup(*pipeline.database), 0);
    int deltas = 0;
    for (const Recording &r : listed) {
        const QString path = thumbnail::pathFor(r.localPath());
        SCOPED_TRACE(path.toStdString());
        const QByteArray bytes = readAll(path);
        ASSERT_TRUE(isWebPData(bytes));
        EXPECT_EQ(modeOf(path), 0600);
        // The whole frame reduced, a delta's too (made from the frame, not from the delta's bytes).
        const QImage frame = reader.read(r.localPath(), QSize());
        const QImage expected = thumbnail::reduce(frame);
        const QImage stored = decodeImage(bytes);
        ASSERT_EQ(stored.size(), expected.size());
        EXPECT_EQ(std::max(stored.width(), stored.height()),
            std::min(thumbnail::kLongerSide, std::max(frame.width(), frame.height())));
        EXPECT_LT(meanDifference(stored, expected, stored.rect()), 6.0);
        deltas += readAll(r.localPath()).startsWith("DLTA");
    }
    EXPECT_GT(deltas, 0);

    // A re-compression pass over frames two months old, with its clean-up of stray files, leaves
    // every thumbnail as it was.
    QMap<QString, QByteArray> before;
    for (const Recording &r : listed)
        before.insert(thumbnail::pathFor(r.localPath()), readAll(thumbnail::pathFor(r.localPath())));
    FakeClock later(fromSecondsSince1970(secondsSince1970(pipeline.clock.now()) + 60 * 86400.0));
    ScreenshotOptimizationService recompression(
        pipeline.storage->screenshotsDirectory(), {}, later, ScreenshotOptimizationService::Schedule::manual);
    QCoro::waitFor(recompression.optimizeOldScreenshots());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(readAll(it.key()), it.value()) << it.key().toStdString();

    // One screenshot the user chose, then by age, then everything (as a reset does): each takes
    // its thumbnails, and only its own.
    const auto expectThumbnailsOfTheListOnly = [&] {
        QStringList left, listedThumbnails;
        QDirIterator it(pipeline.storage->screenshotsDirectory(), { QStringLiteral("*.thumb") }, QDir::Files,
            QDirIterator::Subdirectories);
        while (it.hasNext())
            left << it.next();
        for (const Recording &r : listedRecordings(*pipeline.storage))
            listedThumbnails << thumbnail::pathFor(r.localPath());
        left.sort();
        listedThumbnails.sort();
        EXPECT_EQ(left, listedThumbnails);
        return listedThumbnails.size();
    };
    ASSERT_TRUE(QCoro::waitFor(pipeline.storage->deleteScreenshot(listed.back())));
    EXPECT_EQ(expectThumbnailsOfTheListOnly(), qsizetype(listed.size() - 1));

    pipeline.clock.advance(3 * 86400.0);
    pipeline.backend.setFrame(1, CapturePipeline::textFrame(QStringLiteral("a later frame")));
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.settle();
    const DeletionReport report = QCoro::waitFor(pipeline.storage->deleteOldRecordings(1));
    ASSERT_TRUE(report.ok && report.count > 0);
    EXPECT_GT(expectThumbnailsOfTheListOnly(), 0);

    ASSERT_TRUE(QCoro::waitFor(pipeline.storage->deleteAllRecordings()));
    EXPECT_EQ(expectThumbnailsOfTheListOnly(), 0);
}

} // namespace
} // namespace pellux::test
