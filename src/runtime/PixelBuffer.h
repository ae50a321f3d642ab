#pragma once

#include <QImage>
#include <QRect>

#include <algorithm>
#include <cstdint>

namespace pellux {

// A grid of square blocks laid over an image from its top-left corner, row-major; blocks at the
// right and bottom edges are narrower or shorter. Shared by the block hashes, the block-based
// delta and the tile analysis so that they all cut the same pixels.
struct BlockGrid {
    BlockGrid(int width, int height, int blockSize)
        : width(std::max(0, width))
        , height(std::max(0, height))
        , blockSize(blockSize)
        , rows((this->height + blockSize - 1) / blockSize)
        , columns((this->width + blockSize - 1) / blockSize)
    {
    }

    QRect block(int row, int col) const
    {
        const int x = col * blockSize;
        const int y = row * blockSize;
        return QRect(x, y, std::min(blockSize, width - x), std::min(blockSize, height - y));
    }

    int width;
    int height;
    int blockSize;
    int rows;
    int columns;
};

namespace pixelbuffer {

// The image in one of the 32-bit formats whose bytes read B, G, R, A on little-endian machines
// (RGB32, ARGB32, ARGB32_Premultiplied); converted only when it is in another format.
QImage asArgb32Family(const QImage &image);

// A read-only view of a rectangle of a 32-bit image, sharing its pixels (no copy). Null when the
// rectangle is empty or not inside the image. The source must outlive the view.
QImage view(const QImage &image32, const QRect &rect);

// Sum over a run of 32-bit pixels of |Δr| + |Δg| + |Δb|; the fourth byte is ignored.
std::uint32_t colourDifference(const std::uint32_t *a, const std::uint32_t *b, int count);

// True when the image has an alpha channel and every pixel is fully transparent.
bool isFullyTransparent(const QImage &image);

} // namespace pixelbuffer
} // namespace pellux
