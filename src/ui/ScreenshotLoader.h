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

// Loads stored screenshots for display: image files decoded at the size they are shown at, and
// "DLTA" delta files rebuilt into the full frame they stand for. Blocking; meant for worker threads
// (the image provider runs it on its own pool), safe to call from several at once.
class ScreenshotLoader {
public:
    // The stored files that rebuild a delta file (SimpleDatabaseManager::getDeltaChain); blocks.
    using DeltaChainLookup = std::function<std::optional<std::vector<DeltaChainLink>>(const QString &filePath)>;

    // What every failure answers; the reason goes to the log.
    static QString unavailableText() { return QStringLiteral("Screenshot unavailable"); }
    // Rebuilt frames kept for the deltas that follow them.
    static constexpr qint64 kDefaultCacheBytes = 192LL * 1024 * 1024;
    // Besides the frame asked for, every frame at a multiple of this position in its chain is kept,
    // so that the earlier deltas of one window (a grid shows them newest first) start nearby.
    static constexpr int kCheckpointInterval = 8;

    explicit ScreenshotLoader(DeltaChainLookup lookup, qint64 cacheBytes = kDefaultCacheBytes);

    // Asks the database, waiting on the calling thread (never call it on the database queue).
    static DeltaChainLookup databaseLookup(SimpleDatabaseManager &database);

    // The screenshot at `path`, fitted within `requested` with its aspect ratio kept (never
    // enlarged); at full size when `requested` is empty (a side of 0 or less leaves that side
    // free). A null image when the file is missing, unreadable or undecodable or its chain is
    // broken: then *error is unavailableText() and one line says why.
    QImage load(const QString &path, QSize requested, QString *error = nullptr);

    // The size an image of `source` pixels is shown at for a request (see load).
    static QSize fittedSize(QSize source, QSize requested);
    // Decodes WebP (libwebp scaling), JPEG (TurboJPEG scaling factors, then a smooth reduction) or
    // any format Qt reads (QImageReader scaling) straight to fittedSize(...). Null on failure, with
    // the reason in *reason.
    static QImage decodeImage(const QByteArray &bytes, QSize requested, QString *reason = nullptr);

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
