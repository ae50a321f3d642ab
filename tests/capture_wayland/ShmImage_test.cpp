#include "capture/wayland/wlroots/ShmImage.h"

#include <wayland-client-protocol.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace pellux::wayland {
namespace {

// A 3×2 picture in little-endian XRGB8888, rows padded to 16 bytes:
//   red   green blue
//   white black grey
constexpr int width = 3;
constexpr int height = 2;
constexpr int stride = 16;
const QRgb expected[height][width] = { { qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255) },
    { qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(128, 128, 128) } };

std::vector<uchar> pixels(uint32_t format)
{
    std::vector<uchar> data(stride * height, 0xee);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb c = expected[y][x];
            uchar *p = data.data() + y * stride + x * 4;
            const bool bgr = format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
            // Bytes in memory, lowest address first: B G R X, or R G B X for the BGR formats.
            p[0] = uchar(bgr ? qRed(c) : qBlue(c));
            p[1] = uchar(qGreen(c));
            p[2] = uchar(bgr ? qBlue(c) : qRed(c));
            p[3] = 0x7f; // alpha or padding: never shown
        }
    }
    return data;
}

class ShmFormatTest : public ::testing::TestWithParam<uint32_t> { };

TEST_P(ShmFormatTest, ReadsThePixelsAsOpaqueRgb32)
{
    const std::vector<uchar> data = pixels(GetParam());
    const auto image = imageFromShm(data.data(), width, height, stride, GetParam(), false, WL_OUTPUT_TRANSFORM_NORMAL);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->format(), QImage::Format_RGB32);
    ASSERT_EQ(image->size(), QSize(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(image->pixel(x, y), expected[y][x]) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Formats, ShmFormatTest,
    ::testing::Values(WL_SHM_FORMAT_XRGB8888, WL_SHM_FORMAT_ARGB8888, WL_SHM_FORMAT_XBGR8888, WL_SHM_FORMAT_ABGR8888));

TEST(ShmImage, TheImageOutlivesTheBuffer)
{
    std::vector<uchar> data = pixels(WL_SHM_FORMAT_XRGB8888);
    const auto image = imageFromShm(data.data(), width, height, stride, WL_SHM_FORMAT_XRGB8888, false, 0);
    std::memset(data.data(), 0, data.size());
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->pixel(0, 0), expected[0][0]);
}

TEST(ShmImage, RefusesWhatItCannotRead)
{
    const std::vector<uchar> data = pixels(WL_SHM_FORMAT_XRGB8888);
    EXPECT_FALSE(imageFromShm(data.data(), width, height, stride, WL_SHM_FORMAT_RGB565, false, 0));
    EXPECT_FALSE(imageFromShm(data.data(), width, height, width * 4 - 1, WL_SHM_FORMAT_XRGB8888, false, 0));
    EXPECT_FALSE(imageFromShm(data.data(), 0, height, stride, WL_SHM_FORMAT_XRGB8888, false, 0));
}

// Where each corner of the buffer ends up once the output's transform is undone (as grim shows
// the output of sway 1.7 under each transform).
struct TransformCase {
    const char *name;
    bool yInvert;
    int transform;
    QSize size;
    QPoint redAt; // the buffer's top-left pixel
    QPoint blueAt; // the buffer's top-right pixel
};

class ShmTransformTest : public ::testing::TestWithParam<TransformCase> { };

TEST_P(ShmTransformTest, TurnsThePictureUpright)
{
    const TransformCase &c = GetParam();
    const std::vector<uchar> data = pixels(WL_SHM_FORMAT_XRGB8888);
    const auto image = imageFromShm(data.data(), width, height, stride, WL_SHM_FORMAT_XRGB8888, c.yInvert, c.transform);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), c.size);
    EXPECT_EQ(image->pixel(c.redAt), qRgb(255, 0, 0));
    EXPECT_EQ(image->pixel(c.blueAt), qRgb(0, 0, 255));
}

INSTANTIATE_TEST_SUITE_P(Transforms, ShmTransformTest,
    ::testing::Values(TransformCase { "normal", false, WL_OUTPUT_TRANSFORM_NORMAL, { 3, 2 }, { 0, 0 }, { 2, 0 } },
        TransformCase { "y_inverted", true, WL_OUTPUT_TRANSFORM_NORMAL, { 3, 2 }, { 0, 1 }, { 2, 1 } },
        TransformCase { "turned_180", false, WL_OUTPUT_TRANSFORM_180, { 3, 2 }, { 2, 1 }, { 0, 1 } },
        TransformCase { "turned_90", false, WL_OUTPUT_TRANSFORM_90, { 2, 3 }, { 0, 2 }, { 0, 0 } },
        TransformCase { "turned_270", false, WL_OUTPUT_TRANSFORM_270, { 2, 3 }, { 1, 0 }, { 1, 2 } },
        TransformCase { "flipped", false, WL_OUTPUT_TRANSFORM_FLIPPED, { 3, 2 }, { 2, 0 }, { 0, 0 } },
        TransformCase { "flipped_90", false, WL_OUTPUT_TRANSFORM_FLIPPED_90, { 2, 3 }, { 1, 2 }, { 1, 0 } }),
    [](const ::testing::TestParamInfo<TransformCase> &info) { return std::string(info.param.name); });

TEST(ShmImage, NamesOfTransforms)
{
    EXPECT_EQ(outputTransformFromName("90"), WL_OUTPUT_TRANSFORM_90);
    EXPECT_EQ(outputTransformFromName("flipped-270"), WL_OUTPUT_TRANSFORM_FLIPPED_270);
    EXPECT_EQ(outputTransformFromName("sideways"), WL_OUTPUT_TRANSFORM_NORMAL);
}

struct RegionCase {
    const char *name;
    QRect window;
    QRect output;
    QRect region;
};

class RegionTest : public ::testing::TestWithParam<RegionCase> { };

TEST_P(RegionTest, CropsTheWindowToItsOutput)
{
    EXPECT_EQ(regionOnOutput(GetParam().window, GetParam().output), GetParam().region);
}

INSTANTIATE_TEST_SUITE_P(Regions, RegionTest,
    ::testing::Values(RegionCase { "inside", { 642, 25, 636, 773 }, { 0, 0, 1280, 800 }, { 642, 25, 636, 773 } },
        RegionCase { "second_output", { 1300, 10, 100, 100 }, { 1280, 0, 1920, 1080 }, { 20, 10, 100, 100 } },
        RegionCase { "hanging_over_the_edge", { 1200, 700, 200, 200 }, { 0, 0, 1280, 800 }, { 1200, 700, 80, 100 } },
        RegionCase { "elsewhere", { 2000, 0, 100, 100 }, { 0, 0, 1280, 800 }, {} },
        RegionCase { "empty", { 10, 10, 0, 0 }, { 0, 0, 1280, 800 }, {} }),
    [](const ::testing::TestParamInfo<RegionCase> &info) { return std::string(info.param.name); });

TEST(ShmImage, CropsAWholeOutputPictureAtItsScale)
{
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
