#pragma once

#include "ocr/TesseractEngine.h"

#include <QImage>
#include <QRect>
#include <QRectF>

#include <vector>

namespace pellux {

// Mean grey level (0..255) below which an area counts as dark-themed.
inline constexpr double kDarkBackgroundMeanGrey = 128.0;

// Side of the square tiles whose polarity is decided one by one, in pixels: about two lines of
// screen text, so that a tile's mean is its background's. (16 to 96 all did equally well.)
inline constexpr int kInversionTileSide = 32;

enum class Inversion {
    none, // the grey image as it is
    wholeImage, // negate the image when its mean grey is dark
    darkRegions, // negate each tile whose mean grey is dark (mixed themes, dark panels)
};

// How an image is prepared for the recogniser. Screen text is small and often light on dark,
// while Tesseract reads dark text on a light ground best and at larger sizes.
struct RecognitionTuning {
    double scale = 1.0; // enlargement before recognition (1.0 keeps the size)
    Inversion inversion = Inversion::darkRegions;
    PageLayout layout = PageLayout::automatic;
    bool tesseractInversionPass = true; // Tesseract's own retry of weak lines as light on dark
};

// The settings `OCRProcessor::processImage` uses, chosen with bench/ocr_recall_bench.cpp on the
// committed corpus: dark tiles negated, then enlarged 1.5 times.
RecognitionTuning accurateTuning();
// Plain recognition of the image as it is: video frames, and the benchmark's baseline.
RecognitionTuning fastTuning();

// The 8-bit grey image handed to the recogniser and its scale relative to the original.
struct PreparedImage {
    QImage grey;
    double scale = 1.0;
};

// Mean of the grey values, sampled on a regular grid; 255 for a null image.
double meanGrey(const QImage &grey);

// Negates, in place, every tile of an 8-bit grey image whose mean is dark, so that text on dark
// panels becomes dark on light like the rest, whatever the theme of the other panels.
void invertDarkTiles(QImage &grey, int tileSide = kInversionTileSide);

// Enlargement stops at this longer side: high-density screens already draw large text, and
// larger images only cost time.
inline constexpr int kMaximumPreparedSide = 4096;

// Grey conversion, negation of dark areas and enlargement, as `tuning` says.
PreparedImage prepareForRecognition(const QImage &image, const RecognitionTuning &tuning);

// A box Tesseract reported on the prepared image (top-left origin, prepared pixels) as bounds in
// the original image's pixel space with the origin at the bottom left, the convention of
// `OCRText::bounds`: x and width as they are, y measured up from the bottom edge.
QRectF lowerLeftBounds(const QRect &preparedBox, double scale, int originalHeight);

// One recognised line with its bounds in the original image (lower-left origin).
struct RecognizedFragment {
    QString text;
    QRectF bounds;
};

// Prepares the image as `tuning` says and recognises its text lines with the engine (which
// must be ready), in Tesseract's reading order.
std::vector<RecognizedFragment> recognizeImage(
    TesseractEngine &engine, const QImage &image, const RecognitionTuning &tuning);

} // namespace pellux
