#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <optional>

// Turning a PipeWire video buffer into the image the capture service stores: plain functions over
// plain data, kept apart from the stream so that they are tested without PipeWire.
namespace pellux::wayland {

// The raw layouts Pellux negotiates, named by their byte order in memory (as SPA names them).
enum class PixelLayout { bgrx, bgra, rgbx, rgba };

// The layout of an `spa_video_format` value, or nothing for a format Pellux does not read.
std::optional<PixelLayout> pixelLayoutFromSpaFormat(std::uint32_t spaVideoFormat);
const char *pixelLayoutName(PixelLayout layout);

// One mapped buffer as PipeWire hands it over: `size` bytes from `data`, rows `stride` bytes apart.
struct FrameView {
    const uchar *data = nullptr;
    qsizetype size = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    PixelLayout layout = PixelLayout::bgrx;
};

// A copy of `region` of the frame (clipped to the frame; the whole frame when empty) as
// Format_RGB32, every pixel opaque. A null image when the view is inconsistent (rows past `size`,
// a stride shorter than a row) or the clipped region is empty.
QImage convertFrame(const FrameView &frame, QRect region = {});

} // namespace pellux::wayland
