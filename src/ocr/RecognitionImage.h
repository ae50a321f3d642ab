#pragma once

#include "ocr/ChangedLines.h"
#include "ocr/TesseractEngine.h"
#include "ocr/TextHeight.h"
#include "ocr/TextRecognizer.h"

#include <QImage>
#include <QRect>
#include <QRectF>

#include <optional>
#include <vector>

namespace pellux {

class LineCache;

// Mean grey level (0..255) below which an area counts as dark-themed.
inline constexpr double kDarkBackgroundMeanGrey = 128.0;

// Half the height of the box around each pixel whose mean decides its polarity, as a share of
// the measured text line height, within these limits (pixels); the box is four times as wide as
// high. A box about as high as a line sees one line's background, so a highlighted line on a
// dark terminal keeps its dark text while the terminal around it is negated.
inline constexpr double kInversionRadiusPerLineHeight = 0.4;
inline constexpr int kMinimumInversionRadius = 2;
inline constexpr int kMaximumInversionRadius = 12;
// The radius when no text line height could be measured.
inline constexpr int kUnmeasuredInversionRadius = 4;

// Measured line height (capitals and ascenders, see measureTextLineHeight) that Tesseract reads
// screen text best at.
inline constexpr double kTargetLineHeight_px = 22.0;
// Lines measuring this much or more (10-point text and larger) read as well or better brought
// only to the lower target, for less time: on the corpus no such frame lost a word against the
// full target, and a lower target of 16 px lost words on serif text.
inline constexpr double kReadableLineHeight_px = 10.0;
inline constexpr double kReadableTargetLineHeight_px = 18.0;
// Enlargement of the smallest print.
inline constexpr double kMaximumTextScale = 3.0;
// Enlargement of images whose text height cannot be measured.
inline constexpr double kUnmeasuredTextScale = 1.5;

enum class Inversion {
    none, // the grey image as it is
    wholeImage, // negate the image when its mean grey is dark
    darkRegions, // negate each pixel whose surroundings are dark (mixed themes, dark panels, highlights)
};

// How an image is prepared for the recogniser. Screen text is small and often light on dark,
// while Tesseract reads dark text on a light ground best and at larger sizes.
struct RecognitionTuning {
    // Enlargement before recognition (1.0 keeps the size); with `byTextHeight`, the enlargement
    // of images whose text height cannot be measured.
    double scale = 1.0;
    // Enlarge each image by its own measured text height instead of by `scale`.
    std::optional<TextHeightScaling> byTextHeight;
    Inversion inversion = Inversion::darkRegions;
    PageLayout layout = PageLayout::automatic;
    bool tesseractInversionPass = true; // Tesseract's own retry of weak lines as light on dark
};

// The settings `OCRProcessor::processImage` uses, chosen with bench/ocr_recall_bench.cpp on the
// committed corpus: dark tiles negated, then enlarged so that the median text line is
// `kTargetLineHeight_px` tall (never shrunk, at most `kMaximumTextScale` times; 1.5 times when no
// line can be measured).
RecognitionTuning accurateTuning();
// Plain recognition of the image as it is: video frames, and the benchmark's baseline.
RecognitionTuning fastTuning();

// The 8-bit grey image handed to the recogniser and its scale relative to the original.
struct PreparedImage {
    QImage grey;
    double scale = 1.0;
    // The median text line height of the original, when the tuning needed it (for the enlargement
    // or the negation of dark surroundings) and it was found.
    std::optional<double> textLineHeight_px;
};

// Mean of the grey values, sampled on a regular grid; 255 for a null image.
double meanGrey(const QImage &grey);

// A pixel whose brightest and darkest colour channels lie this far apart is coloured: a
// saturated purple sidebar lies 50 apart, the blue-greys of dark themes under 30.
inline constexpr int kColouredChannelSpread = 40;
// A coloured pixel below this grey whose darkest channel is dark counts as a dark ground (white
// text on amber, green, blue, red or purple); brighter ones, like a yellow highlight under dark
// text, count as light.
inline constexpr int kColouredDarkUpToGrey = 190;

// Negates, in place, every pixel of an 8-bit grey image whose surroundings (a box `radius` rows
// above and below and four times that to either side) are dark on average, so that text on dark
// panels becomes dark on light like the rest, whatever the theme of the other panels and lines.
// With the colour image the grey was made from (32 bits per pixel), surroundings mostly coloured
// and mostly dark (buttons, badges, status bars, sidebars) are decided by that majority, since
// their light text lifts the average, and there the darkest channel is negated instead of the
// grey, with the ground brought to white; light gaps between such buttons stay white.
void invertDarkSurroundings(QImage &grey, int radius, const QImage &colour = QImage());

// The radius invertDarkSurroundings uses for text lines of the measured height.
int inversionRadiusFor(std::optional<double> lineHeight_px);

// Enlargement stops at this longer side: high-density screens already draw large text, and
// larger images only cost time.
inline constexpr int kMaximumPreparedSide = 4096;

// Grey conversion, negation of dark areas and enlargement, as `tuning` says. The enlargement is
// capped so that the longer side stays within kMaximumPreparedSide; the image is shrunk only when
// a text height rule with a minimum scale below 1 asks for it.
PreparedImage prepareForRecognition(const QImage &image, const RecognitionTuning &tuning);

// A box Tesseract reported on the prepared image (top-left origin, prepared pixels) as bounds in
// the original image's pixel space with the origin at the bottom left, the convention of
// `OCRText::bounds`: x and width as they are, y measured up from the bottom edge.
QRectF lowerLeftBounds(const QRect &preparedBox, double scale, int originalHeight);

// The words of a line Tesseract reported on the prepared image, in the original image's pixels
// (top-left origin): each box divided by `scale` (rounded outwards) and moved down by `top`.
std::vector<WordBox> originalWordBoxes(const std::vector<RecognizedWord> &words, double scale, int top = 0);

// Prepares the image as `tuning` says and recognises its text lines with the engine (which
// must be ready), in Tesseract's reading order.
std::vector<RecognizedFragment> recognizeImage(
    TesseractEngine &engine, const QImage &image, const RecognitionTuning &tuning);

// Recognises only the given bands of rows of the image, each cut at the full width, band by band
// in the given order, each in Tesseract's reading order. Grey conversion, negation and the
// enlargement are those of the whole image, so a band's pixels are prepared as in a full
// recognition. Bounds are in the whole image's space (lower-left origin). A recognition failure
// stops at the failed band; the engine's `recognitionFailure` then says why.
// With a cache, a band read before (pixel for pixel as prepared) takes its lines from there.
std::vector<RecognizedFragment> recognizeBands(TesseractEngine &engine, const QImage &image,
    const std::vector<RowSpan> &bands, const RecognitionTuning &tuning, LineCache *cache = nullptr);

} // namespace pellux
