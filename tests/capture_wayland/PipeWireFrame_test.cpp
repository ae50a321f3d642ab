#include "capture/wayland/PipeWireFrame.h"

#include <spa/param/video/raw.h>

#include "support/TestFiles.h"

namespace pellux::wayland {
namespace {

// A 3x2 frame whose pixels are numbered: pixel (x, y) has red 10*x+y+1, green 100+x, blue 200+y and
// a fourth byte of 0x33 (a translucent alpha, or padding), in the layout's byte order; `padding`
// extra bytes end each row.
std::vector<uchar> numberedFrame(PixelLayout layout, int padding)
{
    std::vector<uchar> bytes;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const uchar red = uchar(10 * x + y + 1), green = uchar(100 + x), blue = uchar(200 + y);
            if (layout == PixelLayout::bgrx || layout == PixelLayout::bgra)
                bytes.insert(bytes.end(), { blue, green, red, 0x33 });
            else
                bytes.insert(bytes.end(), { red, green, blue, 0x33 });
        }
        bytes.insert(bytes.end(), padding, 0xee);
    }
    return bytes;
}

QRgb numberedPixel(int x, int y) { return qRgb(10 * x + y + 1, 100 + x, 200 + y); }

TEST(ConvertFrame, CopiesTheRegionAsOpaqueRgb32)
{
    const struct {
        const char *name;
        PixelLayout layout;
        int padding; // bytes after each row
        QRect region;
        QRect expected; // the part of the frame the image shows; empty: a null image
        int sizeCut = 0; // bytes missing from the end of the buffer
        int strideCut = 0; // bytes the stated stride falls short of the real one
    } cases[] = {
        { "bgrx", PixelLayout::bgrx, 0, {}, QRect(0, 0, 3, 2) },
        { "bgra alpha ignored", PixelLayout::bgra, 0, {}, QRect(0, 0, 3, 2) },
        { "rgbx", PixelLayout::rgbx, 0, {}, QRect(0, 0, 3, 2) },
        { "rgba alpha ignored", PixelLayout::rgba, 0, {}, QRect(0, 0, 3, 2) },
        { "padded rows", PixelLayout::bgrx, 8, {}, QRect(0, 0, 3, 2) },
        // a window's client area at the top left of a larger buffer
        { "top left region", PixelLayout::bgrx, 4, QRect(0, 0, 2, 1), QRect(0, 0, 2, 1) },
        { "inner region", PixelLayout::rgba, 0, QRect(1, 1, 2, 1), QRect(1, 1, 2, 1) },
        { "region clipped to the frame", PixelLayout::bgrx, 0, QRect(1, 0, 10, 10), QRect(1, 0, 2, 2) },
        { "region outside the frame", PixelLayout::bgrx, 0, QRect(5, 5, 2, 2), QRect() },
        // the last row may end without its padding
        { "last row unpadded", PixelLayout::bgrx, 8, {}, QRect(0, 0, 3, 2), 8 },
        { "buffer too short", PixelLayout::bgrx, 0, {}, QRect(), 1 },
        { "stride shorter than a row", PixelLayout::bgrx, 0, {}, QRect(), 0, 4 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uchar> bytes = numberedFrame(c.layout, c.padding);
        FrameView view;
        view.data = bytes.data();
        view.size = qsizetype(bytes.size()) - c.sizeCut;
        view.width = 3;
        view.height = 2;
        view.stride = 3 * 4 + c.padding - c.strideCut;
        view.layout = c.layout;
        const QImage image = convertFrame(view, c.region);
        ASSERT_EQ(image.isNull(), c.expected.isEmpty());
        if (image.isNull())
            continue;
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        ASSERT_EQ(image.size(), c.expected.size());
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                EXPECT_EQ(image.pixel(x, y), numberedPixel(c.expected.x() + x, c.expected.y() + y))
                    << "at " << x << "," << y;
    }
    EXPECT_TRUE(convertFrame(FrameView {}).isNull());
}

TEST(PixelLayout, MapsTheNegotiatedFormats)
{
    const struct {
        uint32_t spaFormat;
        std::optional<PixelLayout> layout;
    } cases[] = {
        { SPA_VIDEO_FORMAT_BGRx, PixelLayout::bgrx },
        { SPA_VIDEO_FORMAT_BGRA, PixelLayout::bgra },
        { SPA_VIDEO_FORMAT_RGBx, PixelLayout::rgbx },
        { SPA_VIDEO_FORMAT_RGBA, PixelLayout::rgba },
        { SPA_VIDEO_FORMAT_xRGB, std::nullopt },
        { SPA_VIDEO_FORMAT_NV12, std::nullopt },
        { SPA_VIDEO_FORMAT_UNKNOWN, std::nullopt },
    };
    for (const auto &c : cases)
        EXPECT_EQ(pixelLayoutFromSpaFormat(c.spaFormat), c.layout) << "spa format " << c.spaFormat;
}

} // namespace
} // namespace pellux::wayland
