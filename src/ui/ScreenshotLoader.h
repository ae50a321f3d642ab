#pragma once

#include "imaging/StoredScreenshotReader.h"

#include <QImage>
#include <QSet>
#include <QSize>
#include <QString>

#include <mutex>

namespace pellux {

// The search window's side of stored screenshots: one StoredScreenshotReader with the window's
// cache of rebuilt frames, run on the image provider's pool threads, and the one text every
// failure shows. Safe to call from several threads at once.
class ScreenshotLoader {
public:
    using DeltaChainLookup = StoredScreenshotReader::DeltaChainLookup;

    // What every failure answers; the reason goes to the log.
    static QString unavailableText() { return QStringLiteral("Screenshot unavailable"); }
    // Rebuilt frames kept for the deltas that follow them.
    static constexpr qint64 kDefaultCacheBytes = 192LL * 1024 * 1024;

    explicit ScreenshotLoader(DeltaChainLookup lookup, qint64 cacheBytes = kDefaultCacheBytes);

    static DeltaChainLookup databaseLookup(SimpleDatabaseManager &database)
    {
        return StoredScreenshotReader::databaseLookup(database);
    }

    // StoredScreenshotReader::read; on failure *error is unavailableText(). A size that the
    // screenshot's thumbnail serves (thumbnail::serves) is read from the thumbnail; a screenshot
    // without one has its frame read and the thumbnail written beside it when it is worth keeping
    // (thumbnail::worthKeeping; a delta keeps only the one made at capture). One that keeps none
    // is remembered: its frame is not reduced and encoded again only to learn that.
    QImage load(const QString &path, QSize requested, QString *error = nullptr);

    qsizetype cachedFrameCount() const { return m_reader.cachedFrameCount(); }
    qint64 cachedBytes() const { return m_reader.cachedBytes(); }

private:
    QImage loadSmall(const QString &path, QSize requested);

    StoredScreenshotReader m_reader;
    std::mutex m_mutex;
    QSet<QString> m_keepsNoThumbnail;
};

} // namespace pellux
