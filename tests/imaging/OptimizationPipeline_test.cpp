#include "imaging/DeltaTestImages.h"
#include "support/ImageEncoder.h"

#include "imaging/DeltaFrameProcessor.h"
#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "ocr/TextLineDetector.h"
#include "persistence/DatabaseTestSupport.h"

#include <qcorotask.h>

using namespace pellux;
using namespace pellux::test;

namespace {

// An optimiser wired to real collaborators of its own: a database in a private home and a
// delta-frame processor. Counts how often each is asked.
class Pipeline : public ::testing::Test {
protected:
    Pipeline() { rewire(); }

    // A fresh optimiser, with nothing cached.
    void rewire()
    {
        optimizer = std::make_unique<ImageOptimizer>();
        optimizer->setTextLineDetector(detectTextLines);
        optimizer->setDuplicateLookup([this](const QString &hash, std::function<void(std::optional<QString>)> done) {
            ++lookups;
            database.getScreenshotByHash(hash, std::move(done));
        });
        optimizer->setDeltaFrameStage(
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

    // Optimises the frame and, unless told it was not stored, commits what it leaves for later frames.
    OptimizationResult optimize(const QImage &image, std::optional<QString> previousHash = std::nullopt,
        std::optional<QImage> previousImage = std::nullopt, std::optional<QString> windowID = std::nullopt,
        bool stored = true)
    {
        OptimizationResult result = QCoro::waitFor(optimizer->optimizeScreenshot(
            image, QStringLiteral("bash"), QStringLiteral("XTerm"), previousHash, previousImage, windowID));
        if (stored && result.shouldStore && result.optimizedData)
            optimizer->commitStoredFrame(result);
        return result;
    }

    TempHome home;
    SimpleDatabaseManager database;
    DeltaFrameProcessor delta { test::imageEncoder() };
    std::unique_ptr<ImageOptimizer> optimizer;
    int lookups = 0;
    int deltaAttempts = 0;
    const QImage frame = desktopFrame();
};

} // namespace

TEST_F(Pipeline, FramesEqualToThePreviousOneOrInTheDatabaseAreDuplicates)
{
    // Equal to the previous frame: dropped without asking the database.
    const QString hash = ImageOptimizer::perceptualHash(frame);
    const OptimizationResult same = optimize(frame, hash, frame, QStringLiteral("42"));
    EXPECT_FALSE(same.shouldStore || same.optimizedData || same.isDeltaFrame);
    EXPECT_EQ(std::tuple(same.imageHash, same.duplicateOf, same.compressionRatio), std::tuple(hash, hash, 1.0));
    EXPECT_EQ(lookups + deltaAttempts, 0);

    ASSERT_TRUE(saveRecording(database, makeRecording(1, "/p/earlier.webp"), hash));
    const OptimizationResult stored = optimize(frame, QStringLiteral("something else"));
    EXPECT_EQ(std::tuple(stored.shouldStore, stored.duplicateOf, lookups),
        std::tuple(false, std::optional<QString>("/p/earlier.webp"), 1));

    // A lookup that never answers counts as no duplicate.
    optimizer->setDuplicateLookup([](const QString &, std::function<void(std::optional<QString>)> done) {
        auto dropped = std::move(done); // never called
    });
    EXPECT_TRUE(optimize(frame).optimizedData);
}

TEST_F(Pipeline, NewFrameWithoutHistoryIsStoredInFullAsWebP)
{
    const OptimizationResult result = optimize(frame);
    ASSERT_TRUE(result.shouldStore && result.optimizedData && result.optimizedData->startsWith("RIFF"));
    EXPECT_FALSE(result.isDeltaFrame || result.referenceHash || result.duplicateOf);
    EXPECT_DOUBLE_EQ(
        result.compressionRatio, double(tiffRepresentationSize(frame)) / double(result.optimizedData->size()));
    EXPECT_EQ(std::pair(lookups, deltaAttempts), std::pair(1, 0));

    // A terminal window is text and is stored at full size, every pixel kept. (The whole desktop is
    // classified on a 960-pixel copy, where its small text is not found.)
    const QImage terminal = frame.copy(0, 0, 805, 790);
    const QByteArray window = optimize(terminal).optimizedData.value_or("");
    EXPECT_TRUE(isLosslessWebP(window) && ImageOptimizer::imageDifference(decodeImage(window), terminal) == 0.0);
}

TEST_F(Pipeline, ChangedRegionDeltaNeedsBothPreviousImageAndWindowAndABlockDeltaNamesTheFrameItCompletes)
{
    const QImage typed = withTypedLine(frame, QStringLiteral("$ ls"));
    optimize(typed, std::nullopt, frame, std::nullopt);
    optimize(typed, std::nullopt, std::nullopt, QStringLiteral("7"));
    EXPECT_EQ(deltaAttempts, 0);

    // The window's first frame becomes its reference; the next small change is a delta on it.
    const OptimizationResult first
        = optimize(frame, std::nullopt, solidImage(1920, 1080, Qt::black), QStringLiteral("7"));
    ASSERT_TRUE(!first.isDeltaFrame && first.optimizedData);
    const OptimizationResult result
        = optimize(withTypedLine(frame, QStringLiteral("$ make")), first.imageHash, frame, QStringLiteral("7"));
    EXPECT_EQ(deltaAttempts, 2);
    ASSERT_TRUE(result.shouldStore && result.isDeltaFrame && result.deltaFrame);
    EXPECT_EQ(std::tuple(result.referenceHash, result.optimizedData, result.compressionRatio),
        std::tuple(std::optional(first.imageHash), std::optional(result.deltaFrame->data),
            result.deltaFrame->compressionRatio));

    // A block delta names the stored frame it completes, by the hash that frame was stored under,
    // whatever the pixel format. (How many blocks must match: the fingerprint tests.)
    for (const QImage::Format format : { QImage::Format_RGB888, QImage::Format_ARGB32, QImage::Format_RGB32 }) {
        SCOPED_TRACE(format);
        rewire();
        const QImage first = frame.convertToFormat(format);
        const OptimizationResult stored = optimize(first);
        const QImage typed = withTypedLine(first, QStringLiteral("$ git status")).convertToFormat(format);
        const OptimizationResult result = optimize(typed);
        ASSERT_TRUE(result.shouldStore && result.optimizedData && result.isDeltaFrame && !result.deltaFrame);
        EXPECT_EQ(result.referenceHash, stored.imageHash);
        EXPECT_GT(result.compressionRatio, 100.0);
        // Only the blocks the typed line touched are stored, where they are in the frame...
        const auto container = DeltaFrameReader::parse(*result.optimizedData);
        ASSERT_TRUE(container && !container->entries.isEmpty());
        for (const auto &entry : container->entries) {
            EXPECT_TRUE(entry.rect.x() % 64 == 0 && entry.rect.y() % 64 == 0);
            EXPECT_TRUE(entry.rect.intersects(QRect(40, 584, 220, 22)));
        }
        // ...so that they complete the named screenshot into the new one.
        EXPECT_LT(
            ImageOptimizer::imageDifference(DeltaFrameReader::applyDelta(frame, *container).value_or(QImage()), typed),
            0.002);
    }
}

TEST_F(Pipeline, ImagesWithNothingToStoreFailCleanlyAndFramesNotStoredLeaveNothingToBuildOn)
{
    const OptimizationResult empty = optimize(QImage());
    EXPECT_TRUE(empty.shouldStore && !empty.optimizedData && empty.compressionRatio == 0.0);
    const OptimizationResult transparent = optimize(solidImage(300, 200, Qt::transparent, QImage::Format_ARGB32),
        std::nullopt, solidImage(300, 200, Qt::black), QStringLiteral("9"));
    EXPECT_TRUE(transparent.shouldStore && !transparent.optimizedData);
    EXPECT_EQ(deltaAttempts + lookups, 0);

    for (const QSize size : { QSize(1, 1), QSize(1, 300), QSize(300, 1) })
        EXPECT_TRUE(optimize(solidImage(size.width(), size.height(), Qt::darkYellow), std::nullopt,
            solidImage(1, 1, Qt::black), QStringLiteral("9"))
                        .optimizedData)
            << size.width() << "x" << size.height();

    // A frame that was not stored leaves nothing for later frames to build on. (A window's full frame
    // not stored leaves no delta reference either: the capture service's tests.)
    const OptimizationResult unsaved = optimize(frame, std::nullopt, std::nullopt, std::nullopt, false);
    ASSERT_TRUE(unsaved.optimizedData && unsaved.pendingBlockHashes);
    EXPECT_FALSE(optimizer->isBlockHashCached(unsaved.imageHash));
    const OptimizationResult next = optimize(withTypedLine(frame, QStringLiteral("$ git status")));
    EXPECT_FALSE(next.isDeltaFrame || next.referenceHash);
}
