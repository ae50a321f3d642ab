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

namespace {

// Half the width of the light columns that count as a gap between dark panels: wider than a
// stroke of bold screen text.
constexpr int kLightGapHalfWidth = 2;

// Per pixel, whether it is dark and whether it is strongly coloured (bit values).
constexpr uchar kDarkPixel = 1;
constexpr uchar kColouredPixel = 2;

uchar darkestChannel(QRgb pixel) { return static_cast<uchar>(std::min({ qRed(pixel), qGreen(pixel), qBlue(pixel) })); }

bool isColoured(QRgb pixel)
{
    const int brightest = std::max({ qRed(pixel), qGreen(pixel), qBlue(pixel) });
    return brightest - darkestChannel(pixel) >= kColouredChannelSpread;
}

// What the polarity of a pixel is decided on, row by row: its flags and its darkest channel. A strongly coloured pixel
// of middle grey (a saturated button, badge or status bar) counts as dark when its darkest channel is: light text on it
// is read against that channel.
struct PixelPlanes {
    std::vector<uchar> flags;
    std::vector<uchar> darkest;
    bool anyColoured = false;
};

PixelPlanes pixelPlanes(const QImage &grey, const QImage &colour)
{
    const int width = grey.width();
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(grey.height());
    PixelPlanes planes { std::vector<uchar>(size, 0), std::vector<uchar>(size, 0) };
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *row = grey.constScanLine(y);
        const QRgb *colours = reinterpret_cast<const QRgb *>(colour.constScanLine(y));
        const size_t start = static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            const uchar darkest = darkestChannel(colours[x]);
            bool dark = row[x] < kDarkBackgroundMeanGrey;
            uchar flags = 0;
            if (isColoured(colours[x])) {
                flags = kColouredPixel;
                planes.anyColoured = true;
                dark = dark || (row[x] < kColouredDarkUpToGrey && darkest < kDarkBackgroundMeanGrey);
            }
            planes.flags[start + static_cast<size_t>(x)] = flags | (dark ? kDarkPixel : 0);
            planes.darkest[start + static_cast<size_t>(x)] = darkest;
        }
    }
    return planes;
}

// A coloured ground is measured on the pixels whose darkest channel is clearly dark, not on the
// anti-aliased edges of strokes, which would wash faint text out.
constexpr int kDeepDarkBelow = 64;

// Sums over the rows of the current box in one column, or over the whole box.
struct BoxSums {
    quint32 grey = 0; // of every pixel
    quint32 dark = 0; // dark pixels
    quint32 coloured = 0; // strongly coloured pixels
    quint32 deep = 0; // pixels whose darkest channel is below kDeepDarkBelow
    quint32 deepChannel = 0; // the sum of those channels
};

void add(quint32 &sum, quint32 value, int sign) { sum += static_cast<quint32>(sign * static_cast<int>(value)); }

void add(BoxSums &sum, const BoxSums &value, int sign)
{
    add(sum.grey, value.grey, sign);
    add(sum.dark, value.dark, sign);
    add(sum.coloured, value.coloured, sign);
    add(sum.deep, value.deep, sign);
    add(sum.deepChannel, value.deepChannel, sign);
}

// Moves the box (`radius` rows above and below, four times that to either side) over every pixel
// of a `width` by `height` image, row by row: `columnOf(y, x)` gives what a pixel adds to its
// column's sums, and `visit(x, y, box, count, columns)` sees each pixel with its box's sums, its
// size and the sums of each column over the box's rows.
template <typename Sums, typename ColumnOf, typename Visit>
void slideBox(int width, int height, int radius, ColumnOf columnOf, Visit visit)
{
    const int across = 4 * radius;
    std::vector<Sums> columns(static_cast<size_t>(width));
    const auto addRow = [&](int y, int sign) {
        for (int x = 0; x < width; ++x)
            add(columns[static_cast<size_t>(x)], columnOf(y, x), sign);
    };
    for (int y = 0; y < std::min(radius, height); ++y)
        addRow(y, 1);
    for (int y = 0; y < height; ++y) {
        if (y + radius < height)
            addRow(y + radius, 1);
        if (y - radius - 1 >= 0)
            addRow(y - radius - 1, -1);
        const quint32 rows = static_cast<quint32>(std::min(height - 1, y + radius) - std::max(0, y - radius) + 1);
        Sums box {};
        for (int x = 0; x < std::min(across, width); ++x)
            add(box, columns[static_cast<size_t>(x)], 1);
        for (int x = 0; x < width; ++x) {
            if (x + across < width)
                add(box, columns[static_cast<size_t>(x + across)], 1);
            if (x - across - 1 >= 0)
                add(box, columns[static_cast<size_t>(x - across - 1)], -1);
            const quint32 count
                = rows * static_cast<quint32>(std::min(width - 1, x + across) - std::max(0, x - across) + 1);
            visit(x, y, box, count, columns);
        }
    }
}

} // namespace

void invertDarkSurroundings(QImage &grey, int radius, const QImage &colour)
{
    if (grey.isNull() || radius <= 0)
        return;
    Q_ASSERT(grey.format() == QImage::Format_Grayscale8);
    Q_ASSERT(colour.isNull() || (colour.size() == grey.size() && colour.depth() == 32));
    const int width = grey.width();
    const int height = grey.height();
    // Decisions are made on the original values; `grey` is written behind them.
    const QImage original = grey.copy();
    const uchar *source = original.constBits();
    uchar *target = grey.bits();
    const qsizetype stride = grey.bytesPerLine();
    const auto at = [stride](int x, int y) { return static_cast<size_t>(y * stride + x); };
    // Most frames (terminals, grey themes) hold no coloured pixel: found before any plane is built.
    const auto hasColour = [&colour] {
        for (int y = 0; y < colour.height(); ++y) {
            const QRgb *row = reinterpret_cast<const QRgb *>(colour.constScanLine(y));
            if (std::any_of(row, row + colour.width(), isColoured))
                return true;
        }
        return false;
    };
    const PixelPlanes planes = !colour.isNull() && hasColour() ? pixelPlanes(grey, colour) : PixelPlanes();
    if (!planes.anyColoured) {
        // Without coloured grounds the average of the grey decides alone.
        slideBox<quint32>(
            width, height, radius, [&](int y, int x) { return quint32(source[at(x, y)]); },
            [&](int x, int y, quint32 sum, quint32 count, const std::vector<quint32> &) {
                if (static_cast<double>(sum) < kDarkBackgroundMeanGrey * count)
                    target[at(x, y)] = static_cast<uchar>(255 - source[at(x, y)]);
            });
        return;
    }
    const auto plane = [width](int x, int y) { return static_cast<size_t>(y) * static_cast<size_t>(width) + x; };
    const auto columnOf = [&](int y, int x) {
        const uchar flags = planes.flags[plane(x, y)];
        const uchar channel = planes.darkest[plane(x, y)];
        const bool deep = channel < kDeepDarkBelow;
        return BoxSums { source[at(x, y)], (flags & kDarkPixel) ? 1u : 0u, (flags & kColouredPixel) ? 1u : 0u, deep,
            deep ? channel : 0u };
    };
    slideBox<BoxSums>(width, height, radius, columnOf,
        [&](int x, int y, const BoxSums &box, quint32 count, const std::vector<BoxSums> &columns) {
            // Mostly coloured and mostly dark: a saturated button, badge, status bar or sidebar.
            // Its light text would lift the average, so the majority decides.
            if (2 * box.coloured <= count || 2 * box.dark <= count) {
                if (static_cast<double>(box.grey) < kDarkBackgroundMeanGrey * count)
                    target[at(x, y)] = static_cast<uchar>(255 - source[at(x, y)]);
                return;
            }
            // Light columns several pixels wide, as high as the box, are a light gap between
            // buttons side by side, not text: they stay light.
            bool gap = true;
            for (int column = x - kLightGapHalfWidth; gap && column <= x + kLightGapHalfWidth; ++column)
                gap = column < 0 || column >= width || columns[static_cast<size_t>(column)].dark == 0;
            // The darkest channel parts light text from a coloured ground far better than
            // luminance does (white on amber, green or blue); the ground is brought to white like
            // the light panel around the button or badge.
            const int ground = box.deep ? static_cast<int>(box.deepChannel / box.deep) : 0;
            target[at(x, y)]
                = gap ? 255 : static_cast<uchar>(255 - std::clamp(planes.darkest[plane(x, y)] - ground, 0, 255));
        });
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
        const bool colourless
            = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16;
        invertDarkSurroundings(
            grey, inversionRadiusFor(lineHeight), colourless ? QImage() : image.convertToFormat(QImage::Format_RGB32));
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
