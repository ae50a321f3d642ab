#include "ocr/TextHeight.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace pellux {

namespace {

// A step of at least this many grey levels between neighbouring pixels is a stroke edge;
// anti-aliased screen text of any size has steeper ones, gradients and photos mostly do not.
constexpr int kStrokeEdgeContrast = 48;

// A row of a strip is ink when it crosses at least this many stroke edges: one vertical rule or
// panel border gives one or two, a character gives two or more.
constexpr int kMinimumEdgesPerInkRow = 4;

// Runs of ink rows outside these heights are not text lines: underlines and dots below, pictures
// and stacked lines that touch above.
constexpr int kMinimumLineHeight_px = 4;
constexpr int kMaximumLineHeight_px = 200;

// Strips narrower than this at the right edge are added to their left neighbour.
constexpr int kMinimumStripWidth = kTextHeightStripWidth / 3;

void collectLineHeights(const QImage &grey, int left, int right, std::vector<int> &heights)
{
    int run = 0;
    const auto endRun = [&] {
        if (run >= kMinimumLineHeight_px && run <= kMaximumLineHeight_px)
            heights.push_back(run);
        run = 0;
    };
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *row = grey.constScanLine(y);
        int edges = 0;
        for (int x = std::max(left, 1); x < right; ++x) {
            if (std::abs(int(row[x]) - int(row[x - 1])) >= kStrokeEdgeContrast)
                ++edges;
        }
        if (edges >= kMinimumEdgesPerInkRow)
            ++run;
        else
            endRun();
    }
    endRun();
}

} // namespace

std::optional<double> measureTextLineHeight(const QImage &grey)
{
    if (grey.isNull() || grey.format() != QImage::Format_Grayscale8)
        return std::nullopt;
    std::vector<int> heights;
    for (int left = 0; left < grey.width(); left += kTextHeightStripWidth) {
        int right = std::min(left + kTextHeightStripWidth, grey.width());
        if (grey.width() - right < kMinimumStripWidth)
            right = grey.width();
        collectLineHeights(grey, left, right, heights);
        if (right == grey.width())
            break;
    }
    if (heights.size() < static_cast<size_t>(kMinimumMeasuredLines))
        return std::nullopt;
    const auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
    std::nth_element(heights.begin(), middle, heights.end());
    return static_cast<double>(*middle);
}

double scaleForTextHeight(std::optional<double> lineHeight_px, const TextHeightScaling &rule, double fallbackScale)
{
    if (!lineHeight_px || *lineHeight_px <= 0 || rule.targetLineHeight_px <= 0)
        return fallbackScale;
    const bool readable = rule.readableFrom_px > 0 && *lineHeight_px >= rule.readableFrom_px;
    const double target = readable ? rule.readableTarget_px : rule.targetLineHeight_px;
    return std::max(rule.minimumScale, std::min(target / *lineHeight_px, rule.maximumScale));
}

} // namespace pellux
