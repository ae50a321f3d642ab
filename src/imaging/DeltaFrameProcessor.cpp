#include "imaging/DeltaFrameProcessor.h"

#include "runtime/Log.h"
#include "runtime/PixelBuffer.h"
#include "runtime/SharedInstance.h"
#include "runtime/ThreadPool.h"

#include <qcorofuture.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace pellux {

namespace {

qint64 areaOf(const std::vector<QRect> &regions)
{
    qint64 area = 0;
    for (const QRect &r : regions)
        area += qint64(r.width()) * r.height();
    return area;
}

} // namespace

DeltaFrameProcessor &DeltaFrameProcessor::shared()
{
    return SharedInstance<DeltaFrameProcessor>::get("DeltaFrameProcessor");
}

DeltaFrameProcessor::DeltaFrameProcessor(const ImageOptimizer &encoder, const Clock &clock)
    : m_encoder(encoder)
    , m_clock(clock)
{
}

// GCC 12 destroys temporaries that live across a suspension point twice, so every task and future
// awaited below is a named local, never a temporary inside the co_await expression.

QCoro::Task<DeltaFrameOutcome> DeltaFrameProcessor::processDeltaFrame(
    QImage currentImage, QImage previousImage, QString windowID, QString imageHash)
{
    if (currentImage.isNull()) {
        log::failure(QStringLiteral("ERROR DeltaFrameProcessor: No image to process for window %1").arg(windowID));
        co_return DeltaFrameOutcome {};
    }
    if (!previousImage.isNull()) {
        QCoro::Task<std::vector<QRect>> changes = findChangedRegions(currentImage, previousImage);
        const std::vector<QRect> regions = co_await changes;
        const qint64 changedArea = areaOf(regions);
        const qint64 totalArea = qint64(currentImage.width()) * currentImage.height();
        // A delta is only useful if the frame it builds on can be found again.
        const std::optional<FrameReference> reference = referenceFrame(windowID);
        // changed ÷ total > 0.3, in integers so that exactly 30 % stays a delta
        if (changedArea * 10 > totalArea * 3) {
            log::debug(
                QStringLiteral("DEBUG DeltaFrameProcessor: %1 of %2 pixels changed in window %3, storing full frame")
                    .arg(changedArea)
                    .arg(totalArea)
                    .arg(windowID));
        } else if (!reference) {
            log::debug(QStringLiteral("DEBUG DeltaFrameProcessor: No reference frame for window %1, storing full frame")
                           .arg(windowID));
        } else {
            QCoro::Task<std::optional<QByteArray>> encoding = createDeltaData(currentImage, regions);
            const std::optional<QByteArray> container = co_await encoding;
            if (container) {
                const double sourceSize = static_cast<double>(tiffRepresentationSize(currentImage));
                const double ratio = sourceSize / static_cast<double>(std::max<qsizetype>(1, container->size()));
                log::debug(QStringLiteral("DEBUG DeltaFrameProcessor: Delta of %1 regions for window %2, %3 bytes")
                               .arg(qsizetype(regions.size()))
                               .arg(windowID)
                               .arg(container->size()));
                co_return DeltaFrameOutcome { DeltaFrame { regions, *container, reference->hash, ratio }, std::nullopt,
                    std::nullopt };
            }
            log::debug(QStringLiteral("DEBUG DeltaFrameProcessor: Delta for window %1 failed, storing full frame")
                           .arg(windowID));
        }
    }
    QCoro::Task<DeltaFrameOutcome> full = fullFrameAsReference(currentImage, windowID, imageHash);
    co_return co_await full;
}

QCoro::Task<DeltaFrameOutcome> DeltaFrameProcessor::fullFrameAsReference(
    QImage image, QString windowID, QString imageHash)
{
    QCoro::Task<std::optional<QByteArray>> compression = compressFullFrame(image);
    std::optional<QByteArray> full = co_await compression;
    if (!full) {
        log::failure(
            QStringLiteral("ERROR DeltaFrameProcessor: Could not compress full frame for window %1").arg(windowID));
        co_return DeltaFrameOutcome {};
    }
    PendingReference reference { windowID, imageHash, *full };
    co_return DeltaFrameOutcome { std::nullopt, std::move(full), std::move(reference) };
}

QCoro::Task<std::vector<QRect>> DeltaFrameProcessor::findChangedRegions(QImage current, QImage previous)
{
    return runOnPool([current, previous] { return mergeAdjacentRegions(changedTiles(current, previous)); });
}

QCoro::Task<std::optional<QByteArray>> DeltaFrameProcessor::createDeltaData(QImage bitmap, std::vector<QRect> regions)
{
    return runOnPool([this, bitmap, regions] { return encodeDeltaData(m_encoder, bitmap, regions); });
}

QCoro::Task<std::optional<QByteArray>> DeltaFrameProcessor::compressFullFrame(QImage image)
{
    return runOnPool([this, image] { return encodeFullFrame(m_encoder, image); });
}

std::vector<QRect> DeltaFrameProcessor::changedTiles(const QImage &currentImage, const QImage &previousImage)
{
    if (currentImage.isNull())
        return {};
    if (previousImage.isNull() || previousImage.size() != currentImage.size())
        return { currentImage.rect() };

    const QImage current = pixelbuffer::asArgb32Family(currentImage);
    const QImage previous = pixelbuffer::asArgb32Family(previousImage);
    const BlockGrid grid(current.width(), current.height(), kTileSize);
    std::vector<std::uint64_t> sums(static_cast<size_t>(grid.columns));
    std::vector<QRect> changed;

    for (int row = 0; row < grid.rows; ++row) {
        const QRect rowBand = grid.block(row, 0);
        std::fill(sums.begin(), sums.end(), 0);
        for (int y = rowBand.top(); y <= rowBand.bottom(); ++y) {
            const auto *a = reinterpret_cast<const std::uint32_t *>(current.constScanLine(y));
            const auto *b = reinterpret_cast<const std::uint32_t *>(previous.constScanLine(y));
            for (int column = 0; column < grid.columns; ++column) {
                const QRect tile = grid.block(row, column);
                // Most of a screen does not change between captures: skip equal runs cheaply.
                if (std::memcmp(a + tile.x(), b + tile.x(), size_t(tile.width()) * 4) != 0)
                    sums[size_t(column)] += pixelbuffer::colourDifference(a + tile.x(), b + tile.x(), tile.width());
            }
        }
        for (int column = 0; column < grid.columns; ++column) {
            const QRect tile = grid.block(row, column);
            const auto pixels = static_cast<std::uint64_t>(tile.width()) * tile.height();
            // mean (r + g + b) / 765 > 0.02, kept in integers: sum > 15.3 × pixels
            if (sums[size_t(column)] * 10 > pixels * 153)
                changed.push_back(tile);
        }
    }
    return changed;
}

std::optional<QByteArray> DeltaFrameProcessor::encodeDeltaData(
    const ImageOptimizer &encoder, const QImage &bitmap, const std::vector<QRect> &regions)
{
    if (bitmap.isNull()) {
        log::failure(QStringLiteral("ERROR DeltaFrameProcessor: No bitmap to cut delta regions from"));
        return std::nullopt;
    }
    // Screen pixels are opaque: the fourth byte is padding here exactly as in the tile analysis, so
    // a region is encoded with the colours that were compared, never made transparent or black.
    const QImage pixels = pixelbuffer::asArgb32Family(bitmap);
    DeltaContainer container;
    container.entries.reserve(qsizetype(regions.size()));
    for (const QRect &region : regions) {
        // The stored rectangle is exactly the block of pixels that was encoded.
        const QRect cut = region.normalized().intersected(bitmap.rect());
        if (cut.isEmpty()) {
            log::debug(QStringLiteral("DEBUG DeltaFrameProcessor: Skipping region %1,%2 %3x%4 outside the %5x%6 image")
                           .arg(region.x())
                           .arg(region.y())
                           .arg(region.width())
                           .arg(region.height())
                           .arg(bitmap.width())
                           .arg(bitmap.height()));
            continue;
        }
        QImage cutOut = pixels.copy(cut);
        cutOut.reinterpretAsFormat(QImage::Format_RGB32);
        std::optional<QByteArray> encoded = encoder.compressByContent(cutOut);
        if (!encoded) {
            // Leaving the region out would store a frame that silently lacks part of its change.
            log::failure(QStringLiteral("ERROR DeltaFrameProcessor: Could not encode region %1,%2 %3x%4")
                             .arg(cut.x())
                             .arg(cut.y())
                             .arg(cut.width())
                             .arg(cut.height()));
            return std::nullopt;
        }
        container.entries.append({ cut, std::move(*encoded) });
    }
    return container.serialize();
}

std::optional<QByteArray> DeltaFrameProcessor::encodeFullFrame(const ImageOptimizer &encoder, const QImage &image)
{
    if (image.isNull())
        return std::nullopt;
    return encoder.compressByContent(image);
}

void DeltaFrameProcessor::commitReference(const PendingReference &reference)
{
    storeReferenceFrame(reference.windowID, reference.hash, reference.fullImageData);
}

void DeltaFrameProcessor::storeReferenceFrame(const QString &windowID, const QString &hash, const QByteArray &data)
{
    std::lock_guard lock(m_mutex);
    referenceFrames.insert(
        windowID, StoredReference { FrameReference { hash, data, m_clock.now() }, ++m_storeSequence });
    if (referenceFrames.size() <= maxReferenceFrames)
        return;

    struct Aged {
        TimePoint timestamp;
        quint64 sequence;
        QString windowID;
    };
    std::vector<Aged> byAge;
    byAge.reserve(size_t(referenceFrames.size()));
    for (auto it = referenceFrames.cbegin(); it != referenceFrames.cend(); ++it)
        byAge.push_back({ it->reference.timestamp, it->sequence, it.key() });
    std::sort(byAge.begin(), byAge.end(), [](const Aged &a, const Aged &b) {
        return a.timestamp != b.timestamp ? a.timestamp < b.timestamp : a.sequence < b.sequence;
    });
    const qsizetype excess = referenceFrames.size() - maxReferenceFrames;
    for (qsizetype i = 0; i < excess; ++i)
        referenceFrames.remove(byAge[size_t(i)].windowID);
}

std::optional<FrameReference> DeltaFrameProcessor::referenceFrame(const QString &windowID) const
{
    std::lock_guard lock(m_mutex);
    const auto it = referenceFrames.constFind(windowID);
    if (it == referenceFrames.cend())
        return std::nullopt;
    return it->reference;
}

qsizetype DeltaFrameProcessor::referenceFrameCount() const
{
    std::lock_guard lock(m_mutex);
    return referenceFrames.size();
}

qsizetype DeltaFrameProcessor::referenceFrameBytes() const
{
    std::lock_guard lock(m_mutex);
    qsizetype bytes = 0;
    for (auto it = referenceFrames.cbegin(); it != referenceFrames.cend(); ++it) {
        bytes += qsizetype(sizeof(StoredReference)) + it->reference.fullImageData.size()
            + (it->reference.hash.size() + it.key().size()) * qsizetype(sizeof(QChar));
    }
    return bytes;
}

std::vector<QRect> DeltaFrameProcessor::mergeAdjacentRegions(std::vector<QRect> regions)
{
    return ImageOptimizer::mergeAdjacentRegions(std::move(regions));
}

} // namespace pellux
