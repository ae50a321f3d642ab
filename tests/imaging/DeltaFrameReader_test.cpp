#include "imaging/DeltaTestImages.h"
#include "support/FakeClock.h"
#include "support/ImageEncoder.h"

#include "imaging/DeltaContainer.h"
#include "imaging/DeltaFrameProcessor.h"
#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageOptimizer.h"
#include "support/SampleImages.h"

#include <QtEndian>
#include <webp/decode.h>

#include <qcorotask.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace pellux;

namespace {

QByteArray u32(std::uint32_t value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray f32(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return u32(bits);
}

QByteArray entry(float x, float y, float w, float h, const QByteArray &data)
{
    return f32(x) + f32(y) + f32(w) + f32(h) + u32(std::uint32_t(data.size())) + data;
}

QByteArray regionImage(int width, int height)
{
    return *test::imageEncoder().convertToWebP(test::windowFrame(width, height), 0.8);
}

// A delta of two small regions against a 200×150 frame.
QByteArray validContainer()
{
    return QByteArray("DLTA", 4) + u32(2) + entry(0, 0, 40, 30, regionImage(40, 30))
        + entry(100, 64, 64, 20, *test::imageEncoder().compressToJPEG(test::windowFrame(64, 20), 0.8));
}

struct Fixture : ::testing::Test {
    test::FakeClock clock;
    DeltaFrameProcessor processor { test::imageEncoder(), clock };
};

using DeltaRoundTrip = Fixture;

} // namespace

TEST_F(DeltaRoundTrip, ChangedTerminalTextIsStoredPixelExact)
{
    // New output in a real xterm window: three lines of text in the terminal's own colours.
    const QImage first = test::terminalWindowFrame();
    QImage second = first.copy();
    {
        QPainter painter(&second);
        const QRect band(4, 322, first.width() - 8, 56);
        painter.fillRect(band, first.pixel(first.width() - 6, first.height() - 6));
        painter.setPen(Qt::black);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 11));
        painter.drawText(band, Qt::AlignLeft | Qt::AlignTop,
            QStringLiteral("total 48\n-rw-r--r-- 1 user user  2210 Mar  3 10:12 CMakeLists.txt\n"
                           "drwxr-xr-x 6 user user  4096 Mar  3 10:12 src"));
    }
    const QString window = QStringLiteral("9");
    const DeltaFrameOutcome reference
        = QCoro::waitFor(processor.processDeltaFrame(first, QImage(), window, QStringLiteral("h1")));
    ASSERT_TRUE(reference.newReference);
    processor.commitReference(*reference.newReference);
    const DeltaFrameOutcome outcome
        = QCoro::waitFor(processor.processDeltaFrame(second, first, window, QStringLiteral("h2")));
    ASSERT_TRUE(outcome.deltaFrame);
    const std::optional<DeltaContainer> parsed = DeltaFrameReader::parse(outcome.deltaFrame->data);
    ASSERT_TRUE(parsed && !parsed->entries.isEmpty());
    for (const DeltaContainer::Entry &entry : parsed->entries) {
        WebPBitstreamFeatures features;
        ASSERT_EQ(WebPGetFeatures(
                      reinterpret_cast<const uint8_t *>(entry.data.constData()), size_t(entry.data.size()), &features),
            VP8_STATUS_OK);
        EXPECT_EQ(features.format, 2) << "lossless";
    }
    const std::optional<QImage> rebuilt = DeltaFrameReader::applyDelta(first, outcome.deltaFrame->data);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->convertToFormat(QImage::Format_RGB32), second) << "pixel-exact";
}

TEST_F(DeltaRoundTrip, ScaledDownAndJpegRegionsAreScaledBackIntoTheirRectangles)
{
    // A 1600-pixel-wide photograph (flat by its mean colour) is stored at half size and
    // stretched back on reading.
    const QImage frame = test::photographicFrame(1600, 100);
    const std::optional<QByteArray> bytes
        = DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), frame, { QRect(0, 0, 1600, 100) });
    ASSERT_TRUE(bytes.has_value());
    const std::optional<DeltaContainer> parsed = DeltaFrameReader::parse(*bytes);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(DeltaFrameReader::decodeRegion(parsed->entries[0].data)->size(), QSize(800, 50));
    const QImage black(1600, 100, QImage::Format_RGB32);
    const std::optional<QImage> rebuilt = DeltaFrameReader::applyDelta(black, *parsed);
    ASSERT_TRUE(rebuilt.has_value());
    // Halved and stretched back, the photograph keeps its shapes but not its grain.
    EXPECT_LT(test::meanDifference(*rebuilt, frame, frame.rect()), 6.0);

    QImage base(200, 150, QImage::Format_RGB32);
    base.fill(Qt::white);
    const std::optional<QImage> withJpeg = DeltaFrameReader::applyDelta(base, validContainer());
    ASSERT_TRUE(withJpeg.has_value());
    EXPECT_LT(
        test::meanDifference(withJpeg->copy(100, 64, 64, 20), test::windowFrame(64, 20), QRect(0, 0, 64, 20)), 8.0);
}

TEST_F(DeltaRoundTrip, TheFourthByteOfAPixelIsPaddingEvenInTransparentImages)
{
    // Pixels read from an X server can come with a zero fourth byte; the colours still count.
    QImage previous(256, 64, QImage::Format_ARGB32);
    previous.fill(qRgba(40, 80, 120, 0));
    QImage current = previous;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            current.setPixel(x, y, qRgba(200, 30, 30, 0));
    processor.storeReferenceFrame(QStringLiteral("1"), QStringLiteral("ref"), QByteArray("full"));
    const DeltaFrameOutcome outcome
        = QCoro::waitFor(processor.processDeltaFrame(current, previous, QStringLiteral("1"), QStringLiteral("new")));
    ASSERT_TRUE(outcome.deltaFrame.has_value());
    ASSERT_EQ(outcome.deltaFrame->regions, std::vector<QRect> { QRect(0, 0, 64, 64) });
    const std::optional<QImage> rebuilt = DeltaFrameReader::applyDelta(previous, outcome.deltaFrame->data);
    ASSERT_TRUE(rebuilt.has_value());
    const QRgb inside = rebuilt->pixel(30, 30);
    EXPECT_NEAR(qRed(inside), 200, 8);
    EXPECT_NEAR(qGreen(inside), 30, 8);
    EXPECT_EQ(rebuilt->pixel(100, 30), qRgb(40, 80, 120));
}

TEST(DeltaFrameReader, RefusesMalformedContainers)
{
    const QByteArray good = validContainer();
    ASSERT_TRUE(DeltaFrameReader::parse(good).has_value());
    ASSERT_TRUE(DeltaFrameReader::parse(QByteArray("DLTA\0\0\0\0", 8)).has_value());

    const QByteArray region = regionImage(8, 8);
    const QByteArray header1 = QByteArray("DLTA", 4) + u32(1);
    const struct {
        const char *what;
        QByteArray bytes;
    } cases[] = {
        { "empty", QByteArray() },
        { "short header", QByteArray("DLTA\0\0\0", 7) },
        { "wrong magic", QByteArray("DLTB\0\0\0\0", 8) },
        { "count beyond the data", QByteArray("DLTA", 4) + u32(0xffffffffu) + entry(0, 0, 8, 8, region) },
        { "count one, no entry", header1 },
        { "truncated entry header", header1 + f32(0) + f32(0) + f32(8) },
        { "length beyond the data", header1 + f32(0) + f32(0) + f32(8) + f32(8) + u32(1000) + region },
        { "length of 4 GiB", header1 + f32(0) + f32(0) + f32(8) + f32(8) + u32(0xffffffffu) + region },
        { "empty region data", header1 + entry(0, 0, 8, 8, QByteArray()) },
        { "trailing bytes", good + "x" },
        { "second entry truncated", good.left(good.size() - 1) },
        { "NaN x", header1 + entry(std::numeric_limits<float>::quiet_NaN(), 0, 8, 8, region) },
        { "infinite width", header1 + entry(0, 0, std::numeric_limits<float>::infinity(), 8, region) },
        { "negative y", header1 + entry(0, -8, 8, 8, region) },
        { "negative zero x", header1 + entry(-0.0f, 0, 8, 8, region) },
        { "fractional x", header1 + entry(0.5f, 0, 8, 8, region) },
        { "zero width", header1 + entry(0, 0, 0, 8, region) },
        { "absurd height", header1 + entry(0, 0, 8, 1e9f, region) },
        { "beyond the largest frame", header1 + entry(32760, 0, 16, 8, region) },
    };
    for (const auto &c : cases)
        EXPECT_FALSE(DeltaFrameReader::parse(c.bytes).has_value()) << c.what;
    EXPECT_FALSE(DeltaFrameReader::applyDelta(QImage(200, 150, QImage::Format_RGB32), good.left(30)).has_value());
}

TEST(DeltaFrameReader, RefusesRegionsThatDoNotFitTheFrameOrDoNotDecode)
{
    QImage base(100, 100, QImage::Format_RGB32);
    base.fill(Qt::black);
    const QByteArray header1 = QByteArray("DLTA", 4) + u32(1);
    const QByteArray region = regionImage(20, 20);
    // Each of these parses; applying it must fail cleanly.
    const struct {
        const char *what;
        QByteArray bytes;
    } cases[] = {
        { "region outside the frame", header1 + entry(90, 90, 20, 20, region) },
        { "region image larger than its rectangle", header1 + entry(0, 0, 10, 10, region) },
        { "not an image", header1 + entry(0, 0, 20, 20, QByteArray("plain text, not pixels")) },
        { "corrupt WebP", header1 + entry(0, 0, 20, 20, region.left(region.size() / 2)) },
        { "corrupt JPEG",
            header1
                + entry(0, 0, 64, 20, test::imageEncoder().compressToJPEG(test::windowFrame(64, 20), 0.8)->left(200)) },
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(DeltaFrameReader::parse(c.bytes).has_value()) << c.what;
        EXPECT_FALSE(DeltaFrameReader::applyDelta(base, c.bytes).has_value()) << c.what;
    }
    EXPECT_FALSE(DeltaFrameReader::applyDelta(QImage(), header1 + entry(0, 0, 20, 20, region)).has_value());
    EXPECT_FALSE(DeltaFrameReader::isDeltaContainer(region));
    EXPECT_TRUE(DeltaFrameReader::isDeltaContainer(validContainer()));
}

namespace {

// A JPEG whose frame header claims another size than the pixels it holds.
QByteArray jpegClaiming(int width, int height)
{
    QByteArray jpeg = *test::imageEncoder().compressToJPEG(test::windowFrame(64, 20), 0.8);
    for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xff && (marker == 0xc0 || marker == 0xc2)) {
            qToBigEndian(std::uint16_t(height), jpeg.data() + i + 5);
            qToBigEndian(std::uint16_t(width), jpeg.data() + i + 7);
            return jpeg;
        }
    }
    return {};
}

} // namespace

TEST(DeltaFrameReader, RefusesRegionImagesLargerThanTheirRectangleFromTheHeaderAlone)
{
    const QByteArray webp = regionImage(20, 20);
    EXPECT_TRUE(DeltaFrameReader::decodeRegion(webp, QSize(20, 20)));
    EXPECT_FALSE(DeltaFrameReader::decodeRegion(webp, QSize(19, 20)));
    EXPECT_FALSE(DeltaFrameReader::decodeRegion(webp, QSize(20, 19)));

    const QByteArray jpeg = jpegClaiming(64, 20);
    ASSERT_FALSE(jpeg.isEmpty());
    EXPECT_TRUE(DeltaFrameReader::decodeRegion(jpeg, QSize(64, 20)));
    EXPECT_FALSE(DeltaFrameReader::decodeRegion(jpeg, QSize(63, 20)));

    // A header claiming 30000 x 30000 pixels (3.6 GB) in a 64 x 20 rectangle is refused by its
    // header, never allocated; the sanitizer builds would report the allocation.
    const QByteArray huge = jpegClaiming(30000, 30000);
    QImage base(200, 150, QImage::Format_RGB32);
    base.fill(Qt::black);
    const QByteArray container = QByteArray("DLTA", 4) + u32(1) + entry(0, 0, 64, 20, huge);
    ASSERT_TRUE(DeltaFrameReader::parse(container));
    EXPECT_FALSE(DeltaFrameReader::applyDelta(base, container));
    EXPECT_FALSE(DeltaFrameReader::decodeRegion(huge, QSize(64, 20)));
}

TEST(DeltaContainerLimits, TheWriterRefusesWhatTheReaderWouldRefuse)
{
    const QByteArray data = regionImage(8, 8);
    const auto serialized = [&](QRect rect, QByteArray bytes) {
        DeltaContainer container;
        container.entries.push_back({ rect, std::move(bytes) });
        return container.serialize();
    };
    const int limit = DeltaContainer::kMaxDimension;
    const auto atTheEdge = serialized(QRect(limit - 8, limit - 8, 8, 8), data);
    ASSERT_TRUE(atTheEdge);
    EXPECT_TRUE(DeltaFrameReader::parse(*atTheEdge));
    for (const QRect rect :
        { QRect(limit - 7, 0, 8, 8), QRect(0, limit, 8, 8), QRect(0, 0, 40000, 8), QRect(-1, 0, 8, 8) })
        EXPECT_FALSE(serialized(rect, data)) << rect.x() << "," << rect.y() << " " << rect.width();
    EXPECT_FALSE(serialized(QRect(0, 0, 8, 8), QByteArray()));

    // A 40000 x 8 frame has no delta the reader could read back: the processor stores it whole.
    QImage wide(40000, 8, QImage::Format_RGB32);
    wide.fill(Qt::darkCyan);
    EXPECT_FALSE(DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), wide, { QRect(32704, 0, 128, 8) }));
    EXPECT_FALSE(DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), wide, { wide.rect() }));
    const auto inRange = DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), wide, { QRect(0, 0, 128, 8) });
    ASSERT_TRUE(inRange);
    EXPECT_TRUE(DeltaFrameReader::applyDelta(wide, *inRange));
}
