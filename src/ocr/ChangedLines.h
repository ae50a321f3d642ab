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

// The runs of rows of `current` in which any pixel (colour and alpha) differs from the row
// `shift` rows further down in `previous`, the rows a scroll by `shift` (see scrollShift) put
// there; rows that came from beyond the image are changed. Images of different sizes differ
// everywhere: one span over the whole of `current`.
std::vector<RowSpan> changedRows(const QImage &current, const QImage &previous, int shift = 0);

// How many rows the content of `current` moved up against `previous` (down when negative): row y
// of `current` shows row y + shift of `previous`. 0 when no scroll leaves more rows as they were
// than no scroll does, and for images of different sizes.
int scrollShift(const QImage &current, const QImage &previous);

// The previous frame's fragments (lower-left bounds; their word boxes moved alike) where a scroll
// by `shift` rows put them in an image of `height`, in their order. Fragments that left the image
// are dropped; the rows a fragment only partly left are added to `changed`, so that what is still
// visible of its line is recognised anew (unless the fragment is a column many lines tall, see
// linesToRecognize).
std::vector<OCRText> scrolledFragments(
    const std::vector<OCRText> &previous, int shift, int height, std::vector<RowSpan> &changed);

// A fragment's bounds (lower-left origin, as OCRText keeps them) as rows of an image of `height`.
RowSpan rowsOfBounds(const QRectF &lowerLeftBounds, int height);

// The bands of whole text lines to recognise again: each changed span widened by `margin_px`,
// then to every line of the previous frame (`previous`, bounds with a lower-left origin) the
// change touches or the band reaches the core of (its box less a sixth at either end: the boxes
// of neighbouring lines often share a row), then by up to `margin_px` of rows that no other
// line's box occupies. A fragment more than 2.5 times as tall as the median fragment (a column
// of line numbers read as one line) is no line here: it only goes where a band reaches it. Overlapping bands
// are merged; sorted top to bottom. None when they cover more than kMaxChangedHeightShare of the
// height: the whole frame is then cheaper to recognise than to piece together.
std::optional<std::vector<RowSpan>> linesToRecognize(const std::vector<RowSpan> &changed,
    const std::vector<OCRText> &previous, QSize imageSize, int margin_px = kChangedLineMargin_px);

// The fragments of the new frame: the previous fragments the bands do not take in (as above), in their order, with
// the fragments recognised in the bands (`recognized`, in recognition order, bounds already in the
// frame's space) in place of the previous ones whose rows intersect a band. A new fragment takes
// the place in the reading order of the replaced fragment it overlaps most; one that overlaps none
// follows the last fragment above it (or leads, with nothing above). Every fragment is stamped
// with `recordingId` and `timestamp` and the ones taken over get fresh ids.
std::vector<OCRText> mergeChangedLines(const std::vector<OCRText> &previous, const std::vector<RowSpan> &bands,
    const std::vector<OCRText> &recognized, int imageHeight, const QUuid &recordingId, TimePoint timestamp);

} // namespace pellux
