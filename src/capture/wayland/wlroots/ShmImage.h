#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <optional>

namespace pellux::wayland {

// Whether Pellux reads this wl_shm format: the 32-bit ones with 8-bit red, green and blue.
bool isReadableShmFormat(uint32_t format);

// The picture in a wl_shm buffer as QImage::Format_RGB32, upright: rows flipped back when the
// compositor wrote them bottom-up (`yInvert`) and the output's transform (a wl_output_transform
// value) undone, since screen copies arrive in the output's own buffer orientation. Nothing for a
// format isReadableShmFormat refuses or a size that does not fit the stride.
std::optional<QImage> imageFromShm(
    const uchar *data, int width, int height, int stride, uint32_t format, bool yInvert, int outputTransform);

// The part of a window's rectangle (layout coordinates) that lies on an output placed at
// `outputRect`, relative to the output's top left corner; empty when they do not meet.
QRect regionOnOutput(const QRect &windowRect, const QRect &outputRect);

// The part of a picture of a whole output that shows `region` (logical coordinates relative to the
// output, whose logical size is `outputSize`), at the picture's scale.
QImage cropToRegion(const QImage &outputImage, const QRect &region, const QSize &outputSize);

// The wl_output_transform value of sway's transform names ("normal", "90", "flipped-270", ...).
int outputTransformFromName(const QString &name);

} // namespace pellux::wayland
