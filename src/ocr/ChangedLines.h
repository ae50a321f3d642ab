#pragma once

#include "persistence/Recording.h"

#include <QImage>
#include <QSize>

#include <optional>
#include <vector>

namespace pellux {

// Recognising only the lines of a frame that changed since the window's previous frame, whose
// text is known: the rest of the text is taken over from that frame.

// Pixel rows [top, bottom) of an image, top-left origin.
struct RowSpan {
    int top = 0;
    int bottom = 0;

    int height() const { return bottom - top; }
    bool operator==(const RowSpan &) const = default;
};

// Above this share of the frame's height in lines to recognise, the whole frame is recognised.
inline constexpr double kMaxChangedHeightShare = 0.4;
// Blank rows kept above and below a changed line, at most, so that the recogniser sees the line
// with some paper around it.
inline constexpr int kChangedLineMargin_px = 6;

// The runs of rows in which any pixel of the two images differs (colour and alpha). Images of
// different sizes differ everywhere: one span over the whole of `current`.
std::vector<RowSpan> changedRows(const QImage &current, const QImage &previous);

// A fragment's bounds (lower-left origin, as OCRText keeps them) as rows of an image of `height`.
RowSpan rowsOfBounds(const QRectF &lowerLeftBounds, int height);

// The bands of whole text lines to recognise again: each changed span widened by `margin_px`,
// then to every line of the previous frame (`previous`, bounds with a lower-left origin) it
// touches, then by up to `margin_px` of blank rows that no other line occupies. Overlapping bands
// are merged; sorted top to bottom. None when they cover more than kMaxChangedHeightShare of the
// height: the whole frame is then cheaper to recognise than to piece together.
std::optional<std::vector<RowSpan>> linesToRecognize(const std::vector<RowSpan> &changed,
    const std::vector<OCRText> &previous, QSize imageSize, int margin_px = kChangedLineMargin_px);

// The fragments of the new frame: the previous fragments outside the bands, in their order, with
// the fragments recognised in the bands (`recognized`, in recognition order, bounds already in the
// frame's space) in place of the previous ones whose rows intersect a band. A new fragment takes
// the place in the reading order of the replaced fragment it overlaps most; one that overlaps none
// follows the last fragment above it (or leads, with nothing above). Every fragment is stamped
// with `recordingId` and `timestamp` and the ones taken over get fresh ids.
std::vector<OCRText> mergeChangedLines(const std::vector<OCRText> &previous, const std::vector<RowSpan> &bands,
    const std::vector<OCRText> &recognized, int imageHeight, const QUuid &recordingId, TimePoint timestamp);

} // namespace pellux
