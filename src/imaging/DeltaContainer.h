#pragma once

#include "runtime/Clock.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>

namespace pellux {

// Every rectangle here is in pixels of the source image, origin at its top-left corner: the same
// convention for tile analysis, for cutting regions out and for the stored rectangles.
// `DeltaFrame` and `DeltaFrameOutcome` are declared with the image optimiser that consumes them.

// The last full frame stored for a window. Deltas of that window name it by `hash`.
struct FrameReference {
    QString hash; // perceptual hash of the frame
    QByteArray fullImageData; // the compressed full frame
    TimePoint timestamp; // when it was stored
};

// The "DLTA" container. Byte layout (integers unsigned 32-bit little-endian, reals IEEE-754
// single precision little-endian, no padding):
//   0  4  magic "DLTA"
//   4  4  N, the number of entries
//   8  …  N entries back to back, each:
//          0  4  x     4  4  y     8  4  width     12  4  height   (float)
//         16  4  L, byte length of the image data
//         20  L  the region's image, WebP or progressive JPEG, possibly scaled down
struct DeltaContainer {
    struct Entry {
        QRect rect; // where the region sits in the source image (unscaled)
        QByteArray data; // the encoded region
    };

    static constexpr char kMagic[4] = { 'D', 'L', 'T', 'A' };
    static constexpr qsizetype kHeaderSize = 8;
    static constexpr qsizetype kEntryHeaderSize = 20;
    // The count and every length must fit the 32-bit fields.
    static constexpr std::uint64_t kMaxFieldValue = UINT32_MAX;
    // No rectangle reaches beyond this on either axis; the reader refuses anything larger as corrupt.
    static constexpr int kMaxDimension = 32768;

    QList<Entry> entries;

    // The container bytes, or absent when a count or a length would not fit its 32-bit field, or
    // a rectangle or its data is one the reader would refuse (the container is then not produced
    // at all rather than truncated, and the caller stores a full frame instead).
    std::optional<QByteArray> serialize() const;
};

} // namespace pellux
