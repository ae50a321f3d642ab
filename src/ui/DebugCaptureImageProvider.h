#pragma once

#include <QImage>
#include <QMutex>
#include <QQuickImageProvider>
#include <QString>

#include <memory>

namespace pellux {

// The frame the debug window shows, handed from the main thread to the image provider's thread.
class DebugCaptureImage {
public:
    void publish(const QString &id, const QImage &image);
    // The frame when `id` is still the latest, else null.
    QImage image(const QString &id) const;

private:
    mutable QMutex m_mutex;
    QString m_id;
    QImage m_image;
};

// image://debugcapture/<capture id>: the latest captured frame, scaled down to fit the requested size.
// A capture that has been replaced meanwhile answers a null image.
class DebugCaptureImageProvider final : public QQuickImageProvider {
public:
    explicit DebugCaptureImageProvider(std::shared_ptr<const DebugCaptureImage> latest);
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    std::shared_ptr<const DebugCaptureImage> m_latest;
};

} // namespace pellux
