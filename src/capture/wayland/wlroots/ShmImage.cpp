#include "capture/wayland/wlroots/ShmImage.h"

#include <QTransform>

#include <wayland-client-protocol.h>

namespace pellux::wayland {

bool isReadableShmFormat(uint32_t format)
{
    switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888:
    case WL_SHM_FORMAT_ABGR8888:
    case WL_SHM_FORMAT_XBGR8888:
        return true;
    default:
        return false;
    }
}

std::optional<QImage> imageFromShm(
    const uchar *data, int width, int height, int stride, uint32_t format, bool yInvert, int outputTransform)
{
    if (!isReadableShmFormat(format) || width <= 0 || height <= 0 || stride < width * 4)
        return std::nullopt;
    // Little-endian [31:0] X:R:G:B is QImage's 0xffRRGGBB; X:B:G:R is bytes R, G, B, X.
    const bool bgr = format == WL_SHM_FORMAT_ABGR8888 || format == WL_SHM_FORMAT_XBGR8888;
    const QImage view(data, width, height, stride, bgr ? QImage::Format_RGBX8888 : QImage::Format_RGB32);
    QImage image = bgr ? view.convertToFormat(QImage::Format_RGB32) : view.copy();
    if (yInvert)
        image.mirror(false, true);
    if (outputTransform == WL_OUTPUT_TRANSFORM_NORMAL)
        return image;
    // The buffer is the output's picture before its transform (a flip about the vertical axis, then
    // counter-clockwise turns): undo the turns, then the flip. Checked against grim on sway 1.7.
    const bool flipped = outputTransform >= WL_OUTPUT_TRANSFORM_FLIPPED;
    const int quarterTurns = outputTransform % 4;
    if (quarterTurns != 0)
        image = image.transformed(QTransform().rotate(-90.0 * quarterTurns));
    if (flipped)
        image.mirror(true, false);
    return image;
}

QRect regionOnOutput(const QRect &windowRect, const QRect &outputRect)
{
    const QRect visible = windowRect.intersected(outputRect);
    if (visible.isEmpty())
        return {};
    return visible.translated(-outputRect.topLeft());
}

QImage cropToRegion(const QImage &outputImage, const QRect &region, const QSize &outputSize)
{
    if (outputSize.isEmpty())
        return {};
    const double scaleX = double(outputImage.width()) / outputSize.width();
    const double scaleY = double(outputImage.height()) / outputSize.height();
    const QRect scaled
        = QRectF(region.x() * scaleX, region.y() * scaleY, region.width() * scaleX, region.height() * scaleY)
              .toAlignedRect()
              .intersected(outputImage.rect());
    return outputImage.copy(scaled);
}

int outputTransformFromName(const QString &name)
{
    static const char *const names[]
        = { "normal", "90", "180", "270", "flipped", "flipped-90", "flipped-180", "flipped-270" };
    for (int i = 0; i < 8; ++i) {
        if (name == QLatin1String(names[i]))
            return i;
    }
    return WL_OUTPUT_TRANSFORM_NORMAL;
}

} // namespace pellux::wayland
