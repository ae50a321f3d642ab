#pragma once

#include "ocr/TesseractEngine.h"

#include <QImage>
#include <QRect>
#include <QRectF>

namespace pellux {

// How an image is prepared for the recogniser. Screen text is small and often light on dark;
// Tesseract reads dark text on a light ground best, at a cap height of about 20 pixels.
struct RecognitionTuning {
    double scale = 1.0; // enlargement before recognition (1.0 keeps the size)
    bool invertDarkBackground = true; // negate images whose mean grey is dark
    PageLayout layout = PageLayout::automatic;
    bool tesseractInversionPass = true; // Tesseract's own retry of each weak line inverted
};

// The settings `OCRProcessor::processImage` uses: chosen with bench/ocr_recall_bench.cpp on the
// committed corpus for word recall at a bounded cost.
RecognitionTuning accurateTuning();
// Plain recognition of the image as it is, for video frames and as the benchmark's baseline.
RecognitionTuning fastTuning();

// The 8-bit grey image handed to the recogniser and how it relates to the original.
struct PreparedImage {
    QImage grey;
    double scale = 1.0;
    bool inverted = false;
};

// Mean grey level below this (0..255) counts as a dark theme.
inline constexpr double kDarkBackgroundMeanGrey = 128.0;

// Mean of the grey values, sampled on a regular grid; 255 for a null image.
double meanGrey(const QImage &grey);

// Grey conversion, optional negation of a dark image and enlargement, as `tuning` says.
PreparedImage prepareForRecognition(const QImage &image, const RecognitionTuning &tuning);

// A box Tesseract reported on the prepared image (top-left origin, prepared pixels) as bounds in
// the original image's pixel space with the origin at the bottom left, the convention of
// `OCRText::bounds`: x and width as they are, y measured up from the bottom edge.
QRectF lowerLeftBounds(const QRect &preparedBox, double scale, int originalHeight);

} // namespace pellux
