#include "imaging/PixelBuffer.h"

namespace pellux::pixelbuffer {

QImage asArgb32Family(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
    }
}

QImage view(const QImage &image32, const QRect &rect)
{
    if (rect.isEmpty() || !image32.rect().contains(rect) || image32.depth() != 32)
        return QImage();
    const uchar *origin = image32.constBits() + static_cast<qsizetype>(rect.y()) * image32.bytesPerLine()
        + static_cast<qsizetype>(rect.x()) * 4;
    return QImage(origin, rect.width(), rect.height(), image32.bytesPerLine(), image32.format());
}

bool isFullyTransparent(const QImage &image)
{
    if (image.isNull() || !image.hasAlphaChannel())
        return false;
    const QImage pixels = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_ARGB32_Premultiplied
        ? image
        : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if (qAlpha(row[x]) != 0)
                return false;
        }
    }
    return true;
}

} // namespace pellux::pixelbuffer
