#include "imaging/Thumbnail.h"

#include "imaging/WebPEncoding.h"
#include "runtime/Log.h"

#include <algorithm>

namespace pellux::thumbnail {

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
    // The stored frames' encoder: its fastest method takes half the processor time of the
    // library's default here, for a fifth more bytes on a thumbnail of a few kilobytes.
    std::optional<QByteArray> encoded = encodeLossyWebP(reduce(frame), kWebPQuality);
    if (!encoded)
        log::failure(QStringLiteral("ERROR thumbnail: WebP encoding of the %1x%2 frame failed")
                         .arg(frame.width())
                         .arg(frame.height()));
    return encoded;
}

bool worthKeeping(qint64 thumbnailBytes, qint64 wholeFrameBytes)
{
    return thumbnailBytes > 0 && thumbnailBytes * 12 <= wholeFrameBytes;
}

bool mayBeWorthKeeping(qint64 wholeFrameBytes) { return worthKeeping(1024, wholeFrameBytes); }

bool serves(QSize requested)
{
    // A fifth more than the thumbnail still takes it: a window a little too narrow for one more
    // column widens every card past the thumbnail, and a preview shown a fifth larger stays sharp
    // enough, where decoding every card's whole frame would not be cheap.
    const int largest = kLongerSide * 6 / 5;
    return requested.width() > 0 && requested.height() > 0 && requested.width() <= largest
        && requested.height() <= largest;
}

} // namespace pellux::thumbnail
