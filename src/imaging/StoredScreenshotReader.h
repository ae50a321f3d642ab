#pragma once

#include "persistence/SimpleDatabaseManager.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <vector>

namespace pellux {

// Reads stored screenshots: image files decoded at the size asked for, and "DLTA" delta files
// rebuilt from their chain into the full frame they stand for. Every file goes through
// readStoredFile, so a FIFO, a device or a symbolic link in the store is refused at once, never
// waited on or followed. Blocking; meant for worker threads, safe to call from several at once.
class StoredScreenshotReader {
public:
    // The stored files that rebuild a delta file (SimpleDatabaseManager::getDeltaChain); blocks.
    using DeltaChainLookup = std::function<std::optional<std::vector<DeltaChainLink>>(const QString &filePath)>;

    // Besides the frame asked for, every frame at a multiple of this position in its chain is kept,
    // so that the earlier deltas of one window (a grid shows them newest first) start nearby.
    static constexpr int kCheckpointInterval = 8;

    // Rebuilt frames are kept up to `cacheBytes` for the deltas that follow them.
    StoredScreenshotReader(DeltaChainLookup lookup, qint64 cacheBytes);

    // Asks the database, waiting on the calling thread (never call it on the database queue).
    static DeltaChainLookup databaseLookup(SimpleDatabaseManager &database);

    // The screenshot at `path`, fitted within `requested` (see fittedSize; full size when it is
    // empty). A null image when the file is missing, unreadable, not a regular file or
    // undecodable, or its chain is broken: then one line says why, and *reason holds it.
    QImage read(const QString &path, QSize requested, QString *reason = nullptr);

    // The frame size a delta chain describes. Its base may have been stored scaled down, while
    // the delta rectangles are in pixels of the captured frame: the delta's recorded compression
    // ratio gives the captured pixel count (ratio x stored bytes is the uncompressed TIFF size),
    // which with the base's aspect ratio gives the size. Without a usable ratio, the smallest size
    // of the base's aspect that holds every rectangle (`regionExtent`, their bounding size).
    static QSize inferSourceSize(QSize storedBase, std::optional<qint64> sourcePixels, QSize regionExtent);
    // The captured pixel count recorded with a delta of `storedBytes` bytes; absent when the ratio
    // does not give a whole, positive count.
    static std::optional<qint64> sourcePixelCount(std::optional<double> compressionRatio, qint64 storedBytes);

    qsizetype cachedFrameCount() const;
    qint64 cachedBytes() const;

private:
    QImage rebuildDelta(const QString &path, const QByteArray &bytes, QString *reason);
    std::optional<QImage> cachedFrame(const QString &path);
    void cacheFrame(const QString &path, const QImage &frame);

    DeltaChainLookup m_lookup;
    const qint64 m_cacheLimitBytes;

    // Least recently used first.
    mutable std::mutex m_mutex;
    std::list<std::pair<QString, QImage>> m_frames;
    QHash<QString, std::list<std::pair<QString, QImage>>::iterator> m_framesByPath;
    qint64 m_cachedBytes = 0;
};

} // namespace pellux
