#include "ui/ScreenshotLoader.h"

#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageFileReader.h"
#include "imaging/Thumbnail.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pellux {

namespace {

// Thumbnails are only ever written into the store, beside a screenshot of it.
bool isInStore(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return clean.startsWith(QLatin1Char('/')) && clean.contains(QLatin1String("/Pellux/Screenshots/"));
}

} // namespace

ScreenshotLoader::ScreenshotLoader(DeltaChainLookup lookup, qint64 cacheBytes)
    : m_reader(std::move(lookup), cacheBytes)
{
}

QImage ScreenshotLoader::load(const QString &path, QSize requested, QString *error)
{
    QImage image = thumbnail::serves(requested) ? loadSmall(path, requested) : m_reader.read(path, requested);
    if (image.isNull() && error)
        *error = unavailableText();
    return image;
}

QImage ScreenshotLoader::loadSmall(const QString &path, QSize requested)
{
    const QString thumbnailPath = thumbnail::pathFor(path);
    if (const std::optional<QByteArray> bytes = readStoredFile(thumbnailPath)) {
        QImage image = decodeImage(*bytes, requested);
        if (!image.isNull())
            return image;
    }
    // A screenshot stored before thumbnails were kept (or whose thumbnail is damaged, or that
    // keeps none): its frame is read at the thumbnail's size, and a thumbnail worth keeping kept
    // for every later card.
    const QImage small = m_reader.read(path, QSize(thumbnail::kLongerSide, thumbnail::kLongerSide));
    if (small.isNull())
        return small;
    bool known = false;
    {
        std::lock_guard lock(m_mutex);
        known = m_keepsNoThumbnail.contains(path);
    }
    if (isInStore(path) && !known) {
        // A delta's chain is not looked into here: it keeps only the thumbnail made at capture. The
        // frame's own size rules out most others before any thumbnail is encoded.
        const std::optional<QByteArray> stored = readStoredFile(path);
        const bool mayKeep
            = stored && !DeltaFrameReader::isDeltaContainer(*stored) && thumbnail::mayBeWorthKeeping(stored->size());
        const std::optional<QByteArray> encoded = mayKeep ? thumbnail::encode(small) : std::nullopt;
        if (stored && (!mayKeep || (encoded && !thumbnail::worthKeeping(encoded->size(), stored->size())))) {
            std::lock_guard lock(m_mutex);
            m_keepsNoThumbnail.insert(path);
        } else if (encoded && stored) {
            QString why;
            if (!writePrivateFileAtomically(thumbnailPath, *encoded, &why))
                log::failure(QStringLiteral("ScreenshotLoader: cannot keep the thumbnail of %1: %2").arg(path, why));
            else if (!QFileInfo::exists(path))
                QFile::remove(thumbnailPath); // the screenshot was deleted meanwhile
        }
    }
    return small.scaled(fittedSize(small.size(), requested), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace pellux
