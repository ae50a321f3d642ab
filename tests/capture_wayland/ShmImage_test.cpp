#include "capture/wayland/wlroots/ShmImage.h"

#include <wayland-client-protocol.h>

#include "support/TestFiles.h"

namespace pellux::wayland {
namespace {

// A 3×2 picture, rows padded to 16 bytes:
//   red   green blue
//   white black grey
constexpr int width = 3, height = 2, stride = 16;
const QRgb expected[height][width] = { { qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255) },
    { qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(128, 128, 128) } };

std::vector<uchar> pixels(uint32_t format)
{
    std::vector<uchar> data(stride * height, 0xee);
    const bool bgr = format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb c = expected[y][x];
            uchar *p = data.data() + y * stride + x * 4;
            // Bytes in memory, lowest address first: B G R X, or R G B X for the BGR formats.
            p[0] = uchar(bgr ? qRed(c) : qBlue(c));
            p[1] = uchar(qGreen(c));
            p[2] = uchar(bgr ? qBlue(c) : qRed(c));
            p[3] = 0x7f; // alpha or padding: never shown
        }
    }
    return data;
}

TEST(ShmImage, ReadsEachFormatAsOpaqueRgb32AndRefusesWhatItCannotRead)
{
    for (uint32_t format :
        { WL_SHM_FORMAT_XRGB8888, WL_SHM_FORMAT_ARGB8888, WL_SHM_FORMAT_XBGR8888, WL_SHM_FORMAT_ABGR8888 }) {
        SCOPED_TRACE(format);
        std::vector<uchar> data = pixels(format);
        const auto image = imageFromShm(data.data(), width, height, stride, format, false, WL_OUTPUT_TRANSFORM_NORMAL);
        std::memset(data.data(), 0, data.size()); // the image outlives the buffer
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->format(), QImage::Format_RGB32);
        ASSERT_EQ(image->size(), QSize(width, height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(image->pixel(x, y), expected[y][x]) << x << "," << y;
    }
    const std::vector<uchar> data = pixels(WL_SHM_FORMAT_XRGB8888);
    EXPECT_FALSE(imageFromShm(data.data(), width, height, stride, WL_SHM_FORMAT_RGB565, false, 0));
    EXPECT_FALSE(imageFromShm(data.data(), width, height, width * 4 - 1, WL_SHM_FORMAT_XRGB8888, false, 0));
    EXPECT_FALSE(imageFromShm(data.data(), 0, height, stride, WL_SHM_FORMAT_XRGB8888, false, 0));
}

// Where the buffer's top corners end up once the output's transform is undone (as grim shows the
// output of sway 1.7 under each transform).
TEST(ShmImage, TurnsThePictureUpright)
{
    const struct {
        const char *name;
        bool yInvert;
        int transform;
        QSize size;
        QPoint redAt; // the buffer's top-left pixel
        QPoint blueAt; // the buffer's top-right pixel
    } cases[] = {
        { "normal", false, WL_OUTPUT_TRANSFORM_NORMAL, { 3, 2 }, { 0, 0 }, { 2, 0 } },
        { "y inverted", true, WL_OUTPUT_TRANSFORM_NORMAL, { 3, 2 }, { 0, 1 }, { 2, 1 } },
        { "turned 180", false, WL_OUTPUT_TRANSFORM_180, { 3, 2 }, { 2, 1 }, { 0, 1 } },
        { "turned 90", false, WL_OUTPUT_TRANSFORM_90, { 2, 3 }, { 0, 2 }, { 0, 0 } },
        { "turned 270", false, WL_OUTPUT_TRANSFORM_270, { 2, 3 }, { 1, 0 }, { 1, 2 } },
        { "flipped", false, WL_OUTPUT_TRANSFORM_FLIPPED, { 3, 2 }, { 2, 0 }, { 0, 0 } },
        { "flipped 90", false, WL_OUTPUT_TRANSFORM_FLIPPED_90, { 2, 3 }, { 1, 2 }, { 1, 0 } },
    };
    const std::vector<uchar> data = pixels(WL_SHM_FORMAT_XRGB8888);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto image
            = imageFromShm(data.data(), width, height, stride, WL_SHM_FORMAT_XRGB8888, c.yInvert, c.transform);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->size(), c.size);
        EXPECT_EQ(image->pixel(c.redAt), qRgb(255, 0, 0));
        EXPECT_EQ(image->pixel(c.blueAt), qRgb(0, 0, 255));
    }
    EXPECT_EQ(outputTransformFromName("90"), WL_OUTPUT_TRANSFORM_90);
    EXPECT_EQ(outputTransformFromName("flipped-270"), WL_OUTPUT_TRANSFORM_FLIPPED_270);
    EXPECT_EQ(outputTransformFromName("sideways"), WL_OUTPUT_TRANSFORM_NORMAL);
}

TEST(ShmImage, CropsTheWindowToItsOutputAtTheOutputsScale)
{
    const struct {
        QRect window, output, region;
    } cases[] = {
        { { 642, 25, 636, 773 }, { 0, 0, 1280, 800 }, { 642, 25, 636, 773 } },
        { { 1300, 10, 100, 100 }, { 1280, 0, 1920, 1080 }, { 20, 10, 100, 100 } }, // a second output
        { { 1200, 700, 200, 200 }, { 0, 0, 1280, 800 }, { 1200, 700, 80, 100 } }, // over the edge
        { { 2000, 0, 100, 100 }, { 0, 0, 1280, 800 }, {} },
        { { 10, 10, 0, 0 }, { 0, 0, 1280, 800 }, {} },
    };
    for (const auto &c : cases)
        EXPECT_EQ(regionOnOutput(c.window, c.output), c.region) << c.window.x() << "," << c.window.y();

    // A 2× output of 100×50 logical pixels: the region's pixels are twice its logical size.
    QImage output(200, 100, QImage::Format_RGB32);
    output.fill(Qt::black);
    output.setPixel(40, 20, qRgb(255, 0, 0));
    const QImage crop = cropToRegion(output, QRect(20, 10, 30, 20), QSize(100, 50));
    EXPECT_EQ(crop.size(), QSize(60, 40));
    EXPECT_EQ(crop.pixel(0, 0), qRgb(255, 0, 0));
    // A region hanging over the edge is cut at it; an empty output size gives nothing.
    EXPECT_EQ(cropToRegion(output, QRect(90, 40, 30, 20), QSize(100, 50)).size(), QSize(20, 20));
    EXPECT_TRUE(cropToRegion(output, QRect(0, 0, 10, 10), QSize()).isNull());
}

} // namespace
} // namespace pellux::wayland
