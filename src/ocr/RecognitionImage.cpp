#include "ocr/RecognitionImage.h"

#include <algorithm>
#include <cmath>

namespace pellux {

RecognitionTuning accurateTuning()
{
    return { .scale = kUnmeasuredTextScale,
        .byTextHeight = TextHeightScaling { .targetLineHeight_px = kTargetLineHeight_px,
            .minimumScale = 1.0,
            .maximumScale = kMaximumTextScale },
        .inversion = Inversion::darkRegions,
        .layout = PageLayout::automatic,
        .tesseractInversionPass = true };
}

RecognitionTuning fastTuning()
{
    return {
        .scale = 1.0, .inversion = Inversion::none, .layout = PageLayout::automatic, .tesseractInversionPass = true
    };
}

namespace {

// Mean grey of a rectangle of the image, sampled every `step` pixels in both directions.
double meanGreyOf(const QImage &grey, const QRect &area, int step)
{
    quint64 sum = 0;
    quint64 count = 0;
    for (int y = area.top(); y <= area.bottom(); y += step) {
        const uchar *row = grey.constScanLine(y);
        for (int x = area.left(); x <= area.right(); x += step) {
            sum += row[x];
            ++count;
        }
    }
    return count ? static_cast<double>(sum) / static_cast<double>(count) : 255.0;
}

} // namespace

double meanGrey(const QImage &grey)
{
    if (grey.isNull())
        return 255.0;
    // A 4-pixel grid is plenty to tell a dark theme from a light one.
    return meanGreyOf(grey, grey.rect(), 4);
}

void invertDarkTiles(QImage &grey, int tileSide)
{
    if (grey.isNull() || tileSide <= 0)
        return;
    for (int top = 0; top < grey.height(); top += tileSide) {
        for (int left = 0; left < grey.width(); left += tileSide) {
            const QRect tile = QRect(left, top, tileSide, tileSide).intersected(grey.rect());
            if (meanGreyOf(grey, tile, 2) >= kDarkBackgroundMeanGrey)
                continue;
            for (int y = tile.top(); y <= tile.bottom(); ++y) {
                uchar *row = grey.scanLine(y);
                for (int x = tile.left(); x <= tile.right(); ++x)
                    row[x] = static_cast<uchar>(255 - row[x]);
            }
        }
    }
}

namespace {

// The grey image with dark areas negated, as the tuning says; the enlargement comes after.
QImage greyForRecognition(const QImage &image, const RecognitionTuning &tuning)
{
    QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (tuning.inversion == Inversion::wholeImage && meanGrey(grey) < kDarkBackgroundMeanGrey) {
        grey.invertPixels();
    } else if (tuning.inversion == Inversion::darkRegions) {
        invertDarkTiles(grey);
    }
    return grey;
}

// The enlargement of an image of `size` whose prepared grey image is `grey`.
double enlargementFor(
    const QImage &grey, QSize size, const RecognitionTuning &tuning, std::optional<double> &lineHeight)
{
    double wanted = tuning.scale;
    if (tuning.byTextHeight) {
        lineHeight = measureTextLineHeight(grey);
        wanted = scaleForTextHeight(lineHeight, *tuning.byTextHeight, tuning.scale);
    }
    const double longerSide = std::max(size.width(), size.height());
    double scale = std::min(wanted, kMaximumPreparedSide / longerSide);
    // Huge images are left as they are rather than shrunk; only a rule that asks for it shrinks.
    if (wanted >= 1.0)
        scale = std::max(scale, 1.0);
    return scale;
}

// Scales the grey image; the scale actually applied (its width ratio) is returned.
double enlarge(QImage &grey, double scale)
{
    if (scale == 1.0)
        return 1.0;
    const int originalWidth = grey.width();
    const int width = std::max(1, static_cast<int>(std::lround(grey.width() * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(grey.height() * scale)));
    grey = grey.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return static_cast<double>(width) / originalWidth;
}

} // namespace

PreparedImage prepareForRecognition(const QImage &image, const RecognitionTuning &tuning)
{
    PreparedImage prepared;
    if (image.isNull())
        return prepared;
    prepared.grey = greyForRecognition(image, tuning);
    const double scale = enlargementFor(prepared.grey, image.size(), tuning, prepared.textLineHeight_px);
    prepared.scale = enlarge(prepared.grey, scale);
    return prepared;
}

QRectF lowerLeftBounds(const QRect &preparedBox, double scale, int originalHeight)
{
    const double s = scale > 0 ? scale : 1.0;
    const double left = preparedBox.x() / s;
    const double top = preparedBox.y() / s;
    const double width = preparedBox.width() / s;
    const double height = preparedBox.height() / s;
    return QRectF(left, originalHeight - (top + height), width, height);
}

std::vector<RecognizedFragment> recognizeImage(
    TesseractEngine &engine, const QImage &image, const RecognitionTuning &tuning)
{
    std::vector<RecognizedFragment> fragments;
    const PreparedImage prepared = prepareForRecognition(image, tuning);
    for (RecognizedLine &line : engine.recognizeLines(prepared.grey, tuning.layout, tuning.tesseractInversionPass))
        fragments.push_back({ std::move(line.text), lowerLeftBounds(line.box, prepared.scale, image.height()) });
    return fragments;
}

std::vector<RecognizedFragment> recognizeBands(
    TesseractEngine &engine, const QImage &image, const std::vector<RowSpan> &bands, const RecognitionTuning &tuning)
{
    std::vector<RecognizedFragment> recognized;
    if (image.isNull())
        return recognized;
    // Negation and text height are decided on the whole frame, exactly as for a full recognition,
    // so that a band is prepared pixel for pixel like the same rows of the whole frame.
    const QImage grey = greyForRecognition(image, tuning);
    std::optional<double> lineHeight;
    const double scale = enlargementFor(grey, image.size(), tuning, lineHeight);
    for (const RowSpan &band : bands) {
        const RowSpan rows { std::clamp(band.top, 0, image.height()), std::clamp(band.bottom, 0, image.height()) };
        if (rows.height() <= 0)
            continue;
        QImage cut = grey.copy(0, rows.top, grey.width(), rows.height());
        const double applied = enlarge(cut, scale);
        // Band bounds are lower-left in the band; the band's bottom edge lies this far above the frame's.
        const double raised = image.height() - rows.bottom;
        std::vector<RecognizedLine> lines = engine.recognizeLines(cut, tuning.layout, tuning.tesseractInversionPass);
        // The caller reads the engine's failure; later bands would overwrite it.
        if (!engine.recognitionFailure().isEmpty())
            break;
        for (RecognizedLine &line : lines) {
            const QRectF bounds = lowerLeftBounds(line.box, applied, rows.height());
            recognized.push_back({ std::move(line.text), bounds.translated(0, raised) });
        }
    }
    return recognized;
}

} // namespace pellux
