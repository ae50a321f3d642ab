#include "imaging/DeltaTestImages.h"
#include "imaging/ImageOptimizer.h"
#include "support/ImageEncoder.h"

#include <qcorotask.h>

using namespace pellux;
using namespace pellux::test;

namespace {

bool isLowerHex(const QString &s, int length)
{
    return s.size() == length && QRegularExpression(QStringLiteral("^[0-9a-f]+$")).match(s).hasMatch();
}

QImage checkerboard(int cell)
{
    QImage image(16 * cell, 16 * cell, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, ((x / cell + y / cell) % 2) ? 0xffffffff : 0xff000000);
    return image;
}

} // namespace

TEST(PerceptualHash, IsSixtyFourHexDigitsOfWhatTheImageShowsAtAnySize)
{
    const QImage frame = desktopFrame();
    const QString hash = QCoro::waitFor(test::imageEncoder().generatePerceptualHash(frame));
    EXPECT_TRUE(isLowerHex(hash, 64)) << hash.toStdString();
    EXPECT_EQ(hash, ImageOptimizer::perceptualHash(frame.copy()));
    // The pixel format of the capture does not matter, only what it shows.
    EXPECT_EQ(hash, ImageOptimizer::perceptualHash(frame.convertToFormat(QImage::Format_ARGB32)));
    for (const QSize size : { QSize(1, 1), QSize(1, 700), QSize(700, 1) })
        EXPECT_TRUE(
            isLowerHex(ImageOptimizer::perceptualHash(solidImage(size.width(), size.height(), Qt::darkCyan)), 64));
    // The same picture at two sizes matches; one pixel changed does not.
    EXPECT_EQ(ImageOptimizer::perceptualHash(checkerboard(1)), ImageOptimizer::perceptualHash(checkerboard(4)));
    QImage touched = checkerboard(1);
    touched.setPixel(3, 3, 0xfffefefe);
    EXPECT_NE(ImageOptimizer::perceptualHash(checkerboard(1)), ImageOptimizer::perceptualHash(touched));
    // Images without pixels get a fresh UUID each time.
    EXPECT_FALSE(QUuid::fromString(ImageOptimizer::perceptualHash(QImage())).isNull());
    EXPECT_NE(ImageOptimizer::perceptualHash(QImage()), ImageOptimizer::perceptualHash(QImage()));
}

TEST(BlockGrid, EdgeBlocksAreNarrowerAndShorterAndOnlyGridsOfOneSizeCompare)
{
    QImage image(100, 130, QImage::Format_RGB32);
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 100; ++x)
            image.setPixel(x, y, qRgb(x * 2, y, (x * y) % 256));
    const auto grid = QCoro::waitFor(test::imageEncoder().generateBlockHashes(image));
    ASSERT_TRUE(grid);
    EXPECT_EQ(std::tuple(grid->blockSize, grid->width, grid->height), std::tuple(64, 100, 130));
    ASSERT_TRUE(grid->hashes.size() == 3u && grid->hashes[0].size() == 2u && grid->hashes[2].size() == 2u);
    EXPECT_TRUE(isLowerHex(grid->hashes[1][1], 16));
    EXPECT_EQ(grid->imageHash, ImageOptimizer::perceptualHash(image));
    // The bottom-right block is the 36 x 2 pixels at (64, 128), counted from the top-left corner.
    EXPECT_EQ(grid->hashes[2][1], ImageOptimizer::blockHash(image.copy(64, 128, 36, 2)));
    EXPECT_EQ(grid->hashes[0][0], ImageOptimizer::blockHash(image.copy(0, 0, 64, 64)));
    EXPECT_FALSE(ImageOptimizer::blockHashes(QImage()));

    BlockHashes fresh;
    fresh.width = 150;
    fresh.height = 100;
    fresh.hashes = { { "a", "b", "c" }, { "d", "e", "f" } };
    BlockHashes older = fresh;
    older.imageHash = QStringLiteral("older");
    older.hashes = { { "a", "x", "c" }, { "y", "e", "z" } };
    const BlockMatch match = ImageOptimizer::compareBlockHashes(fresh, older);
    EXPECT_EQ(match.totalBlocks, 6);
    EXPECT_EQ(match.matchingBlocks,
        (decltype(match.matchingBlocks) {
            BlockCoordinate { 0, 0 }, BlockCoordinate { 0, 2 }, BlockCoordinate { 1, 1 } }));
    EXPECT_DOUBLE_EQ(match.similarity, 0.5);
    EXPECT_EQ(match.referenceHash, QStringLiteral("older"));
    // Same block hashes, other frame size (the edge blocks differ in size): a delta on top of it
    // could not rebuild the frame.
    for (const QSize size : { QSize(140, 100), QSize(150, 90), QSize(150, 130) }) {
        BlockHashes resized = fresh;
        resized.width = size.width();
        resized.height = size.height();
        if (size.height() > 128)
            resized.hashes.push_back({ "g", "h", "i" });
        const BlockMatch other = ImageOptimizer::compareBlockHashes(fresh, resized);
        EXPECT_TRUE(other.matchingBlocks.empty() && other.similarity == 0.0) << size.width() << "x" << size.height();
    }
    BlockHashes empty;
    EXPECT_DOUBLE_EQ(ImageOptimizer::compareBlockHashes(empty, fresh).similarity, 0.0);
    empty.hashes = { {} };
    EXPECT_DOUBLE_EQ(ImageOptimizer::compareBlockHashes(fresh, empty).similarity, 0.0);
}

class PartialMatches : public ::testing::Test {
protected:
    std::optional<BlockMatch> find(const QImage &image)
    {
        return QCoro::waitFor(optimizer.findPartialMatches(image, 0.7));
    }
    QImage strip(std::initializer_list<std::pair<int, int>> changes) const
    {
        std::vector<int> levels = base;
        for (const auto &[block, level] : changes)
            levels[size_t(block)] = level;
        return blockStrip(levels);
    }
    ImageOptimizer optimizer;
    const std::vector<int> base { 10, 30, 50, 70, 90, 110, 130, 150, 170, 190 };
};

TEST_F(PartialMatches, SimilarityMustExceedTheThresholdInAFrameOfTheSameSize)
{
    EXPECT_FALSE(find(blockStrip(base)));
    EXPECT_FALSE(find(strip({ { 0, 250 }, { 1, 250 }, { 2, 250 } }))) << "exactly 0.7 is not a match";
    const auto match = find(strip({ { 8, 5 }, { 9, 5 } }));
    ASSERT_TRUE(match);
    EXPECT_DOUBLE_EQ(match->similarity, 0.8);
    EXPECT_EQ(match->referenceHash, ImageOptimizer::perceptualHash(blockStrip(base)));
    EXPECT_FALSE(match->matchingBlocks.count(BlockCoordinate { 0, 9 }));
    EXPECT_TRUE(match->matchingBlocks.count(BlockCoordinate { 0, 0 }));

    // A crop shares most blocks with the larger frame but could not be rebuilt on top of it.
    const QImage large = desktopFrame().copy(0, 0, 1000, 600);
    find(large);
    EXPECT_FALSE(find(large.copy(0, 0, 900, 600)));
    EXPECT_FALSE(find(large.copy(0, 0, 1000, 540)));
    const auto sameSize = find(withTypedLine(large, QStringLiteral("$ ls")));
    ASSERT_TRUE(sameSize);
    EXPECT_EQ(sameSize->referenceHash, ImageOptimizer::perceptualHash(large));
}

TEST_F(PartialMatches, OlderCandidateWinsATieAndAnImageNeverMatchesItself)
{
    const QImage left = strip({ { 0, 251 }, { 1, 251 } });
    find(left);
    find(strip({ { 8, 252 }, { 9, 252 } }));
    const auto match = find(blockStrip(base));
    ASSERT_TRUE(match);
    EXPECT_DOUBLE_EQ(match->similarity, 0.8);
    EXPECT_EQ(match->referenceHash, ImageOptimizer::perceptualHash(left));
    // Seen again, the same picture is not its own match; the nearest other one is.
    const auto again = find(left);
    ASSERT_TRUE(again);
    EXPECT_NE(again->referenceHash, ImageOptimizer::perceptualHash(left));
    EXPECT_EQ(optimizer.blockHashKeys().size(), 3u);
}

TEST_F(PartialMatches, CacheHoldsFiftyGridsEvictsTheOldestAndStaysConsistentUnderThreads)
{
    std::vector<QString> hashes;
    for (int i = 0; i < 51; ++i) {
        const QImage image = solidImage(64, 64, QColor(i * 5, i * 5, i * 5));
        hashes.push_back(ImageOptimizer::perceptualHash(image));
        find(image);
    }
    std::vector<QString> keys = optimizer.blockHashKeys();
    ASSERT_EQ(keys.size(), 50u);
    EXPECT_EQ(keys.front(), hashes[1]);
    EXPECT_EQ(keys.back(), hashes[50]);
    EXPECT_FALSE(optimizer.isBlockHashCached(hashes[0]));
    EXPECT_TRUE(optimizer.isBlockHashCached(hashes[1]));
    // Seeing the oldest listed image again keeps its place, so it is still the next to go.
    find(solidImage(64, 64, QColor(5, 5, 5)));
    EXPECT_EQ(optimizer.blockHashKeys().front(), hashes[1]);
    find(solidImage(64, 64, QColor(3, 3, 3)));
    EXPECT_FALSE(optimizer.isBlockHashCached(hashes[1]));
    EXPECT_GT(optimizer.blockHashCacheBytes(), 0u);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 20; ++i)
                optimizer.findPartialMatchesBlocking(solidImage(128, 64, QColor(t * 60, i * 12, 7)), 0.7);
        });
    }
    for (auto &thread : threads)
        thread.join();
    keys = optimizer.blockHashKeys();
    EXPECT_EQ(keys.size(), 50u);
    for (const QString &key : keys)
        EXPECT_TRUE(optimizer.isBlockHashCached(key));
}
