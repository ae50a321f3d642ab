#include "imaging/DeltaTestImages.h"
#include "support/ImageEncoder.h"
#include "support/TempHome.h"

#include "imaging/DeltaFrameProcessor.h"
#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "ocr/TextLineDetector.h"
#include "persistence/SimpleDatabaseManager.h"

#include <QPainter>
#include <QUrl>

#include <qcorotask.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace pellux;
using namespace pellux::test;

namespace {

// An optimiser wired to real collaborators of its own: a database in a private home and a
// delta-frame processor. Counts how often each is asked.
class Pipeline : public ::testing::Test {
protected:
    Pipeline()
    {
        optimizer.setTextLineDetector(detectTextLines);
        optimizer.setDuplicateLookup([this](const QString &hash, std::function<void(std::optional<QString>)> done) {
            ++lookups;
            database.getScreenshotByHash(hash, std::move(done));
        });
        optimizer.setDeltaFrameStage(
            [this](QImage current, QImage previous, QString windowID, QString hash) {
                ++deltaAttempts;
                return delta.processDeltaFrame(
                    std::move(current), std::move(previous), std::move(windowID), std::move(hash));
            },
            [](const QImage &bitmap, const std::vector<QRect> &regions) {
                return DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), bitmap, regions);
            },
            [this](const PendingReference &reference) { delta.commitReference(reference); });
    }

    // Optimises the frame and, as after a successful store, commits what it leaves for later frames.
    OptimizationResult optimize(const QImage &image, std::optional<QString> previousHash = std::nullopt,
        std::optional<QImage> previousImage = std::nullopt, std::optional<QString> windowID = std::nullopt)
    {
        OptimizationResult result = QCoro::waitFor(optimizer.optimizeScreenshot(
            image, QStringLiteral("bash"), QStringLiteral("XTerm"), previousHash, previousImage, windowID));
        if (result.shouldStore && result.optimizedData)
            optimizer.commitStoredFrame(result);
        return result;
    }

    void storeRecording(const QString &hash, const QString &path)
    {
        Recording recording;
        recording.id = QUuid::createUuid();
        recording.timestamp = Clock::system().now();
        recording.filePath = QUrl::fromLocalFile(path);
        recording.imageHash = hash;
        database.saveRecordingWithDeltaFrame(recording, hash, 1234, false, std::nullopt, 2.0);
        database.waitUntilIdle();
    }

    TempHome home;
    SimpleDatabaseManager database;
    DeltaFrameProcessor delta { test::imageEncoder() };
    ImageOptimizer optimizer;
    int lookups = 0;
    int deltaAttempts = 0;
    const QImage frame = desktopFrame();
};

} // namespace

TEST_F(Pipeline, FrameEqualToThePreviousOneIsDroppedWithoutAskingTheDatabase)
{
    const QString hash = ImageOptimizer::perceptualHash(frame);
    const OptimizationResult result = optimize(frame, hash, frame, QStringLiteral("42"));
    EXPECT_FALSE(result.shouldStore);
    EXPECT_FALSE(result.optimizedData);
    EXPECT_EQ(result.imageHash, hash);
    EXPECT_EQ(result.duplicateOf, hash);
    EXPECT_DOUBLE_EQ(result.compressionRatio, 1.0);
    EXPECT_FALSE(result.isDeltaFrame);
    EXPECT_EQ(lookups, 0);
    EXPECT_EQ(deltaAttempts, 0);
}

TEST_F(Pipeline, FrameAlreadyInTheDatabaseIsADuplicateOfThatFile)
{
    const QString hash = ImageOptimizer::perceptualHash(frame);
    storeRecording(hash, home.pelluxFolder() + QStringLiteral("/Screenshots/earlier.webp"));
    const OptimizationResult result = optimize(frame, QStringLiteral("something else"));
    EXPECT_FALSE(result.shouldStore);
    EXPECT_EQ(result.duplicateOf, home.pelluxFolder() + QStringLiteral("/Screenshots/earlier.webp"));
    EXPECT_DOUBLE_EQ(result.compressionRatio, 1.0);
    EXPECT_EQ(lookups, 1);
}

TEST_F(Pipeline, ALookupThatNeverAnswersCountsAsNoDuplicate)
{
    optimizer.setDuplicateLookup([](const QString &, std::function<void(std::optional<QString>)> done) {
        auto dropped = std::move(done); // never called
    });
    const OptimizationResult result = optimize(frame);
    EXPECT_TRUE(result.shouldStore);
    EXPECT_TRUE(result.optimizedData);
}

TEST_F(Pipeline, NewFrameWithoutHistoryIsStoredInFullAsWebP)
{
    const OptimizationResult result = optimize(frame);
    ASSERT_TRUE(result.shouldStore);
    ASSERT_TRUE(result.optimizedData);
    EXPECT_TRUE(result.optimizedData->startsWith("RIFF"));
    EXPECT_FALSE(result.isDeltaFrame);
    EXPECT_FALSE(result.referenceHash);
    EXPECT_FALSE(result.duplicateOf);
    EXPECT_DOUBLE_EQ(
        result.compressionRatio, double(tiffRepresentationSize(frame)) / double(result.optimizedData->size()));
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(deltaAttempts, 0);

    // A terminal window is text and is stored at full size. (The whole desktop is classified on
    // a 960-pixel copy, where its small text is not found.)
    const OptimizationResult window = optimize(frame.copy(0, 0, 805, 790));
    ASSERT_TRUE(window.optimizedData);
    EXPECT_EQ(decodeImage(*window.optimizedData).width(), 805);
}

TEST_F(Pipeline, ChangedRegionDeltaNeedsBothPreviousImageAndWindow)
{
    const QImage typed = withTypedLine(frame, QStringLiteral("$ ls"));
    optimize(typed, std::nullopt, frame, std::nullopt);
    optimize(typed, std::nullopt, std::nullopt, QStringLiteral("7"));
    EXPECT_EQ(deltaAttempts, 0);

    // The window's first frame becomes its reference; the next small change is a delta on it.
    const OptimizationResult first
        = optimize(frame, std::nullopt, solidImage(1920, 1080, Qt::black), QStringLiteral("7"));
    EXPECT_FALSE(first.isDeltaFrame);
    ASSERT_TRUE(first.optimizedData);
    const QImage second = withTypedLine(frame, QStringLiteral("$ make"));
    const OptimizationResult result = optimize(second, first.imageHash, frame, QStringLiteral("7"));
    EXPECT_EQ(deltaAttempts, 2);
    ASSERT_TRUE(result.shouldStore);
    EXPECT_TRUE(result.isDeltaFrame);
    ASSERT_TRUE(result.deltaFrame);
    EXPECT_EQ(result.referenceHash, first.imageHash);
    EXPECT_EQ(result.optimizedData, result.deltaFrame->data);
    EXPECT_DOUBLE_EQ(result.compressionRatio, result.deltaFrame->compressionRatio);
}

TEST_F(Pipeline, BlockDeltaNamesTheScreenshotItCompletes)
{
    const OptimizationResult first = optimize(frame);
    ASSERT_TRUE(first.optimizedData);
    const QImage typed = withTypedLine(frame, QStringLiteral("$ git status"));
    const OptimizationResult result = optimize(typed);

    ASSERT_TRUE(result.shouldStore);
    ASSERT_TRUE(result.optimizedData);
    EXPECT_TRUE(result.isDeltaFrame);
    EXPECT_FALSE(result.deltaFrame);
    EXPECT_EQ(result.referenceHash, first.imageHash);
    EXPECT_GT(result.compressionRatio, 100.0);

    // Only the blocks the typed line touched are stored, where they are in the frame...
    const auto container = DeltaFrameReader::parse(*result.optimizedData);
    ASSERT_TRUE(container);
    ASSERT_FALSE(container->entries.isEmpty());
    for (const auto &entry : container->entries) {
        EXPECT_EQ(entry.rect.x() % 64, 0);
        EXPECT_EQ(entry.rect.y() % 64, 0);
        EXPECT_TRUE(entry.rect.intersects(QRect(40, 584, 220, 22)));
    }
    // ...so that they complete the named screenshot into the new one.
    const auto rebuilt = DeltaFrameReader::applyDelta(frame, *container);
    ASSERT_TRUE(rebuilt);
    EXPECT_LT(ImageOptimizer::imageDifference(*rebuilt, typed), 0.002);
    EXPECT_LT(ImageOptimizer::imageDifference(*rebuilt, typed), ImageOptimizer::imageDifference(frame, typed));
}

TEST(BlockDelta, NamesTheStoredHashOfTheMatchedFrameWhateverItsPixelFormat)
{
    for (const QImage::Format format : { QImage::Format_RGB888, QImage::Format_RGB32, QImage::Format_ARGB32 }) {
        ImageOptimizer optimizer;
        optimizer.setDeltaFrameStage({}, [](const QImage &bitmap, const std::vector<QRect> &regions) {
            return DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), bitmap, regions);
        });
        const auto optimize = [&](const QImage &image) {
            OptimizationResult result = QCoro::waitFor(optimizer.optimizeScreenshot(
                image, QStringLiteral("bash"), QStringLiteral("XTerm"), std::nullopt, std::nullopt, std::nullopt));
            optimizer.commitStoredFrame(result);
            return result;
        };
        const QImage first = desktopFrame().convertToFormat(format);
        const OptimizationResult stored = optimize(first);
        const OptimizationResult result
            = optimize(withTypedLine(first, QStringLiteral("$ git status")).convertToFormat(format));
        ASSERT_TRUE(result.isDeltaFrame) << format;
        EXPECT_EQ(result.referenceHash, stored.imageHash) << format;
    }
}

TEST(BlockDelta, IsNeverMadeAgainstAFrameOfAnotherSize)
{
    ImageOptimizer optimizer;
    optimizer.setDeltaFrameStage({}, [](const QImage &bitmap, const std::vector<QRect> &regions) {
        return DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), bitmap, regions);
    });
    const auto optimize = [&](const QImage &image) {
        OptimizationResult result = QCoro::waitFor(optimizer.optimizeScreenshot(
            image, QStringLiteral("bash"), QStringLiteral("XTerm"), std::nullopt, std::nullopt, std::nullopt));
        optimizer.commitStoredFrame(result);
        return result;
    };
    const QImage large = desktopFrame().copy(0, 0, 1000, 600);
    optimize(large);
    const OptimizationResult crop = optimize(large.copy(0, 0, 900, 600));
    EXPECT_FALSE(crop.isDeltaFrame);
    EXPECT_FALSE(crop.referenceHash);
    ASSERT_TRUE(crop.optimizedData);
    EXPECT_FALSE(DeltaFrameReader::isDeltaContainer(*crop.optimizedData));
}

TEST_F(Pipeline, AFrameThatWasNotStoredLeavesNothingForLaterFramesToBuildOn)
{
    // Neither its block grid nor, as a full frame of a window, its delta reference.
    const OptimizationResult unsaved = QCoro::waitFor(optimizer.optimizeScreenshot(
        frame, QStringLiteral("bash"), QStringLiteral("XTerm"), std::nullopt, std::nullopt, std::nullopt));
    ASSERT_TRUE(unsaved.optimizedData && unsaved.pendingBlockHashes);
    EXPECT_FALSE(optimizer.isBlockHashCached(unsaved.imageHash));
    const QImage typed = withTypedLine(frame, QStringLiteral("$ git status"));
    const OptimizationResult next = optimize(typed);
    EXPECT_FALSE(next.isDeltaFrame);
    EXPECT_FALSE(next.referenceHash);

    QImage changed = frame;
    QPainter(&changed).fillRect(QRect(0, 0, 1100, 700), QColor(200, 40, 40));
    const OptimizationResult full = QCoro::waitFor(optimizer.optimizeScreenshot(
        changed, QStringLiteral("bash"), QStringLiteral("XTerm"), std::nullopt, frame, QStringLiteral("7")));
    ASSERT_TRUE(full.pendingReference);
    EXPECT_FALSE(full.isDeltaFrame);
    EXPECT_FALSE(delta.referenceFrame(QStringLiteral("7")));
    optimizer.commitStoredFrame(full);
    ASSERT_TRUE(delta.referenceFrame(QStringLiteral("7")));
    EXPECT_EQ(delta.referenceFrame(QStringLiteral("7"))->hash, full.imageHash);
    EXPECT_EQ(delta.referenceFrame(QStringLiteral("7"))->fullImageData, *full.optimizedData);
}

TEST_F(Pipeline, BlockMatchOfExactlySeventyPercentIsNotUsed)
{
    const std::vector<int> levels { 10, 30, 50, 70, 90, 110, 130, 150, 170, 190 };
    optimize(blockStrip(levels));
    std::vector<int> changed = levels;
    changed[0] = changed[1] = changed[2] = 250;
    const OptimizationResult result = optimize(blockStrip(changed));
    EXPECT_FALSE(result.isDeltaFrame);
    ASSERT_TRUE(result.optimizedData);
    EXPECT_TRUE(result.optimizedData->startsWith("RIFF"));
}

TEST_F(Pipeline, ImagesWithNothingToStoreFailCleanly)
{
    const OptimizationResult empty = optimize(QImage());
    EXPECT_TRUE(empty.shouldStore);
    EXPECT_FALSE(empty.optimizedData);
    EXPECT_EQ(empty.imageHash.size(), 36);
    EXPECT_DOUBLE_EQ(empty.compressionRatio, 0.0);

    const OptimizationResult transparent = optimize(solidImage(300, 200, Qt::transparent, QImage::Format_ARGB32),
        std::nullopt, solidImage(300, 200, Qt::black), QStringLiteral("9"));
    EXPECT_TRUE(transparent.shouldStore);
    EXPECT_FALSE(transparent.optimizedData);
    EXPECT_EQ(deltaAttempts, 0);
    EXPECT_EQ(lookups, 0);

    for (const QSize size : { QSize(1, 1), QSize(1, 300), QSize(300, 1) }) {
        const OptimizationResult thin = optimize(solidImage(size.width(), size.height(), Qt::darkYellow), std::nullopt,
            solidImage(1, 1, Qt::black), QStringLiteral("9"));
        EXPECT_TRUE(thin.optimizedData) << size.width() << "x" << size.height();
    }
}
