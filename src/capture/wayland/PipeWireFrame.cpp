#include "capture/wayland/PipeWireFrame.h"

#include <spa/param/video/raw.h>

namespace pellux::wayland {

std::optional<PixelLayout> pixelLayoutFromSpaFormat(std::uint32_t spaVideoFormat)
{
    switch (spaVideoFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
        return PixelLayout::bgrx;
    case SPA_VIDEO_FORMAT_BGRA:
        return PixelLayout::bgra;
    case SPA_VIDEO_FORMAT_RGBx:
        return PixelLayout::rgbx;
    case SPA_VIDEO_FORMAT_RGBA:
        return PixelLayout::rgba;
    default:
        return std::nullopt;
    }
}

const char *pixelLayoutName(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::bgrx:
        return "BGRx";
    case PixelLayout::bgra:
        return "BGRA";
    case PixelLayout::rgbx:
        return "RGBx";
    case PixelLayout::rgba:
        return "RGBA";
    }
    return "?";
}

QImage convertFrame(const FrameView &frame, QRect region)
{
    const QRect bounds(0, 0, frame.width, frame.height);
    if (!frame.data || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4)
        return {};
    if (qsizetype(frame.stride) * (frame.height - 1) + qsizetype(frame.width) * 4 > frame.size)
        return {};
    region = region.isEmpty() ? bounds : region.intersected(bounds);
    if (region.isEmpty())
        return {};

    // Byte offsets of red, green and blue within a pixel; the fourth byte is ignored, since the
    // stored image is opaque (a window's translucent edges would otherwise read as black).
    int red = 2, green = 1, blue = 0;
    if (frame.layout == PixelLayout::rgbx || frame.layout == PixelLayout::rgba) {
        red = 0;
        blue = 2;
    }
    QImage image(region.size(), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    for (int y = 0; y < region.height(); ++y) {
        const uchar *source = frame.data + qsizetype(frame.stride) * (region.y() + y) + qsizetype(region.x()) * 4;
        auto *target = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < region.width(); ++x, source += 4)
            target[x] = 0xff000000u | (QRgb(source[red]) << 16) | (QRgb(source[green]) << 8) | QRgb(source[blue]);
    }
    return image;
}

} // namespace pellux::wayland
