#pragma once

#include <QImage>

#include <optional>

namespace pellux {

// Width of the vertical strips whose rows are profiled one strip at a time, in pixels: narrow
// enough that windows side by side, whose lines do not share baselines, fall into different
// strips, and wide enough to hold several characters of large text.
inline constexpr int kTextHeightStripWidth = 96;

// Fewer measured lines than this say nothing reliable about the text size of an image.
inline constexpr int kMinimumMeasuredLines = 3;

// The median height in pixels of the text lines of an 8-bit grey image, from the top of the
// capitals and ascenders down to the baseline (about the font's capital height, 0.7 of its pixel
// size: descenders are too sparse to count), or none when it has too few lines to tell (blank,
// picture, tiny image).
//
// A cheap row profile, not a layout analysis: in each vertical strip a row counts as ink when it
// crosses several sharp horizontal edges (glyph strokes); rules, borders and flat panels have
// none or few. Each unbroken run of ink rows is one line. Works for either polarity. About 3 ms
// for a 1920x1080 screen.
std::optional<double> measureTextLineHeight(const QImage &grey);

// How the enlargement before recognition follows the measured text height.
struct TextHeightScaling {
    double targetLineHeight_px = 0; // lines are enlarged until they measure about this height
    double minimumScale = 1.0; // text already as tall as the target is left as it is
    double maximumScale = 3.0; // tiny print: more only costs time, the strokes do not get sharper
    // Lines that already measure `readableFrom_px` or more are read as well when brought to the
    // lower `readableTarget_px`, for less time; 0 keeps one target for every size.
    double readableFrom_px = 0;
    double readableTarget_px = 0;
};

// The enlargement that brings lines of `lineHeight_px` to the target, within the rule's bounds;
// `fallbackScale` when no height was measured.
double scaleForTextHeight(std::optional<double> lineHeight_px, const TextHeightScaling &rule, double fallbackScale);

} // namespace pellux
