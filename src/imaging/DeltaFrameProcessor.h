#pragma once

#include "imaging/DeltaContainer.h"
#include "imaging/ImageOptimizer.h"
#include "runtime/Clock.h"

#include <QHash>
#include <QImage>
#include <QRect>
#include <QString>

#include <qcorotask.h>

#include <mutex>
#include <optional>
#include <vector>

namespace pellux {

// Turns a new capture of a window into a changed-region delta against the window's previous
// stored frame, or into a complete compressed frame that becomes the window's reference.
//
// The asynchronous operations do their pixel work on the global thread pool and resume on the
// caller's thread. The reference map is guarded by a mutex, although the capture cycle only ever
// processes one window at a time.
class DeltaFrameProcessor {
public:
    static constexpr int kTileSize = 64;
    // A tile counts as changed when its mean difference, (r + g + b) / 765, is above this.
    static constexpr double kTileChangeThreshold = 0.02;
    // Up to this share of changed pixels a frame is stored as a delta, above it in full.
    static constexpr double kMaxDeltaAreaShare = 0.3;
    static constexpr int maxReferenceFrames = 50;

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static DeltaFrameProcessor &shared();

    // Frames and regions are encoded by `encoder` (its content classification and codecs).
    explicit DeltaFrameProcessor(const ImageOptimizer &encoder, const Clock &clock = Clock::system());

    DeltaFrameProcessor(const DeltaFrameProcessor &) = delete;
    DeltaFrameProcessor &operator=(const DeltaFrameProcessor &) = delete;

    // The new image, the window's previous stored image (null when there is none), the window
    // identifier and the new image's perceptual hash. A full frame comes back with the reference it
    // is to become; nothing changes here until commitReference is called for it, once it is stored.
    QCoro::Task<DeltaFrameOutcome> processDeltaFrame(
        QImage currentImage, QImage previousImage, QString windowID, QString imageHash);

    // The 64-pixel tiles in which the two images differ, merged. Images of different sizes
    // differ everywhere: the answer is one rectangle covering the current image.
    QCoro::Task<std::vector<QRect>> findChangedRegions(QImage current, QImage previous);

    // The "DLTA" container of the given regions of the bitmap, each classified, scaled and
    // encoded on its own. Absent when a region cannot be encoded or the container would not fit
    // its 32-bit fields.
    QCoro::Task<std::optional<QByteArray>> createDeltaData(QImage bitmap, std::vector<QRect> regions);

    // The whole image classified, scaled and encoded; absent when no encoder succeeds.
    QCoro::Task<std::optional<QByteArray>> compressFullFrame(QImage image);

    // Makes a stored full frame the window's reference (storeReferenceFrame).
    void commitReference(const PendingReference &reference);

    // Records the window's reference frame, replacing an earlier one, and keeps only the
    // `maxReferenceFrames` most recently stored windows.
    void storeReferenceFrame(const QString &windowID, const QString &hash, const QByteArray &data);

    std::optional<FrameReference> referenceFrame(const QString &windowID) const;
    qsizetype referenceFrameCount() const;
    // Bytes held by the reference map: image data, hashes and window identifiers.
    qsizetype referenceFrameBytes() const;

    // Synchronous forms of the work above, for code already on a worker thread.
    // `changedTiles` gives the changed tiles unmerged, row by row, left to right.
    static std::vector<QRect> changedTiles(const QImage &current, const QImage &previous);
    static std::optional<QByteArray> encodeDeltaData(
        const ImageOptimizer &encoder, const QImage &bitmap, const std::vector<QRect> &regions);
    static std::optional<QByteArray> encodeFullFrame(const ImageOptimizer &encoder, const QImage &image);

    // Sorts by top then left and sweep-merges rectangles that intersect or whose facing edges
    // are less than 2 pixels apart.
    static std::vector<QRect> mergeAdjacentRegions(std::vector<QRect> regions);

private:
    struct StoredReference {
        FrameReference reference;
        quint64 sequence; // store order, to break ties between equal timestamps
    };

    // Compresses the image in full; once stored, it becomes the window's reference.
    QCoro::Task<DeltaFrameOutcome> fullFrameAsReference(QImage image, QString windowID, QString imageHash);

    const ImageOptimizer &m_encoder;
    const Clock &m_clock;
    mutable std::mutex m_mutex;
    QHash<QString, StoredReference> referenceFrames;
    quint64 m_storeSequence = 0;
};

} // namespace pellux
