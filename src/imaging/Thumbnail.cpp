#include "imaging/Thumbnail.h"

#include "runtime/Log.h"
#include "runtime/PixelBuffer.h"

#include <webp/encode.h>

#include <algorithm>
#include <memory>

namespace pellux::thumbnail {

namespace {

struct WebPBufferDeleter {
    void operator()(uint8_t *buffer) const { WebPFree(buffer); }
};

} // namespace

QString pathFor(const QString &screenshotPath) { return screenshotPath + QStringLiteral(".thumb"); }

QImage reduce(const QImage &frame)
{
    if (frame.isNull() || std::max(frame.width(), frame.height()) <= kLongerSide)
        return frame;
    return frame.scaled(kLongerSide, kLongerSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

std::optional<QByteArray> encode(const QImage &frame)
{
    if (frame.isNull() || frame.width() <= 0 || frame.height() <= 0) {
        log::failure(QStringLiteral("ERROR thumbnail: the frame has no pixels"));
        return std::nullopt;
    }
    const QImage small = reduce(frame);
    // Screens are opaque: the alpha channel, if any, is left out.
    const QImage pixels = pixelbuffer::asArgb32Family(small);
    uint8_t *output = nullptr;
    const size_t size = WebPEncodeBGRA(pixels.constBits(), pixels.width(), pixels.height(),
        static_cast<int>(pixels.bytesPerLine()), kWebPQuality, &output);
    const std::unique_ptr<uint8_t, WebPBufferDeleter> owned(output);
    if (size == 0 || !output) {
        log::failure(
            QStringLiteral("ERROR thumbnail: WebP encoding of %1x%2 failed").arg(pixels.width()).arg(pixels.height()));
        return std::nullopt;
    }
    return QByteArray(reinterpret_cast<const char *>(output), static_cast<qsizetype>(size));
}

bool serves(QSize requested)
{
    return requested.width() > 0 && requested.height() > 0 && requested.width() <= kLongerSide
        && requested.height() <= kLongerSide;
}

} // namespace pellux::thumbnail
