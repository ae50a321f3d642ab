#include "imaging/DeltaTestImages.h"
#include "support/FakeClock.h"
#include "support/ImageEncoder.h"

#include "imaging/DeltaContainer.h"
#include "imaging/DeltaFrameProcessor.h"
#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageOptimizer.h"

#include <QtEndian>

#include <qcorotask.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace pellux;

namespace {

QImage solid(int width, int height, QRgb colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

// Sets `count` pixels of the tile at (x, y) from black to white.
void whitenPixels(QImage &image, int x, int y, int count)
{
    for (int i = 0; i < count; ++i)
        image.setPixel(x + i % 64, y + i / 64, qRgb(255, 255, 255));
}

std::uint32_t u32At(const QByteArray &bytes, qsizetype offset)
{
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + offset);
}

float floatAt(const QByteArray &bytes, qsizetype offset)
{
    const std::uint32_t bits = u32At(bytes, offset);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

struct Fixture : ::testing::Test {
    test::FakeClock clock;
    DeltaFrameProcessor processor { test::imageEncoder(), clock };

    // Processes the frame and, as after a successful store, commits the reference it brings.
    DeltaFrameOutcome process(const QImage &current, const QImage &previous,
        const QString &window = QStringLiteral("7"), const QString &hash = QStringLiteral("new-hash"))
    {
        DeltaFrameOutcome outcome = QCoro::waitFor(processor.processDeltaFrame(current, previous, window, hash));
        if (outcome.newReference)
            processor.commitReference(*outcome.newReference);
        return outcome;
    }
};

using ChangedTiles = Fixture;
using DeltaDecision = Fixture;
using ReferenceFrames = Fixture;

} // namespace

TEST_F(ChangedTiles, A130By70ImageIsCutIntoSixTilesWithNarrowRightAndShortBottomEdges)
{
    const QImage previous = solid(130, 70, qRgb(0, 0, 0));
    const std::vector<QRect> expected = { { 0, 0, 64, 64 }, { 64, 0, 64, 64 }, { 128, 0, 2, 64 }, { 0, 64, 64, 6 },
        { 64, 64, 64, 6 }, { 128, 64, 2, 6 } };
    // One tile changed at a time: the answer is exactly that tile.
    for (const QRect &tile : expected) {
        QImage current = previous;
        QPainter(&current).fillRect(tile, Qt::white);
        EXPECT_EQ(DeltaFrameProcessor::changedTiles(current, previous), std::vector<QRect> { tile })
            << tile.x() << "," << tile.y();
    }
    const QImage white = solid(130, 70, qRgb(255, 255, 255));
    EXPECT_EQ(DeltaFrameProcessor::changedTiles(white, previous), expected);
    // Merged, the six tiles are one rectangle.
    EXPECT_EQ(
        QCoro::waitFor(processor.findChangedRegions(white, previous)), std::vector<QRect> { QRect(0, 0, 130, 70) });
}

TEST_F(ChangedTiles, ATileChangesOnlyAboveTwoPercentMeanDifferenceAndAlphaIsIgnored)
{
    const QImage previous = solid(64, 64, qRgb(0, 0, 0));
    // 81 white pixels in 4096: 81 × 765 / 4096 / 765 < 0.02; 82 pixels: above.
    QImage current = previous;
    whitenPixels(current, 0, 0, 81);
    EXPECT_TRUE(DeltaFrameProcessor::changedTiles(current, previous).empty());
    whitenPixels(current, 0, 0, 82);
    EXPECT_EQ(DeltaFrameProcessor::changedTiles(current, previous).size(), 1u);

    // Screen pixels carry no transparency: the fourth byte never counts as a change.
    const QImage opaque = solid(64, 64, qRgba(10, 20, 30, 255), QImage::Format_ARGB32);
    const QImage transparent = solid(64, 64, qRgba(10, 20, 30, 0), QImage::Format_ARGB32);
    EXPECT_TRUE(DeltaFrameProcessor::changedTiles(opaque, transparent).empty());
}

TEST_F(ChangedTiles, OddSizesAndMismatchedImages)
{
    const QImage tiny = solid(1, 1, qRgb(0, 0, 0));
    EXPECT_TRUE(DeltaFrameProcessor::changedTiles(tiny, tiny).empty());
    EXPECT_EQ(DeltaFrameProcessor::changedTiles(solid(1, 1, qRgb(200, 0, 0)), tiny),
        std::vector<QRect> { QRect(0, 0, 1, 1) });
    const QImage column = solid(1, 300, qRgb(0, 0, 0));
    QImage changedColumn = column;
    changedColumn.setPixel(0, 299, qRgb(255, 255, 255));
    EXPECT_EQ(DeltaFrameProcessor::changedTiles(changedColumn, column), std::vector<QRect> { QRect(0, 256, 1, 44) });

    // A resized window differs everywhere; a missing image gives nothing to compare.
    EXPECT_EQ(DeltaFrameProcessor::changedTiles(solid(100, 50, 0), solid(50, 100, 0)),
        std::vector<QRect> { QRect(0, 0, 100, 50) });
    EXPECT_EQ(
        DeltaFrameProcessor::changedTiles(solid(100, 50, 0), QImage()), std::vector<QRect> { QRect(0, 0, 100, 50) });
    EXPECT_TRUE(DeltaFrameProcessor::changedTiles(QImage(), solid(10, 10, 0)).empty());

    // Other pixel formats are compared by their colours.
    const QImage rgb888 = solid(64, 64, qRgb(1, 2, 3)).convertToFormat(QImage::Format_RGB888);
    EXPECT_TRUE(DeltaFrameProcessor::changedTiles(rgb888, solid(64, 64, qRgb(1, 2, 3))).empty());
}

TEST(DeltaContainerFormat, IsLaidOutByteForByte)
{
    const DeltaContainer empty;
    EXPECT_EQ(*empty.serialize(), QByteArray("DLTA\0\0\0\0", 8));

    DeltaContainer container;
    container.entries.push_back({ QRect(64, 128, 2, 6), QByteArray(100, 'a') });
    container.entries.push_back({ QRect(0, 0, 1920, 1080), QByteArray(2000, 'b') });
    const QByteArray bytes = *container.serialize();
    ASSERT_EQ(bytes.size(), 8 + (20 + 100) + (20 + 2000));
    EXPECT_EQ(bytes.left(4), "DLTA");
    EXPECT_EQ(u32At(bytes, 4), 2u);
    EXPECT_EQ(floatAt(bytes, 8), 64.0f);
    EXPECT_EQ(floatAt(bytes, 12), 128.0f);
    EXPECT_EQ(floatAt(bytes, 16), 2.0f);
    EXPECT_EQ(floatAt(bytes, 20), 6.0f);
    EXPECT_EQ(u32At(bytes, 24), 100u);
    EXPECT_EQ(bytes.mid(28, 100), QByteArray(100, 'a'));
    EXPECT_EQ(floatAt(bytes, 128 + 8), 1920.0f);
    EXPECT_EQ(floatAt(bytes, 128 + 12), 1080.0f);
    EXPECT_EQ(u32At(bytes, 128 + 16), 2000u);
    EXPECT_EQ(bytes.mid(148), QByteArray(2000, 'b'));
}

TEST(DeltaContainerFormat, RefusesRegionDataBeyondThirtyTwoBits)
{
    // A view of more than 4 GiB over a small buffer: the writer must refuse it before reading.
    static const char small[16] = {};
    DeltaContainer container;
    container.entries.push_back({ QRect(0, 0, 1, 1), QByteArray::fromRawData(small, qsizetype(1) << 32) });
    EXPECT_FALSE(container.serialize().has_value());
}

TEST_F(DeltaDecision, IdenticalFramesGiveTheEmptyContainerAgainstTheWindowsReference)
{
    const QImage frame = test::windowFrame(320, 200);
    processor.storeReferenceFrame(QStringLiteral("7"), QStringLiteral("reference-hash"), QByteArray("full"));
    const DeltaFrameOutcome outcome = process(frame, frame);
    ASSERT_TRUE(outcome.deltaFrame.has_value());
    EXPECT_FALSE(outcome.fullFrame.has_value());
    EXPECT_TRUE(outcome.deltaFrame->regions.empty());
    EXPECT_EQ(outcome.deltaFrame->data, QByteArray("DLTA\0\0\0\0", 8));
    EXPECT_EQ(outcome.deltaFrame->referenceHash, QStringLiteral("reference-hash"));
    EXPECT_DOUBLE_EQ(outcome.deltaFrame->compressionRatio, double(tiffRepresentationSize(frame)) / 8.0);
}

TEST_F(DeltaDecision, ExactlyThirtyPercentIsADeltaAndMoreIsAFullFrameThatBecomesTheReference)
{
    // Ten tiles in a row; tiles 0, 3 and 6 change (30 %), then tile 8 as well (40 %).
    const QImage previous = solid(640, 64, qRgb(0, 0, 0));
    QImage current = previous;
    for (int tile : { 0, 3, 6 })
        test::paintNoise(current, QRect(tile * 64, 0, 64, 64), unsigned(tile));
    processor.storeReferenceFrame(QStringLiteral("7"), QStringLiteral("reference-hash"), QByteArray("full"));

    const DeltaFrameOutcome thirty = process(current, previous);
    ASSERT_TRUE(thirty.deltaFrame.has_value());
    EXPECT_EQ(thirty.deltaFrame->regions.size(), 3u);
    EXPECT_EQ(DeltaFrameReader::parse(thirty.deltaFrame->data)->entries.size(), 3u);
    EXPECT_EQ(processor.referenceFrame(QStringLiteral("7"))->hash, QStringLiteral("reference-hash"));

    test::paintNoise(current, QRect(8 * 64, 0, 64, 64), 8);
    const DeltaFrameOutcome forty = process(current, previous);
    EXPECT_FALSE(forty.deltaFrame.has_value());
    ASSERT_TRUE(forty.fullFrame.has_value());
    const std::optional<FrameReference> reference = processor.referenceFrame(QStringLiteral("7"));
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(reference->hash, QStringLiteral("new-hash"));
    EXPECT_EQ(reference->fullImageData, *forty.fullFrame);
    EXPECT_EQ(reference->timestamp, clock.now());
}

TEST_F(DeltaDecision, EveryFullFrameBecomesTheReferenceSoThatNoDeltaNamesAnUnknownFrame)
{
    const QImage first = test::windowFrame(320, 200, 1);
    QImage second = first;
    test::paintNoise(second, QRect(0, 64, 64, 64), 2);

    // The window's first frame has no previous image: stored in full, and remembered.
    const DeltaFrameOutcome initial = process(first, QImage(), QStringLiteral("9"), QStringLiteral("hash-1"));
    ASSERT_TRUE(initial.fullFrame.has_value());
    EXPECT_EQ(processor.referenceFrame(QStringLiteral("9"))->hash, QStringLiteral("hash-1"));

    const DeltaFrameOutcome delta = process(second, first, QStringLiteral("9"), QStringLiteral("hash-2"));
    ASSERT_TRUE(delta.deltaFrame.has_value());
    EXPECT_EQ(delta.deltaFrame->referenceHash, QStringLiteral("hash-1"));

    // A window with a previous image but no reference (pushed out of the cache) gets a full
    // frame instead of a delta that would name itself.
    const DeltaFrameOutcome orphan = process(second, first, QStringLiteral("10"), QStringLiteral("hash-3"));
    EXPECT_FALSE(orphan.deltaFrame.has_value());
    ASSERT_TRUE(orphan.fullFrame.has_value());
    EXPECT_EQ(processor.referenceFrame(QStringLiteral("10"))->hash, QStringLiteral("hash-3"));
}

TEST_F(DeltaDecision, AFullFrameBecomesTheReferenceOnlyWhenCommitted)
{
    const QImage first = test::windowFrame(320, 200, 1);
    QImage second = first;
    test::paintNoise(second, QRect(0, 64, 64, 64), 2);
    processor.storeReferenceFrame(QStringLiteral("7"), QStringLiteral("stored"), QByteArray("full"));

    // A full frame the store then failed to save: the reference stays the stored one.
    const DeltaFrameOutcome unsaved
        = QCoro::waitFor(processor.processDeltaFrame(second, QImage(), QStringLiteral("7"), QStringLiteral("lost")));
    ASSERT_TRUE(unsaved.fullFrame && unsaved.newReference);
    EXPECT_EQ(unsaved.newReference->hash, QStringLiteral("lost"));
    EXPECT_EQ(unsaved.newReference->fullImageData, *unsaved.fullFrame);
    EXPECT_EQ(processor.referenceFrame(QStringLiteral("7"))->hash, QStringLiteral("stored"));
    const DeltaFrameOutcome retry
        = QCoro::waitFor(processor.processDeltaFrame(second, first, QStringLiteral("7"), QStringLiteral("again")));
    ASSERT_TRUE(retry.deltaFrame.has_value());
    EXPECT_EQ(retry.deltaFrame->referenceHash, QStringLiteral("stored"));
    EXPECT_FALSE(retry.newReference.has_value());

    processor.commitReference(*unsaved.newReference);
    EXPECT_EQ(processor.referenceFrame(QStringLiteral("7"))->hash, QStringLiteral("lost"));
}

TEST_F(DeltaDecision, BadInputGivesAFailureValueOrAFullFrame)
{
    // No image at all: nothing to store.
    const DeltaFrameOutcome none = process(QImage(), test::windowFrame(100, 100));
    EXPECT_FALSE(none.deltaFrame || none.fullFrame);
    EXPECT_EQ(processor.referenceFrameCount(), 0);

    // A resized window, 1×1 and 1×N images and fully transparent images are all handled.
    EXPECT_TRUE(process(test::windowFrame(300, 200), test::windowFrame(200, 300)).fullFrame.has_value());
    EXPECT_TRUE(process(solid(1, 1, qRgb(9, 9, 9)), QImage(), QStringLiteral("a")).fullFrame.has_value());
    EXPECT_TRUE(
        process(solid(1, 1, qRgb(9, 9, 9)), solid(1, 1, qRgb(9, 9, 9)), QStringLiteral("a")).deltaFrame.has_value());
    EXPECT_TRUE(process(solid(1, 500, qRgb(9, 9, 9)), QImage(), QStringLiteral("b")).fullFrame.has_value());
    const QImage clear = solid(200, 100, qRgba(0, 0, 0, 0), QImage::Format_ARGB32);
    EXPECT_TRUE(process(clear, QImage(), QStringLiteral("c")).fullFrame.has_value());
    EXPECT_TRUE(process(clear, clear, QStringLiteral("c")).deltaFrame.has_value());
}

TEST_F(DeltaDecision, RegionsAreClippedToTheImageAndTheStoredRectangleIsWhatWasEncoded)
{
    const QImage frame = test::windowFrame(100, 80);
    EXPECT_EQ(*QCoro::waitFor(processor.createDeltaData(frame, {})), QByteArray("DLTA\0\0\0\0", 8));
    const std::optional<QByteArray> bytes = QCoro::waitFor(
        processor.createDeltaData(frame, { QRect(64, 64, 64, 64), QRect(500, 500, 10, 10), QRect(0, 0, 10, 10) }));
    ASSERT_TRUE(bytes.has_value());
    const std::optional<DeltaContainer> parsed = DeltaFrameReader::parse(*bytes);
    ASSERT_TRUE(parsed.has_value());
    ASSERT_EQ(parsed->entries.size(), 2);
    EXPECT_EQ(parsed->entries[0].rect, QRect(64, 64, 36, 16));
    EXPECT_EQ(parsed->entries[1].rect, QRect(0, 0, 10, 10));
    // Stored at the size its content class allows, never larger than the rectangle.
    const QSize stored = DeltaFrameReader::decodeRegion(parsed->entries[0].data)->size();
    EXPECT_TRUE(stored.width() <= 36 && stored.height() <= 16 && !stored.isEmpty());
    EXPECT_FALSE(QCoro::waitFor(processor.createDeltaData(QImage(), { QRect(0, 0, 1, 1) })).has_value());
}

TEST_F(ReferenceFrames, TheFiftyMostRecentlyStoredWindowsRemain)
{
    for (int window = 0; window < 50; ++window) {
        processor.storeReferenceFrame(QString::number(window), QStringLiteral("h%1").arg(window), QByteArray(10, 'x'));
        clock.advance(1);
    }
    // Storing again replaces the window's reference and makes it the newest.
    processor.storeReferenceFrame(QStringLiteral("0"), QStringLiteral("h0-again"), QByteArray(20, 'y'));
    clock.advance(1);
    EXPECT_EQ(processor.referenceFrameCount(), 50);
    EXPECT_EQ(processor.referenceFrame(QStringLiteral("0"))->hash, QStringLiteral("h0-again"));

    processor.storeReferenceFrame(QStringLiteral("50"), QStringLiteral("h50"), QByteArray(10, 'x'));
    EXPECT_EQ(processor.referenceFrameCount(), 50);
    EXPECT_FALSE(processor.referenceFrame(QStringLiteral("1")).has_value());
    EXPECT_TRUE(processor.referenceFrame(QStringLiteral("0")).has_value());
    EXPECT_TRUE(processor.referenceFrame(QStringLiteral("50")).has_value());

    // With equal timestamps the one stored first goes first.
    clock.advance(100);
    processor.storeReferenceFrame(QStringLiteral("51"), QStringLiteral("h51"), QByteArray(10, 'x'));
    processor.storeReferenceFrame(QStringLiteral("52"), QStringLiteral("h52"), QByteArray(10, 'x'));
    EXPECT_FALSE(processor.referenceFrame(QStringLiteral("2")).has_value());
    EXPECT_FALSE(processor.referenceFrame(QStringLiteral("3")).has_value());
    EXPECT_TRUE(processor.referenceFrame(QStringLiteral("4")).has_value());
}
