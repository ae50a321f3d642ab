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

TEST_F(PartialMatches, TheHashIsWhatTheImageShowsGridsOfOneSizeCompareAndSimilarityMustExceedTheThreshold)
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

    QImage image(100, 130, QImage::Format_RGB32);
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 100; ++x)
            image.setPixel(x, y, qRgb(x * 2, y, (x * y) % 256));
    const auto grid = QCoro::waitFor(test::imageEncoder().generateBlockHashes(image));
    ASSERT_TRUE(grid && grid->hashes.size() == 3u && grid->hashes[0].size() == 2u && grid->hashes[2].size() == 2u);
    EXPECT_EQ(std::tuple(grid->blockSize, grid->width, grid->height, grid->imageHash),
        std::tuple(64, 100, 130, ImageOptimizer::perceptualHash(image)));
    EXPECT_TRUE(isLowerHex(grid->hashes[1][1], 16));
    // The bottom-right block is the 36 x 2 pixels at (64, 128), counted from the top-left corner.
    EXPECT_EQ(grid->hashes[2][1], ImageOptimizer::blockHash(image.copy(64, 128, 36, 2)));
    EXPECT_EQ(grid->hashes[0][0], ImageOptimizer::blockHash(image.copy(0, 0, 64, 64)));
    EXPECT_FALSE(ImageOptimizer::blockHashes(QImage()));

    const BlockHashes fresh { 64, { { "a", "b", "c" }, { "d", "e", "f" } }, {}, 150, 100 };
    const BlockHashes older { 64, { { "a", "x", "c" }, { "y", "e", "z" } }, "older", 150, 100 };
    const BlockMatch grids = ImageOptimizer::compareBlockHashes(fresh, older);
    EXPECT_EQ(std::tuple(grids.totalBlocks, grids.similarity, grids.referenceHash), std::tuple(6, 0.5, "older"));
    EXPECT_EQ(grids.matchingBlocks,
        (decltype(grids.matchingBlocks) {
            BlockCoordinate { 0, 0 }, BlockCoordinate { 0, 2 }, BlockCoordinate { 1, 1 } }));
    // Same block hashes, other frame size (the edge blocks differ in size): a delta on top of it
    // could not rebuild the frame.
    // Nothing to compare in an empty grid.
    for (const auto &[first, second] : { std::pair(fresh, BlockHashes { 64, fresh.hashes, {}, 140, 100 }),
             { fresh, BlockHashes { 64, fresh.hashes, {}, 150, 90 } },
             { fresh, BlockHashes { 64, { { "a", "b", "c" }, { "d", "e", "f" }, { "g", "h", "i" } }, {}, 150, 130 } },
             { BlockHashes {}, fresh }, { fresh, BlockHashes { 64, { {} }, {}, 0, 0 } } }) {
        const BlockMatch other = ImageOptimizer::compareBlockHashes(first, second);
        EXPECT_TRUE(other.matchingBlocks.empty() && other.similarity == 0.0) << second.width << "x" << second.height;
    }

    EXPECT_FALSE(find(blockStrip(base)));
    EXPECT_FALSE(find(strip({ { 0, 250 }, { 1, 250 }, { 2, 250 } }))) << "exactly 0.7 is not a match";
    const auto match = find(strip({ { 8, 5 }, { 9, 5 } }));
    ASSERT_TRUE(match);
    EXPECT_EQ(std::pair(match->similarity, match->referenceHash),
        std::pair(0.8, ImageOptimizer::perceptualHash(blockStrip(base))));
    EXPECT_TRUE(!match->matchingBlocks.count(BlockCoordinate { 0, 9 })
        && match->matchingBlocks.count(BlockCoordinate { 0, 0 }));

    // A crop shares most blocks with the larger frame but could not be rebuilt on top of it.
    const QImage large = desktopFrame().copy(0, 0, 1000, 600);
    find(large);
    EXPECT_FALSE(find(large.copy(0, 0, 900, 600)));
    EXPECT_FALSE(find(large.copy(0, 0, 1000, 540)));
    EXPECT_EQ(find(withTypedLine(large, QStringLiteral("$ ls"))).value_or(BlockMatch {}).referenceHash,
        ImageOptimizer::perceptualHash(large));
}

TEST_F(PartialMatches, OlderCandidateWinsATieNeverItselfAndTheCacheHoldsFiftyGridsConsistentUnderThreads)
{
    const QImage left = strip({ { 0, 251 }, { 1, 251 } });
    find(left);
    find(strip({ { 8, 252 }, { 9, 252 } }));
    const BlockMatch match = find(blockStrip(base)).value_or(BlockMatch {});
    EXPECT_EQ(std::pair(match.similarity, match.referenceHash), std::pair(0.8, ImageOptimizer::perceptualHash(left)));
    // Seen again, the same picture is not its own match; the nearest other one is.
    const auto again = find(left);
    EXPECT_TRUE(again && again->referenceHash != ImageOptimizer::perceptualHash(left));
    EXPECT_EQ(optimizer.blockHashKeys().size(), 3u);

    std::vector<QString> hashes;
    for (int i = 0; i < 51; ++i) {
        const QImage image = solidImage(64, 64, QColor(i * 5, i * 5, i * 5));
        hashes.push_back(ImageOptimizer::perceptualHash(image));
        find(image);
    }
    std::vector<QString> keys = optimizer.blockHashKeys();
    ASSERT_EQ(keys.size(), 50u);
    EXPECT_EQ(std::pair(keys.front(), keys.back()), std::pair(hashes[1], hashes[50]));
    EXPECT_TRUE(!optimizer.isBlockHashCached(hashes[0]) && optimizer.isBlockHashCached(hashes[1]));
    // Seeing the oldest listed image again keeps its place, so it is still the next to go.
    find(solidImage(64, 64, QColor(5, 5, 5)));
    EXPECT_EQ(optimizer.blockHashKeys().front(), hashes[1]);
    find(solidImage(64, 64, QColor(3, 3, 3)));
    EXPECT_FALSE(optimizer.isBlockHashCached(hashes[1]));
    EXPECT_GT(optimizer.blockHashCacheBytes(), 0u);

    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([this, t] {
                for (int i = 0; i < 20; ++i)
                    optimizer.findPartialMatchesBlocking(solidImage(128, 64, QColor(t * 60, i * 12, 7)), 0.7);
            });
    }
    keys = optimizer.blockHashKeys();
    EXPECT_EQ(keys.size(), 50u);
    for (const QString &key : keys)
        EXPECT_TRUE(optimizer.isBlockHashCached(key));
}
