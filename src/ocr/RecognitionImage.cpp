#include "ocr/RecognitionImage.h"

#include "ocr/LineCache.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace pellux {

RecognitionTuning accurateTuning()
{
    return { .scale = kUnmeasuredTextScale,
        .byTextHeight = TextHeightScaling { .targetLineHeight_px = kTargetLineHeight_px,
            .minimumScale = 1.0,
            .maximumScale = kMaximumTextScale,
            .readableFrom_px = kReadableLineHeight_px,
            .readableTarget_px = kReadableTargetLineHeight_px },
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

double meanGrey(const QImage &grey)
{
    if (grey.isNull())
        return 255.0;
    // A 4-pixel grid is plenty to tell a dark theme from a light one.
    constexpr int step = 4;
    quint64 sum = 0;
    quint64 count = 0;
    for (int y = 0; y < grey.height(); y += step) {
        const uchar *row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); x += step) {
            sum += row[x];
            ++count;
        }
    }
    return count ? static_cast<double>(sum) / static_cast<double>(count) : 255.0;
}

int inversionRadiusFor(std::optional<double> lineHeight_px)
{
    if (!lineHeight_px || *lineHeight_px <= 0)
        return kUnmeasuredInversionRadius;
    const int radius = static_cast<int>(std::lround(*lineHeight_px * kInversionRadiusPerLineHeight));
    return std::clamp(radius, kMinimumInversionRadius, kMaximumInversionRadius);
}

void invertDarkSurroundings(QImage &grey, int radius)
{
    if (grey.isNull() || radius <= 0)
        return;
    Q_ASSERT(grey.format() == QImage::Format_Grayscale8);
    const int width = grey.width();
    const int height = grey.height();
    const int across = 4 * radius;
    // Decisions are made on the original values; `grey` is written row by row behind them.
    const QImage original = grey.copy();
    // Per column, the sum over the rows of the current box.
    std::vector<quint32> columns(static_cast<size_t>(width), 0);
    auto addRow = [&](int y, int sign) {
        const uchar *row = original.constScanLine(y);
        for (int x = 0; x < width; ++x)
            columns[static_cast<size_t>(x)] += static_cast<quint32>(sign * row[x]);
    };
    for (int y = 0; y < std::min(radius, height); ++y)
        addRow(y, 1);
    for (int y = 0; y < height; ++y) {
        if (y + radius < height)
            addRow(y + radius, 1);
        if (y - radius - 1 >= 0)
            addRow(y - radius - 1, -1);
        const quint64 rows = static_cast<quint64>(std::min(height - 1, y + radius) - std::max(0, y - radius) + 1);
        const uchar *source = original.constScanLine(y);
        uchar *target = grey.scanLine(y);
        quint64 sum = 0;
        for (int x = 0; x < std::min(across, width); ++x)
            sum += columns[static_cast<size_t>(x)];
        for (int x = 0; x < width; ++x) {
            if (x + across < width)
                sum += columns[static_cast<size_t>(x + across)];
            if (x - across - 1 >= 0)
                sum -= columns[static_cast<size_t>(x - across - 1)];
            const quint64 count
                = rows * static_cast<quint64>(std::min(width - 1, x + across) - std::max(0, x - across) + 1);
            if (static_cast<double>(sum) < kDarkBackgroundMeanGrey * static_cast<double>(count))
                target[x] = static_cast<uchar>(255 - source[x]);
        }
    }
}

namespace {

// The grey image with dark areas negated, as the tuning says; the enlargement comes after. The
// text line height is measured on the way when the negation or the enlargement needs it.
QImage greyForRecognition(const QImage &image, const RecognitionTuning &tuning, std::optional<double> &lineHeight)
{
    QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    // Stroke edges are found whatever the polarity, so the height is measured before negation.
    if (tuning.byTextHeight || tuning.inversion == Inversion::darkRegions)
        lineHeight = measureTextLineHeight(grey);
    if (tuning.inversion == Inversion::wholeImage && meanGrey(grey) < kDarkBackgroundMeanGrey) {
        grey.invertPixels();
    } else if (tuning.inversion == Inversion::darkRegions) {
        invertDarkSurroundings(grey, inversionRadiusFor(lineHeight));
    }
    return grey;
}

// The enlargement of an image of `size` whose text lines were measured `lineHeight` tall.
double enlargementFor(QSize size, const RecognitionTuning &tuning, const std::optional<double> &lineHeight)
{
    double wanted = tuning.scale;
    if (tuning.byTextHeight)
        wanted = scaleForTextHeight(lineHeight, *tuning.byTextHeight, tuning.scale);
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
    prepared.grey = greyForRecognition(image, tuning, prepared.textLineHeight_px);
    const double scale = enlargementFor(image.size(), tuning, prepared.textLineHeight_px);
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

std::vector<WordBox> originalWordBoxes(const std::vector<RecognizedWord> &words, double scale, int top)
{
    const double s = scale > 0 ? scale : 1.0;
    std::vector<WordBox> boxes;
    boxes.reserve(words.size());
    for (const RecognizedWord &word : words) {
        const QRect &b = word.box;
        const int left = static_cast<int>(std::floor(b.x() / s));
        const int upper = static_cast<int>(std::floor(b.y() / s));
        const int right = static_cast<int>(std::ceil((b.x() + b.width()) / s));
        const int lower = static_cast<int>(std::ceil((b.y() + b.height()) / s));
        boxes.push_back({ word.text, QRect(left, upper + top, std::max(1, right - left), std::max(1, lower - upper)) });
    }
    return boxes;
}

std::vector<RecognizedFragment> recognizeImage(
    TesseractEngine &engine, const QImage &image, const RecognitionTuning &tuning)
{
    std::vector<RecognizedFragment> fragments;
    const PreparedImage prepared = prepareForRecognition(image, tuning);
    for (RecognizedLine &line : engine.recognizeLines(prepared.grey, tuning.layout, tuning.tesseractInversionPass))
        fragments.push_back({ std::move(line.text), lowerLeftBounds(line.box, prepared.scale, image.height()),
            originalWordBoxes(line.words, prepared.scale) });
    return fragments;
}

std::vector<RecognizedFragment> recognizeBands(TesseractEngine &engine, const QImage &image,
    const std::vector<RowSpan> &bands, const RecognitionTuning &tuning, LineCache *cache)
{
    std::vector<RecognizedFragment> recognized;
    if (image.isNull())
        return recognized;
    // Negation and text height are decided on the whole frame, exactly as for a full recognition,
    // so that a band is prepared pixel for pixel like the same rows of the whole frame.
    std::optional<double> lineHeight;
    const QImage grey = greyForRecognition(image, tuning, lineHeight);
    const double scale = enlargementFor(image.size(), tuning, lineHeight);
    for (const RowSpan &band : bands) {
        const RowSpan rows { std::clamp(band.top, 0, image.height()), std::clamp(band.bottom, 0, image.height()) };
        if (rows.height() <= 0)
            continue;
        QImage cut = grey.copy(0, rows.top, grey.width(), rows.height());
        const double applied = enlarge(cut, scale);
        // Band bounds are lower-left in the band; the band's bottom edge lies this far above the frame's.
        const double raised = image.height() - rows.bottom;
        const QByteArray key
            = cache ? LineCache::keyOf(cut, int(tuning.layout), tuning.tesseractInversionPass) : QByteArray();
        std::optional<std::vector<RecognizedLine>> cached = cache ? cache->find(key) : std::nullopt;
        std::vector<RecognizedLine> lines
            = cached ? std::move(*cached) : engine.recognizeLines(cut, tuning.layout, tuning.tesseractInversionPass);
        // The caller reads the engine's failure; later bands would overwrite it.
        if (!cached && !engine.recognitionFailure().isEmpty())
            break;
        if (cache && !cached)
            cache->insert(key, lines);
        for (RecognizedLine &line : lines) {
            const QRectF bounds = lowerLeftBounds(line.box, applied, rows.height());
            recognized.push_back({ std::move(line.text), bounds.translated(0, raised),
                originalWordBoxes(line.words, applied, rows.top) });
        }
    }
    return recognized;
}

} // namespace pellux
