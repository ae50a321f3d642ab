#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

// The small image each screenshot keeps for the cards and the timeline, so that they never decode
// a full frame or rebuild a delta chain.
//
// It lives beside its screenshot, in the same hour folder, named after it with ".thumb" added:
// removing a screenshot's file removes it by the same path arithmetic, an hour folder that goes
// takes it along, it is counted in the store's disk use and is private like everything there,
// and the walks that look for screenshots (re-compression, healing, recovery of the list) know
// screenshots by their image extensions, which it does not have.
namespace pellux::thumbnail {

inline constexpr int kLongerSide = 320;
inline constexpr double kWebPQuality = 0.75;

QString pathFor(const QString &screenshotPath);

// The frame reduced to at most kLongerSide pixels on its longer side (never enlarged).
QImage reduce(const QImage &frame);

// The frame reduced and encoded as lossy WebP; absent (with a log line) for an empty frame or
// when the encoder fails.
std::optional<QByteArray> encode(const QImage &frame);

// Whether a thumbnail of `thumbnailBytes` is kept, given the whole frame of `wholeFrameBytes` that
// a card would otherwise decode (the screenshot itself, or the first frame of a delta's chain): at
// most a twelfth of it. Text is stored so compactly (a terminal window in a few kilobytes, a typed
// line's delta in a few hundred bytes) that a lossy thumbnail of it would weigh more than the
// frames it stands for, while a frame that small decodes about as fast as its thumbnail would.
bool worthKeeping(qint64 thumbnailBytes, qint64 wholeFrameBytes);
// Whether any thumbnail can be worth keeping for that frame: none is made for a frame so light
// that only a thumbnail of under a kilobyte would be (such a frame decodes in no time).
bool mayBeWorthKeeping(qint64 wholeFrameBytes);

// Whether an image asked for at `requested` is served by a thumbnail: a non-empty request no side
// of which exceeds kLongerSide (the thumbnail's longer side, unless the frame itself is smaller,
// and then it is the frame) by more than a fifth. The thumbnail is never enlarged; the view
// stretches it.
bool serves(QSize requested);

} // namespace pellux::thumbnail
