#pragma once

#include "imaging/DeltaContainer.h"

#include <QByteArray>
#include <QImage>
#include <QList>

#include <optional>

namespace pellux {

// Reads "DLTA" containers back and applies them to the frame they were made against.
// Every function checks its input against the data actually present and answers malformed input
// with a failure line and an absent result.
class DeltaFrameReader {
public:
    // Regions larger than this on either side, or lying beyond it, are refused as corrupt.
    static constexpr int kMaxDimension = DeltaContainer::kMaxDimension;

    // True when the bytes start with the "DLTA" magic (a delta file, not an image file).
    static bool isDeltaContainer(const QByteArray &bytes);

    // The entries exactly as written, or absent for malformed bytes: wrong magic, truncated
    // header or entry, a count or length beyond the data, trailing bytes, non-integral, negative,
    // empty or absurdly large rectangles, empty region data.
    static std::optional<DeltaContainer> parse(const QByteArray &bytes);

    // Decodes one region's image (WebP or JPEG) at its stored, possibly reduced, size, RGB32 and opaque. An image
    // whose header claims more than `limit` on either side is refused before any pixels are
    // allocated.
    static std::optional<QImage> decodeRegion(
        const QByteArray &data, QSize limit = QSize(kMaxDimension, kMaxDimension));

    // The frame the delta describes: `base` (the window's previous frame, at the source size)
    // with every region decoded, scaled back to its rectangle and painted in order. Absent when a
    // region lies outside `base` or cannot be decoded.
    static std::optional<QImage> applyDelta(const QImage &base, const DeltaContainer &container);
    // The same on a frame changed in place (RGB32, opaque, as every frame of a chain is), so that a
    // chain of deltas copies its frame once, not once per delta. False as applyDelta is absent; the
    // frame is then partly painted.
    static bool applyInPlace(QImage &frame, const DeltaContainer &container);
    static std::optional<QImage> applyDelta(const QImage &base, const QByteArray &bytes);
};

} // namespace pellux
