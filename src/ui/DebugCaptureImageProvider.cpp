#include "ui/DebugCaptureImageProvider.h"

#include <QMutexLocker>

namespace pellux {

void DebugCaptureImage::publish(const QString &id, const QImage &image)
{
    QMutexLocker lock(&m_mutex);
    m_id = id;
    m_image = image;
}

QImage DebugCaptureImage::image(const QString &id) const
{
    QMutexLocker lock(&m_mutex);
    return id == m_id ? m_image : QImage();
}

DebugCaptureImageProvider::DebugCaptureImageProvider(std::shared_ptr<const DebugCaptureImage> latest)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_latest(std::move(latest))
{
}

QImage DebugCaptureImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    QImage image = m_latest->image(id);
    if (image.isNull())
        return image;
    if (size)
        *size = image.size();
    // Fitted into the requested box, only ever smaller: a frame is not enlarged beyond its pixels.
    if (requestedSize.width() > 0 && requestedSize.height() > 0
        && (image.width() > requestedSize.width() || image.height() > requestedSize.height()))
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace pellux
