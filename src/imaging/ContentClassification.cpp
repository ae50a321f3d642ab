// Content classes and what follows from them: scale, quality, fidelity and the full-frame encoding; the
// colour statistic, image difference and rectangle merging that go with them.
#include "imaging/ImageOptimizer.h"
#include "runtime/Log.h"
#include "runtime/PixelBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace pellux {

namespace {

constexpr double kTextAreaShare = 0.3;
constexpr double kFlatColourStatistic = 0.1;
// Layout analysis runs on a copy no larger than this: it needs only the share of the area that
// text lines cover. Its cost is not smooth in the size: on the 1080p desktop of xterm windows in
// tests/data it took 25 ms at 960 wide, 245 ms at 1024, 1.1 s at 1280 and 4.4 s at full size
// (one thread). The price: at 960 its 11-point terminal text is no longer found (text blocks cover
// 0 of the area, 0.28 at 1024, 0.30 at full size), so such a desktop is classed by its colour;
// single windows up to 960 pixels are analysed at full size and found.
constexpr int kClassificationMaxSide = 960;
// Screen content repeats its left neighbour in most pixels (terminals 0.8 and more, dialogs and
// scaled-down desktops of terminals above 0.5); photographs and noisy renderings almost never
// (below 0.1). Below this share lossless encoding is not even tried.
constexpr double kMinRepeatedPixelShare = 0.35;
// Every this many rows is sampled for the share: a 1080-line frame costs 270 rows.
constexpr int kRepeatSampleRowStep = 4;
// A lossless result of at most this many bits per pixel is kept without a lossy attempt: lossy
// WebP at the class qualities stays above it on screen content (0.62 for a Qt dialog at 0.85,
// 0.75 for the desktop of terminals at 0.5, 1.1 to 1.3 for xterm windows at 0.85). A larger one
// is compared with the lossy encoding of the same pixels, and the smaller kept.
constexpr double kLosslessBitsWithoutComparison = 0.6;
// Facing edges closer than this (in pixels) are merged.
constexpr double kMergeDistance = 2.0;

struct ContentTypeRow {
    int maxDimension;
    double scaleCap;
    double quality;
};

ContentTypeRow row(ContentType type)
{
    switch (type) {
    case ContentType::text:
        return { 1920, 1.0, 0.85 };
    case ContentType::colorful:
        return { 1280, 1.0, 0.65 };
    case ContentType::flat:
        return { 960, 0.5, 0.5 };
    case ContentType::mixed:
        break;
    }
    return { 1440, 1.0, 0.75 };
}

// Sums of the premultiplied B, G, R bytes over every pixel.
struct ChannelSums {
    double blue = 0;
    double green = 0;
    double red = 0;
};

ChannelSums channelSums(const QImage &image32)
{
    ChannelSums sums;
    for (int y = 0; y < image32.height(); ++y) {
        const uchar *p = image32.constScanLine(y);
        uint64_t b = 0, g = 0, r = 0;
        for (int x = 0; x < image32.width(); ++x) {
            b += p[4 * x];
            g += p[4 * x + 1];
            r += p[4 * x + 2];
        }
        sums.blue += static_cast<double>(b);
        sums.green += static_cast<double>(g);
        sums.red += static_cast<double>(r);
    }
    return sums;
}

// The premultiplied form both images are compared in (RGB32 already is one).
QImage premultiplied(const QImage &image)
{
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32_Premultiplied)
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

} // namespace

int maxDimension(ContentType type) { return row(type).maxDimension; }
double scaleCap(ContentType type) { return row(type).scaleCap; }
double compressionQuality(ContentType type) { return row(type).quality; }

Fidelity preferredFidelity(ContentType type)
{
    return type == ContentType::text || type == ContentType::flat ? Fidelity::exact : Fidelity::lossy;
}

ContentType ImageOptimizer::analyzeContent(const QImage &image) const
{
    if (image.isNull())
        return ContentType::mixed;

    TextLineDetector detector;
    {
        std::lock_guard lock(m_mutex);
        detector = m_textLineDetector;
    }
    if (detector) {
        const double reduction
            = std::min(1.0, double(kClassificationMaxSide) / std::max(image.width(), image.height()));
        const QImage reduced = scaleImage(image, reduction);
        double covered = 0;
        for (const QRect &line : detector(reduced))
            covered += double(line.width()) * line.height();
        if (covered / (double(reduced.width()) * reduced.height()) > kTextAreaShare)
            return ContentType::text;
    }

    const std::optional<double> statistic = analyzeImageStatistics(image);
    if (!statistic)
        return ContentType::mixed;
    return *statistic < kFlatColourStatistic ? ContentType::flat : ContentType::mixed;
}

std::optional<double> ImageOptimizer::analyzeImageStatistics(const QImage &image)
{
    if (image.isNull())
        return std::nullopt;
    const QImage pixels = premultiplied(image);
    const ChannelSums sums = channelSums(pixels);
    const double count = double(pixels.width()) * pixels.height();
    // The mean colour as 8-bit channels, then as 0...1 values.
    const double r = std::round(sums.red / count) / 255.0;
    const double g = std::round(sums.green / count) / 255.0;
    const double b = std::round(sums.blue / count) / 255.0;
    const double mean = (r + g + b) / 3.0;
    return ((r - mean) * (r - mean) + (g - mean) * (g - mean) + (b - mean) * (b - mean)) / 3.0;
}

double ImageOptimizer::getOptimalScaleFactor(const QImage &image, ContentType contentType)
{
    const int largest = std::max(image.width(), image.height());
    if (largest <= 0)
        return scaleCap(contentType);
    return std::min(double(maxDimension(contentType)) / largest, scaleCap(contentType));
}

QImage ImageOptimizer::scaleImage(const QImage &image, double factor)
{
    if (!std::isfinite(factor) || factor <= 0.0) {
        log::failure(
            QStringLiteral("ERROR ImageOptimizer: scale factor %1 is not positive, image left as it is").arg(factor));
        return image;
    }
    if (factor >= 1.0 || image.isNull())
        return image;
    // Never below one pixel, so that thin images (1 x N) stay images.
    const int width = std::max(1, static_cast<int>(std::lround(image.width() * factor)));
    const int height = std::max(1, static_cast<int>(std::lround(image.height() * factor)));
    return image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

double ImageOptimizer::repeatedPixelShare(const QImage &image)
{
    if (image.isNull() || image.width() < 2)
        return 0.0;
    const QImage pixels = pixelbuffer::asArgb32Family(image);
    // Opaque frames carry padding in the fourth byte; only colour counts.
    const uint32_t colourMask = pixels.hasAlphaChannel() ? 0xffffffffu : 0x00ffffffu;
    uint64_t repeated = 0;
    uint64_t compared = 0;
    for (int y = 0; y < pixels.height(); y += kRepeatSampleRowStep) {
        const auto *line = reinterpret_cast<const uint32_t *>(pixels.constScanLine(y));
        for (int x = 1; x < pixels.width(); ++x)
            repeated += ((line[x] ^ line[x - 1]) & colourMask) == 0;
        compared += uint64_t(pixels.width() - 1);
    }
    return double(repeated) / double(compared);
}

std::optional<QByteArray> ImageOptimizer::encodeForContent(const QImage &image, ContentType contentType) const
{
    const double quality = compressionQuality(contentType);
    if (preferredFidelity(contentType) == Fidelity::exact) {
        // Kept at the size of text, not reduced: a reduced copy loses the glyphs this is for, and
        // its blurred edges cost lossless coding more than the pixels saved.
        const QImage exactInput = scaleImage(image, getOptimalScaleFactor(image, ContentType::text));
        if (repeatedPixelShare(exactInput) >= kMinRepeatedPixelShare) {
            if (std::optional<QByteArray> exact = convertToLosslessWebP(exactInput)) {
                const double pixels = double(exactInput.width()) * exactInput.height();
                if (double(exact->size()) * 8.0 <= kLosslessBitsWithoutComparison * pixels)
                    return exact;
                std::optional<QByteArray> lossy = convertToWebP(exactInput, quality);
                return lossy && lossy->size() < exact->size() ? lossy : exact;
            }
        }
    }
    const QImage scaled = scaleImage(image, getOptimalScaleFactor(image, contentType));
    if (std::optional<QByteArray> webp = convertToWebP(scaled, quality))
        return webp;
    return compressToJPEG(scaled, quality);
}

std::optional<QByteArray> ImageOptimizer::compressByContent(const QImage &image) const
{
    if (image.isNull()) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: nothing to compress, the image has no pixels"));
        return std::nullopt;
    }
    return encodeForContent(image, analyzeContent(image));
}

double ImageOptimizer::imageDifference(const QImage &image, const QImage &previousImage)
{
    if (image.isNull() || previousImage.isNull())
        return 1.0;
    const QImage a = premultiplied(image);
    const QImage b = premultiplied(previousImage);

    // Pixels outside the smaller of two differently sized images differ from nothing (zero).
    const int width = std::max(a.width(), b.width());
    const int height = std::max(a.height(), b.height());
    const int commonWidth = std::min(a.width(), b.width());
    const int commonHeight = std::min(a.height(), b.height());
    uint64_t common = 0;
    for (int y = 0; y < commonHeight; ++y)
        common += pixelbuffer::colourDifference(reinterpret_cast<const uint32_t *>(a.constScanLine(y)),
            reinterpret_cast<const uint32_t *>(b.constScanLine(y)), commonWidth);
    double colourSum = double(common);
    if (width != commonWidth || height != commonHeight) {
        const auto outside = [&](const QImage &img) {
            const ChannelSums all = channelSums(img);
            const ChannelSums common = channelSums(img.copy(0, 0, commonWidth, commonHeight));
            return (all.red + all.green + all.blue) - (common.red + common.green + common.blue);
        };
        colourSum += outside(a) + outside(b);
    }
    return std::clamp(colourSum / (double(width) * height * 765.0), 0.0, 1.0);
}

std::vector<QRect> ImageOptimizer::mergeAdjacentRegions(std::vector<QRect> regions)
{
    if (regions.empty())
        return {};
    std::stable_sort(regions.begin(), regions.end(),
        [](const QRect &a, const QRect &b) { return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x(); });
    std::vector<QRect> merged;
    QRect current = regions.front();
    for (size_t i = 1; i < regions.size(); ++i) {
        const QRect &next = regions[i];
        const double maxX = double(current.x()) + current.width();
        const double maxY = double(current.y()) + current.height();
        if (current.intersects(next) || std::abs(maxX - next.x()) < kMergeDistance
            || std::abs(maxY - next.y()) < kMergeDistance) {
            current = current.united(next);
        } else {
            merged.push_back(current);
            current = next;
        }
    }
    merged.push_back(current);
    return merged;
}

} // namespace pellux
