#include "imaging/StoredScreenshotReader.h"

#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "runtime/Log.h"

#include <cmath>
#include <future>
#include <memory>

namespace pellux {

namespace {

void setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
}

// The uncompressed TIFF size the capture pipeline divides by the stored size: pixels x 4 plus a
// fixed header, measured here from the same function.
qint64 tiffOverhead()
{
    static const qint64 overhead = tiffRepresentationSize(QImage(1, 1, QImage::Format_RGB32)) - 4;
    return overhead;
}

} // namespace

StoredScreenshotReader::StoredScreenshotReader(DeltaChainLookup lookup, qint64 cacheBytes)
    : m_lookup(std::move(lookup))
    , m_cacheLimitBytes(cacheBytes)
{
}

StoredScreenshotReader::DeltaChainLookup StoredScreenshotReader::databaseLookup(SimpleDatabaseManager &database)
{
    return [&database](const QString &filePath) {
        // A plain promise: this waits on a worker thread, and the hand-over through std::promise is
        // one the thread sanitizer sees (a QFuture's is inside Qt, which it cannot).
        auto promise = std::make_shared<std::promise<std::optional<std::vector<DeltaChainLink>>>>();
        std::future<std::optional<std::vector<DeltaChainLink>>> answer = promise->get_future();
        database.getDeltaChain(filePath,
            [promise](std::optional<std::vector<DeltaChainLink>> chain) { promise->set_value(std::move(chain)); });
        return answer.get();
    };
}

std::optional<qint64> StoredScreenshotReader::sourcePixelCount(
    std::optional<double> compressionRatio, qint64 storedBytes)
{
    if (!compressionRatio || !std::isfinite(*compressionRatio) || *compressionRatio <= 0 || storedBytes <= 0)
        return std::nullopt;
    const double pixels = (*compressionRatio * double(std::max<qint64>(1, storedBytes)) - double(tiffOverhead())) / 4.0;
    const double whole = std::round(pixels);
    // The ratio was computed from exactly these numbers; anything else (a file rewritten since,
    // a row from another version) is not trusted.
    if (whole < 1 || whole > double(DeltaFrameReader::kMaxDimension) * DeltaFrameReader::kMaxDimension
        || std::abs(pixels - whole) > 0.01)
        return std::nullopt;
    return qint64(whole);
}

QSize StoredScreenshotReader::inferSourceSize(QSize storedBase, std::optional<qint64> sourcePixels, QSize regionExtent)
{
    if (storedBase.isEmpty())
        return storedBase;
    const auto holdsRegions
        = [&](QSize size) { return size.width() >= regionExtent.width() && size.height() >= regionExtent.height(); };
    const qint64 storedPixels = qint64(storedBase.width()) * storedBase.height();
    if (sourcePixels && *sourcePixels == storedPixels && holdsRegions(storedBase))
        return storedBase;
    if (sourcePixels && *sourcePixels > storedPixels) {
        // Scaling rounds each side on its own: look for the size near the exact factor whose
        // pixels match, closest in aspect to the base.
        const double scale = std::sqrt(double(*sourcePixels) / double(storedPixels));
        const int width0 = int(std::lround(storedBase.width() * scale));
        const int height0 = int(std::lround(storedBase.height() * scale));
        const double aspect = double(storedBase.width()) / storedBase.height();
        std::optional<QSize> best;
        double bestError = 0;
        const int reach = std::max(2, int(std::ceil(scale)) + 1);
        for (int w = std::max(1, width0 - reach); w <= width0 + reach; ++w) {
            if (*sourcePixels % w != 0)
                continue;
            const QSize candidate(w, int(*sourcePixels / w));
            if (!holdsRegions(candidate))
                continue;
            const double error = std::abs(double(candidate.width()) / candidate.height() - aspect);
            if (!best || error < bestError) {
                best = candidate;
                bestError = error;
            }
        }
        if (best && std::abs(best->height() - height0) <= reach)
            return *best;
    }
    if (holdsRegions(storedBase))
        return storedBase;
    const double scale = std::max(
        double(regionExtent.width()) / storedBase.width(), double(regionExtent.height()) / storedBase.height());
    return QSize(std::max(regionExtent.width(), int(std::ceil(storedBase.width() * scale))),
        std::max(regionExtent.height(), int(std::ceil(storedBase.height() * scale))));
}

QImage StoredScreenshotReader::read(const QString &path, QSize requested, QString *reason)
{
    QString why;
    QImage image;
    if (const std::optional<QByteArray> bytes = readStoredFile(path, &why)) {
        if (DeltaFrameReader::isDeltaContainer(*bytes)) {
            image = rebuildDelta(path, *bytes, &why);
            const QSize target = fittedSize(image.size(), requested);
            if (!image.isNull() && image.size() != target)
                image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        } else {
            image = decodeImage(*bytes, requested, &why);
        }
    }
    if (image.isNull()) {
        log::failure(QStringLiteral("ERROR StoredScreenshotReader: Cannot read %1: %2").arg(path, why));
        if (reason)
            *reason = why;
    }
    return image;
}

QImage StoredScreenshotReader::rebuildDelta(const QString &path, const QByteArray &bytes, QString *reason)
{
    if (!m_lookup) {
        setReason(reason, QStringLiteral("a delta frame, and no database to find its reference in"));
        return {};
    }
    const std::optional<std::vector<DeltaChainLink>> chain = m_lookup(path);
    if (!chain || chain->empty()) {
        setReason(reason, QStringLiteral("the chain of frames this delta builds on is broken"));
        return {};
    }
    if (chain->size() < 2 || chain->back().filePath != path) {
        setReason(reason, QStringLiteral("a delta frame whose recording names no reference frame"));
        return {};
    }
    const auto last = qsizetype(chain->size()) - 1;

    // Start from the latest frame of the chain already rebuilt, else from its full frame.
    qsizetype start = 0;
    QImage frame;
    for (qsizetype i = last; i >= 0; --i) {
        if (std::optional<QImage> cached = cachedFrame((*chain)[size_t(i)].filePath)) {
            start = i;
            frame = *cached;
            break;
        }
    }
    if (start == last && !frame.isNull())
        return frame;

    // The deltas still to apply, read and checked before any pixels are touched.
    std::vector<DeltaContainer> deltas;
    QSize extent;
    std::optional<qint64> sourcePixels;
    // A frame of the chain stored in full since (a deletion keeps the frames after it readable
    // that way) starts the frame again, whatever its row still says.
    std::optional<std::pair<qsizetype, QByteArray>> restart;
    for (qsizetype i = start + 1; i <= last; ++i) {
        const DeltaChainLink &link = (*chain)[size_t(i)];
        QByteArray deltaBytes = bytes;
        if (i != last) {
            QString why;
            std::optional<QByteArray> read = readStoredFile(link.filePath, &why);
            if (!read) {
                setReason(reason, QStringLiteral("delta %1 of its chain: %2").arg(link.filePath, why));
                return {};
            }
            deltaBytes = std::move(*read);
            if (!DeltaFrameReader::isDeltaContainer(deltaBytes)) {
                restart.emplace(i, std::move(deltaBytes));
                deltas.clear();
                extent = QSize();
                sourcePixels.reset();
                continue;
            }
        }
        std::optional<DeltaContainer> container = DeltaFrameReader::parse(deltaBytes);
        if (!container) {
            setReason(reason, QStringLiteral("delta %1 of its chain is not a valid container").arg(link.filePath));
            return {};
        }
        for (const DeltaContainer::Entry &entry : container->entries)
            extent = extent.expandedTo(QSize(entry.rect.right() + 1, entry.rect.bottom() + 1));
        if (!sourcePixels)
            sourcePixels = sourcePixelCount(link.compressionRatio, deltaBytes.size());
        deltas.push_back(std::move(*container));
    }

    if (restart) {
        start = restart->first;
        frame = QImage();
    }
    if (frame.isNull()) {
        const DeltaChainLink &base = (*chain)[size_t(start)];
        QString why;
        const std::optional<QByteArray> read
            = restart ? std::optional(restart->second) : readStoredFile(base.filePath, &why);
        if (!read) {
            setReason(reason, QStringLiteral("its reference frame %1: %2").arg(base.filePath, why));
            return {};
        }
        const QByteArray &baseBytes = *read;
        if (DeltaFrameReader::isDeltaContainer(baseBytes)) {
            setReason(reason, QStringLiteral("its reference frame %1 is not a full frame").arg(base.filePath));
            return {};
        }
        QString baseReason;
        frame = decodeImage(baseBytes, QSize(), &baseReason);
        if (frame.isNull()) {
            setReason(reason, QStringLiteral("its reference frame %1: %2").arg(base.filePath, baseReason));
            return {};
        }
        // A full frame may have been stored scaled down; the rectangles are in captured pixels.
        const QSize sourceSize = inferSourceSize(frame.size(), sourcePixels, extent);
        if (sourceSize != frame.size())
            frame = frame.scaled(sourceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        frame = frame.convertToFormat(QImage::Format_RGB32);
        cacheFrame(base.filePath, frame);
    }

    for (size_t k = 0; k < deltas.size(); ++k) {
        const qsizetype position = start + 1 + qsizetype(k);
        const QString &deltaPath = (*chain)[size_t(position)].filePath;
        if (!DeltaFrameReader::applyInPlace(frame, deltas[k])) {
            setReason(
                reason, QStringLiteral("delta %1 of its chain does not apply to the frame before it").arg(deltaPath));
            return {};
        }
        if (position == last || position % kCheckpointInterval == 0)
            cacheFrame(deltaPath, frame);
    }
    return frame;
}

std::optional<QImage> StoredScreenshotReader::cachedFrame(const QString &path)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_framesByPath.constFind(path);
    if (found == m_framesByPath.cend())
        return std::nullopt;
    m_frames.splice(m_frames.end(), m_frames, *found);
    return (*found)->second;
}

void StoredScreenshotReader::cacheFrame(const QString &path, const QImage &frame)
{
    const qint64 size = frame.sizeInBytes();
    if (size > m_cacheLimitBytes)
        return;
    std::lock_guard lock(m_mutex);
    if (const auto found = m_framesByPath.constFind(path); found != m_framesByPath.cend()) {
        m_cachedBytes -= (*found)->second.sizeInBytes();
        m_frames.erase(*found);
        m_framesByPath.erase(found);
    }
    while (!m_frames.empty() && m_cachedBytes + size > m_cacheLimitBytes) {
        m_cachedBytes -= m_frames.front().second.sizeInBytes();
        m_framesByPath.remove(m_frames.front().first);
        m_frames.pop_front();
    }
    m_frames.emplace_back(path, frame);
    m_framesByPath.insert(path, std::prev(m_frames.end()));
    m_cachedBytes += size;
}

qsizetype StoredScreenshotReader::cachedFrameCount() const
{
    std::lock_guard lock(m_mutex);
    return qsizetype(m_frames.size());
}

qint64 StoredScreenshotReader::cachedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_cachedBytes;
}

} // namespace pellux
