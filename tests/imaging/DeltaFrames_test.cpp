// Delta frames: which tiles changed, the processor's choice between a delta and a full frame, the
// "DLTA" container both ways, and frames rebuilt from it.
#include "imaging/DeltaTestImages.h"
#include "support/FakeClock.h"
#include "support/ImageEncoder.h"

#include "imaging/DeltaContainer.h"
#include "imaging/DeltaFrameProcessor.h"
#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageOptimizer.h"

#include <QtEndian>
#include <bit>

#include <qcorotask.h>

using namespace pellux;
using namespace pellux::test;

namespace {

QByteArray u32(std::uint32_t value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray f32(float value) { return u32(std::bit_cast<std::uint32_t>(value)); }

// One container entry as laid out on disk: x, y, width, height as floats, the length, the bytes.
QByteArray entry(float x, float y, float w, float h, const QByteArray &data)
{
    return f32(x) + f32(y) + f32(w) + f32(h) + u32(std::uint32_t(data.size())) + data;
}

const QByteArray kHeader1 = QByteArray("DLTA", 4) + u32(1);
const QByteArray kEmpty("DLTA\0\0\0\0", 8);

QByteArray regionImage(int width, int height) { return *imageEncoder().convertToWebP(windowFrame(width, height), 0.8); }

QByteArray jpegRegion() { return *imageEncoder().compressToJPEG(windowFrame(64, 20), 0.8); }

// A JPEG whose frame header claims another size than the pixels it holds.
QByteArray jpegClaiming(int width, int height)
{
    // The progressive frame header: marker, length, precision, then height and width.
    QByteArray jpeg = jpegRegion();
    const qsizetype header = jpeg.indexOf(QByteArray("\xff\xc2", 2));
    qToBigEndian(std::uint16_t(height), jpeg.data() + header + 5);
    qToBigEndian(std::uint16_t(width), jpeg.data() + header + 7);
    return jpeg;
}

struct DeltaFrames : ::testing::Test {
    FakeClock clock;
    DeltaFrameProcessor processor { imageEncoder(), clock };

    // Processes the frame and, as after a successful store, commits the reference it brings.
    DeltaFrameOutcome process(const QImage &current, const QImage &previous,
        const QString &window = QStringLiteral("7"), const QString &hash = QStringLiteral("new-hash"),
        bool stored = true)
    {
        DeltaFrameOutcome outcome = QCoro::waitFor(processor.processDeltaFrame(current, previous, window, hash));
        if (outcome.newReference && stored)
            processor.commitReference(*outcome.newReference);
        return outcome;
    }
    std::optional<QString> referenceOf(const QString &window)
    {
        const std::optional<FrameReference> reference = processor.referenceFrame(window);
        return reference ? std::optional(reference->hash) : std::nullopt;
    }
};

} // namespace

TEST_F(DeltaFrames, ChangedTilesAboveTwoPercentUpToThirtyPercentAreADeltaAndMoreAFullFrameThatBecomesTheReference)
{
    const QImage black = solidImage(130, 70, Qt::black), white = solidImage(130, 70, Qt::white);
    // The corner tile alone: narrow and short at the edges.
    QImage corner = black;
    QPainter(&corner).fillRect(QRect(128, 64, 2, 6), Qt::white);
    EXPECT_EQ(QCoro::waitFor(processor.findChangedRegions(white, black)), std::vector<QRect> { white.rect() });

    // 81 white pixels in 4096 are below 2 %, 82 above.
    const QImage tile = solidImage(64, 64, Qt::black);
    const auto whitened = [&](int count) {
        QImage image = tile;
        for (int i = 0; i < count; ++i)
            image.setPixel(i % 64, i / 64, qRgb(255, 255, 255));
        return image;
    };
    QImage column = solidImage(1, 300, Qt::black);
    column.setPixel(0, 299, qRgb(255, 255, 255));
    const auto argb = [](int alpha) { return solidImage(64, 64, QColor(10, 20, 30, alpha), QImage::Format_ARGB32); };
    const struct {
        const char *what;
        QImage current, previous;
        std::vector<QRect> expected;
    } cases[] = {
        { "corner", corner, black, { QRect(128, 64, 2, 6) } },
        { "81 pixels", whitened(81), tile, {} },
        { "82 pixels", whitened(82), tile, { QRect(0, 0, 64, 64) } },
        // Screen pixels carry no transparency: the fourth byte never counts as a change.
        { "alpha only", argb(255), argb(0), {} },
        { "1x1 changed", solidImage(1, 1, QColor(200, 0, 0)), solidImage(1, 1, Qt::black), { QRect(0, 0, 1, 1) } },
        { "column", column, solidImage(1, 300, Qt::black), { QRect(0, 256, 1, 44) } },
        // A resized window differs everywhere; a missing image gives nothing to compare.
        { "resized", solidImage(100, 50, Qt::black), solidImage(50, 100, Qt::black), { QRect(0, 0, 100, 50) } },
        { "no previous", solidImage(100, 50, Qt::black), QImage(), { QRect(0, 0, 100, 50) } },
        { "no current", QImage(), solidImage(10, 10, Qt::black), {} },
        // Other pixel formats are compared by their colours.
        { "RGB888", solidImage(64, 64, QColor(1, 2, 3), QImage::Format_RGB888), solidImage(64, 64, QColor(1, 2, 3)),
            {} },
    };
    for (const auto &c : cases)
        EXPECT_EQ(DeltaFrameProcessor::changedTiles(c.current, c.previous), c.expected) << c.what;

    const QImage frame = windowFrame(320, 200);
    processor.storeReferenceFrame(QStringLiteral("7"), QStringLiteral("reference-hash"), QByteArray("full"));
    const DeltaFrameOutcome same = process(frame, frame);
    ASSERT_TRUE(same.deltaFrame && !same.fullFrame);
    EXPECT_TRUE(same.deltaFrame->regions.empty() && same.deltaFrame->data == kEmpty);
    EXPECT_EQ(same.deltaFrame->referenceHash, QStringLiteral("reference-hash"));
    EXPECT_DOUBLE_EQ(same.deltaFrame->compressionRatio, double(tiffRepresentationSize(frame)) / 8.0);

    // Ten tiles in a row; tiles 0, 3 and 6 change (30 %), then tile 8 as well (40 %).
    const QImage previous = solidImage(640, 64, Qt::black);
    QImage current = previous;
    for (int tile : { 0, 3, 6 })
        paintNoise(current, QRect(tile * 64, 0, 64, 64), unsigned(tile));
    const DeltaFrameOutcome thirty = process(current, previous);
    ASSERT_TRUE(thirty.deltaFrame.has_value());
    EXPECT_EQ(DeltaFrameReader::parse(thirty.deltaFrame->data)->entries.size(), 3u);
    EXPECT_EQ(referenceOf(QStringLiteral("7")), QStringLiteral("reference-hash"));

    paintNoise(current, QRect(8 * 64, 0, 64, 64), 8);
    const DeltaFrameOutcome forty = process(current, previous);
    ASSERT_TRUE(!forty.deltaFrame && forty.fullFrame);
    const FrameReference reference = processor.referenceFrame(QStringLiteral("7")).value_or(FrameReference {});
    EXPECT_TRUE(reference.hash == "new-hash" && reference.fullImageData == *forty.fullFrame);

    // Every stored full frame becomes the window's reference, so that no delta names an unknown frame;
    // one the store failed to save does not.
    const QImage first = windowFrame(320, 200, 1);
    const QImage second = withNoise(first, QRect(0, 64, 64, 64), 2);
    // The window's first frame has no previous image: stored in full, and remembered.
    ASSERT_TRUE(process(first, QImage(), QStringLiteral("9"), QStringLiteral("hash-1")).fullFrame);
    const DeltaFrameOutcome delta = process(second, first, QStringLiteral("9"), QStringLiteral("hash-2"));
    ASSERT_TRUE(delta.deltaFrame.has_value());
    EXPECT_EQ(delta.deltaFrame->referenceHash, QStringLiteral("hash-1"));
    EXPECT_FALSE(delta.newReference);

    // A window with a previous image but no reference (pushed out of the cache) gets a full
    // frame instead of a delta that would name itself.
    const DeltaFrameOutcome orphan = process(second, first, QStringLiteral("10"), QStringLiteral("hash-3"));
    EXPECT_TRUE(!orphan.deltaFrame && orphan.fullFrame);
    EXPECT_EQ(referenceOf(QStringLiteral("10")), QStringLiteral("hash-3"));

    const DeltaFrameOutcome unsaved = process(second, QImage(), QStringLiteral("9"), QStringLiteral("lost"), false);
    ASSERT_TRUE(unsaved.fullFrame && unsaved.newReference);
    EXPECT_EQ(unsaved.newReference->fullImageData, *unsaved.fullFrame);
    EXPECT_EQ(referenceOf(QStringLiteral("9")), QStringLiteral("hash-1"));
    processor.commitReference(*unsaved.newReference);
    EXPECT_EQ(referenceOf(QStringLiteral("9")), QStringLiteral("lost"));
}

TEST_F(DeltaFrames, BadInputGivesAFailureValueOrAFullFrameAndTheFiftyMostRecentlyStoredWindowsKeepTheirReferences)
{
    const DeltaFrameOutcome none = process(QImage(), windowFrame(100, 100));
    EXPECT_FALSE(none.deltaFrame || none.fullFrame);
    EXPECT_EQ(processor.referenceFrameCount(), 0);
    // Regions are clipped to the image; the stored rectangle is what was encoded.
    const QImage frame = windowFrame(100, 80);
    EXPECT_EQ(*QCoro::waitFor(processor.createDeltaData(frame, {})), kEmpty);
    const std::optional<QByteArray> bytes = QCoro::waitFor(
        processor.createDeltaData(frame, { QRect(64, 64, 64, 64), QRect(500, 500, 10, 10), QRect(0, 0, 10, 10) }));
    const std::optional<DeltaContainer> parsed = DeltaFrameReader::parse(bytes.value_or(QByteArray()));
    ASSERT_TRUE(parsed && parsed->entries.size() == 2);
    EXPECT_EQ(std::pair(parsed->entries[0].rect, parsed->entries[1].rect),
        std::pair(QRect(64, 64, 36, 16), QRect(0, 0, 10, 10)));
    // Stored at the size its content class allows, never larger than the rectangle.
    const QSize stored = DeltaFrameReader::decodeRegion(parsed->entries[0].data)->size();
    EXPECT_TRUE(stored.width() <= 36 && stored.height() <= 16 && !stored.isEmpty());
    EXPECT_FALSE(QCoro::waitFor(processor.createDeltaData(QImage(), { QRect(0, 0, 1, 1) })).has_value());

    const auto store = [&](int window, const char *hash) {
        processor.storeReferenceFrame(QString::number(window), QLatin1String(hash), QByteArray(10, 'x'));
    };
    for (int window = 0; window < 50; ++window) {
        store(window, "h");
        clock.advance(1);
    }
    // Storing again replaces the window's reference and makes it the newest.
    store(0, "h0-again");
    clock.advance(1);
    EXPECT_EQ(processor.referenceFrameCount(), 50);
    EXPECT_EQ(referenceOf(QStringLiteral("0")), QStringLiteral("h0-again"));
    store(50, "h50");
    EXPECT_EQ(processor.referenceFrameCount(), 50);
    EXPECT_TRUE(!referenceOf("1") && referenceOf("0") && referenceOf("50"));
    // With equal timestamps the one stored first goes first.
    clock.advance(100);
    store(51, "h51");
    store(52, "h52");
    EXPECT_TRUE(!referenceOf("2") && !referenceOf("3") && referenceOf("4"));
}

TEST_F(DeltaFrames, RegionsGoBackIntoTheirRectanglesLosslessForTerminalTextStretchedForPhotographsPadded)
{
    // New output in a real xterm window: three lines of text in the terminal's own colours.
    const QImage first = terminalWindowFrame();
    QImage second = first.copy();
    {
        QPainter painter(&second);
        const QRect band(4, 322, first.width() - 8, 56);
        painter.fillRect(band, first.pixel(first.width() - 6, first.height() - 6));
        painter.setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 11));
        painter.drawText(band, Qt::AlignLeft | Qt::AlignTop,
            QStringLiteral("total 48\n-rw-r--r-- 1 user user  2210 Mar  3 10:12 CMakeLists.txt\n"
                           "drwxr-xr-x 6 user user  4096 Mar  3 10:12 src"));
    }
    ASSERT_TRUE(process(first, QImage(), QStringLiteral("9"), QStringLiteral("h1")).fullFrame);
    const DeltaFrameOutcome outcome = process(second, first, QStringLiteral("9"), QStringLiteral("h2"));
    ASSERT_TRUE(outcome.deltaFrame);
    const std::optional<DeltaContainer> parsed = DeltaFrameReader::parse(outcome.deltaFrame->data);
    ASSERT_TRUE(parsed && !parsed->entries.isEmpty());
    for (const DeltaContainer::Entry &region : parsed->entries)
        EXPECT_TRUE(isLosslessWebP(region.data));
    EXPECT_EQ(DeltaFrameReader::applyDelta(first, outcome.deltaFrame->data)
                  .value_or(QImage())
                  .convertToFormat(QImage::Format_RGB32),
        second)
        << "pixel-exact";

    // A 1600-pixel-wide photograph (flat by its mean colour) is stored at half size and
    // stretched back on reading: it keeps its shapes but not its grain.
    const QImage photo = photographicFrame(1600, 100);
    const std::optional<DeltaContainer> photoDelta = DeltaFrameReader::parse(
        DeltaFrameProcessor::encodeDeltaData(imageEncoder(), photo, { photo.rect() }).value_or(QByteArray()));
    ASSERT_TRUE(photoDelta.has_value());
    EXPECT_EQ(DeltaFrameReader::decodeRegion(photoDelta->entries[0].data)->size(), QSize(800, 50));
    const QImage stretched
        = DeltaFrameReader::applyDelta(solidImage(1600, 100, Qt::black), *photoDelta).value_or(QImage());
    EXPECT_LT(meanDifference(stretched, photo, photo.rect()), 6.0);

    // Pixels read from an X server can come with a zero fourth byte; the colours still count.
    const QImage zeroAlpha = solidImage(256, 64, QColor(40, 80, 120, 0), QImage::Format_ARGB32);
    QImage redTile = zeroAlpha;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            redTile.setPixel(x, y, qRgba(200, 30, 30, 0));
    processor.storeReferenceFrame(QStringLiteral("1"), QStringLiteral("ref"), QByteArray("full"));
    const DeltaFrameOutcome padding = process(redTile, zeroAlpha, QStringLiteral("1"));
    ASSERT_TRUE(padding.deltaFrame.has_value());
    ASSERT_EQ(padding.deltaFrame->regions, std::vector<QRect> { QRect(0, 0, 64, 64) });
    const QImage padded = DeltaFrameReader::applyDelta(zeroAlpha, padding.deltaFrame->data).value_or(QImage());
    ASSERT_FALSE(padded.isNull());
    EXPECT_TRUE(std::abs(qRed(padded.pixel(30, 30)) - 200) <= 8 && std::abs(qGreen(padded.pixel(30, 30)) - 30) <= 8);
    EXPECT_EQ(padded.pixel(100, 30), qRgb(40, 80, 120));
}

TEST(DeltaContainer, TheWriterLaysOutBytesAndTheReaderRefusesMalformedContainersAndRegionsThatDoNotFitOrDecode)
{
    EXPECT_EQ(*DeltaContainer().serialize(), kEmpty);
    DeltaContainer container;
    container.entries.push_back({ QRect(64, 128, 2, 6), QByteArray(100, 'a') });
    container.entries.push_back({ QRect(0, 0, 1920, 1080), QByteArray(2000, 'b') });
    EXPECT_EQ(*container.serialize(),
        QByteArray("DLTA", 4) + u32(2) + entry(64, 128, 2, 6, QByteArray(100, 'a'))
            + entry(0, 0, 1920, 1080, QByteArray(2000, 'b')));

    const QByteArray data = regionImage(8, 8);
    const auto serialized = [&](QRect rect, QByteArray bytes) {
        DeltaContainer one;
        one.entries.push_back({ rect, std::move(bytes) });
        return one.serialize();
    };
    const int limit = DeltaContainer::kMaxDimension;
    EXPECT_TRUE(DeltaFrameReader::parse(serialized(QRect(limit - 8, limit - 8, 8, 8), data).value_or("")));
    for (const QRect rect :
        { QRect(limit - 7, 0, 8, 8), QRect(0, limit, 8, 8), QRect(0, 0, 40000, 8), QRect(-1, 0, 8, 8) })
        EXPECT_FALSE(serialized(rect, data)) << rect.x() << "," << rect.y() << " " << rect.width();
    EXPECT_FALSE(serialized(QRect(0, 0, 8, 8), QByteArray()));
    // A view of more than 4 GiB over a small buffer: refused before it is read.
    static const char small[16] = {};
    EXPECT_FALSE(serialized(QRect(0, 0, 1, 1), QByteArray::fromRawData(small, qsizetype(1) << 32)));

    // A 40000 x 8 frame has no delta the reader could read back: the processor stores it whole.
    const QImage wide = solidImage(40000, 8, Qt::darkCyan);
    EXPECT_FALSE(DeltaFrameProcessor::encodeDeltaData(imageEncoder(), wide, { QRect(32704, 0, 128, 8) }));
    EXPECT_FALSE(DeltaFrameProcessor::encodeDeltaData(imageEncoder(), wide, { wide.rect() }));
    EXPECT_TRUE(DeltaFrameReader::applyDelta(
        wide, DeltaFrameProcessor::encodeDeltaData(imageEncoder(), wide, { QRect(0, 0, 128, 8) }).value_or("")));
    // Read back, every row and column of a region lands in its rectangle and nowhere else.
    const DeltaContainer patch {
        { { QRect(3, 5, 8, 7), *imageEncoder().convertToLosslessWebP(solidImage(8, 7, Qt::red)) } }
    };
    QImage expected = solidImage(20, 20, Qt::black);
    QPainter(&expected).fillRect(QRect(3, 5, 8, 7), Qt::red);
    EXPECT_EQ(DeltaFrameReader::applyDelta(solidImage(20, 20, Qt::black), *patch.serialize()), expected);

    // A delta of two small regions against a 200×150 frame.
    const QByteArray good = QByteArray("DLTA", 4) + u32(2) + entry(0, 0, 40, 30, regionImage(40, 30))
        + entry(100, 64, 64, 20, jpegRegion());
    ASSERT_TRUE(DeltaFrameReader::parse(good) && DeltaFrameReader::parse(kEmpty));
    const QByteArray region = regionImage(8, 8);
    const std::pair<const char *, QByteArray> cases[] = {
        { "empty", QByteArray() },
        { "short header", kEmpty.left(7) },
        { "wrong magic", QByteArray("DLTB\0\0\0\0", 8) },
        { "count beyond the data", QByteArray("DLTA", 4) + u32(0xffffffffu) + entry(0, 0, 8, 8, region) },
        { "count one, no entry", kHeader1 },
        { "truncated entry header", kHeader1 + f32(0) + f32(0) + f32(8) },
        { "length beyond the data", kHeader1 + f32(0) + f32(0) + f32(8) + f32(8) + u32(1000) + region },
        { "length of 4 GiB", kHeader1 + f32(0) + f32(0) + f32(8) + f32(8) + u32(0xffffffffu) + region },
        { "empty region data", kHeader1 + entry(0, 0, 8, 8, QByteArray()) },
        { "trailing bytes", good + "x" },
        { "second entry truncated", good.left(good.size() - 1) },
        { "NaN x", kHeader1 + entry(std::numeric_limits<float>::quiet_NaN(), 0, 8, 8, region) },
        { "infinite width", kHeader1 + entry(0, 0, std::numeric_limits<float>::infinity(), 8, region) },
        { "negative y", kHeader1 + entry(0, -8, 8, 8, region) },
        { "negative zero x", kHeader1 + entry(-0.0f, 0, 8, 8, region) },
        { "fractional x", kHeader1 + entry(0.5f, 0, 8, 8, region) },
        { "zero width", kHeader1 + entry(0, 0, 0, 8, region) },
        { "absurd height", kHeader1 + entry(0, 0, 8, 1e9f, region) },
        { "beyond the largest frame", kHeader1 + entry(32760, 0, 16, 8, region) },
    };
    for (const auto &[what, bytes] : cases)
        EXPECT_FALSE(DeltaFrameReader::parse(bytes).has_value()) << what;
    EXPECT_FALSE(DeltaFrameReader::applyDelta(solidImage(200, 150, Qt::black), good.left(30)).has_value());
    EXPECT_TRUE(!DeltaFrameReader::isDeltaContainer(region) && DeltaFrameReader::isDeltaContainer(good));

    const QImage base = solidImage(100, 100, Qt::black);
    const QByteArray square = regionImage(20, 20);
    // Each of these parses; applying it must fail cleanly. A header claiming 30000 x 30000 pixels
    // (3.6 GB) is refused by its header, never allocated; the sanitizer builds would report it.
    const std::pair<const char *, QByteArray> unfit[] = {
        { "region outside the frame", kHeader1 + entry(90, 90, 20, 20, square) },
        { "region image larger than its rectangle", kHeader1 + entry(0, 0, 10, 10, square) },
        { "not an image", kHeader1 + entry(0, 0, 20, 20, QByteArray("plain text, not pixels")) },
        { "corrupt WebP", kHeader1 + entry(0, 0, 20, 20, square.left(square.size() / 2)) },
        { "corrupt JPEG", kHeader1 + entry(0, 0, 64, 20, jpegRegion().left(200)) },
        { "huge JPEG header", kHeader1 + entry(0, 0, 64, 20, jpegClaiming(30000, 30000)) },
    };
    for (const auto &[what, bytes] : unfit) {
        ASSERT_TRUE(DeltaFrameReader::parse(bytes).has_value()) << what;
        EXPECT_FALSE(DeltaFrameReader::applyDelta(base, bytes).has_value()) << what;
    }
    EXPECT_FALSE(DeltaFrameReader::applyDelta(QImage(), kHeader1 + entry(0, 0, 20, 20, square)).has_value());

    // Larger than the rectangle is told from the header alone.
    const QByteArray jpeg = jpegClaiming(64, 20);
    const std::tuple<QByteArray, QSize, bool> sizes[] = { { square, QSize(20, 20), true },
        { square, QSize(19, 20), false }, { square, QSize(20, 19), false }, { jpeg, QSize(64, 20), true },
        { jpeg, QSize(63, 20), false }, { jpegClaiming(30000, 30000), QSize(64, 20), false } };
    for (const auto &[bytes, rect, fits] : sizes)
        EXPECT_EQ(DeltaFrameReader::decodeRegion(bytes, rect).has_value(), fits)
            << rect.width() << "x" << rect.height();
}
