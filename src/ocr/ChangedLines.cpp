#include "ocr/ChangedLines.h"

#include "imaging/PixelBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

namespace pellux {

namespace {

bool overlaps(const RowSpan &a, const RowSpan &b) { return a.top < b.bottom && b.top < a.bottom; }

bool rowsDiffer(const QImage &a, const QImage &b, int y, bool ignoreAlpha)
{
    const auto *left = reinterpret_cast<const quint32 *>(a.constScanLine(y));
    const auto *right = reinterpret_cast<const quint32 *>(b.constScanLine(y));
    const int width = a.width();
    if (std::memcmp(left, right, static_cast<size_t>(width) * sizeof(quint32)) == 0)
        return false;
    if (!ignoreAlpha)
        return true;
    // The unused byte of a 32-bit RGB capture may hold anything.
    for (int x = 0; x < width; ++x) {
        if ((left[x] ^ right[x]) & 0x00ffffffu)
            return true;
    }
    return false;
}

std::vector<RowSpan> mergeOverlapping(std::vector<RowSpan> spans)
{
    std::sort(spans.begin(), spans.end(), [](const RowSpan &a, const RowSpan &b) { return a.top < b.top; });
    std::vector<RowSpan> merged;
    for (const RowSpan &span : spans) {
        if (!merged.empty() && span.top <= merged.back().bottom)
            merged.back().bottom = std::max(merged.back().bottom, span.bottom);
        else
            merged.push_back(span);
    }
    return merged;
}

} // namespace

std::vector<RowSpan> changedRows(const QImage &currentImage, const QImage &previousImage)
{
    if (currentImage.isNull())
        return {};
    if (previousImage.isNull() || previousImage.size() != currentImage.size())
        return { RowSpan { 0, currentImage.height() } };
    const QImage current = pixelbuffer::asArgb32Family(currentImage);
    QImage previous = pixelbuffer::asArgb32Family(previousImage);
    if (previous.format() != current.format())
        previous = previous.convertToFormat(current.format());
    const bool ignoreAlpha = current.format() == QImage::Format_RGB32;

    std::vector<RowSpan> spans;
    for (int y = 0; y < current.height(); ++y) {
        if (!rowsDiffer(current, previous, y, ignoreAlpha))
            continue;
        if (!spans.empty() && spans.back().bottom == y)
            spans.back().bottom = y + 1;
        else
            spans.push_back(RowSpan { y, y + 1 });
    }
    return spans;
}

RowSpan rowsOfBounds(const QRectF &bounds, int height)
{
    const int top = static_cast<int>(std::floor(height - (bounds.y() + bounds.height())));
    const int bottom = static_cast<int>(std::ceil(height - bounds.y()));
    return RowSpan { std::clamp(top, 0, height), std::clamp(bottom, 0, height) };
}

std::optional<std::vector<RowSpan>> linesToRecognize(
    const std::vector<RowSpan> &changed, const std::vector<OCRText> &previous, QSize imageSize, int margin_px)
{
    const int height = imageSize.height();
    std::vector<RowSpan> lines;
    for (const OCRText &fragment : previous) {
        const RowSpan line = rowsOfBounds(fragment.bounds, height);
        if (line.height() > 0)
            lines.push_back(line);
    }
    // Grows a band until every line it touches lies wholly inside it.
    auto closeOverLines = [&lines](RowSpan band) {
        for (bool grew = true; grew;) {
            grew = false;
            for (const RowSpan &line : lines) {
                if (overlaps(band, line) && (line.top < band.top || line.bottom > band.bottom)) {
                    band.top = std::min(band.top, line.top);
                    band.bottom = std::max(band.bottom, line.bottom);
                    grew = true;
                }
            }
        }
        return band;
    };

    std::vector<RowSpan> bands;
    for (const RowSpan &span : changed) {
        const RowSpan widened { std::max(0, span.top - margin_px), std::min(height, span.bottom + margin_px) };
        if (widened.height() > 0)
            bands.push_back(closeOverLines(widened));
    }
    bands = mergeOverlapping(std::move(bands));

    // Blank paper around each band, as far as it goes up to the margin.
    for (RowSpan &band : bands) {
        int top = std::max(0, band.top - margin_px);
        int bottom = std::min(height, band.bottom + margin_px);
        for (const RowSpan &line : lines) {
            if (line.bottom <= band.top)
                top = std::max(top, line.bottom);
            if (line.top >= band.bottom)
                bottom = std::min(bottom, line.top);
        }
        band = RowSpan { top, bottom };
    }
    bands = mergeOverlapping(std::move(bands));

    qint64 covered = 0;
    for (const RowSpan &band : bands)
        covered += band.height();
    if (static_cast<double>(covered) > kMaxChangedHeightShare * height)
        return std::nullopt;
    return bands;
}

std::vector<OCRText> mergeChangedLines(const std::vector<OCRText> &previous, const std::vector<RowSpan> &bands,
    const std::vector<OCRText> &recognized, int imageHeight, const QUuid &recordingId, TimePoint timestamp)
{
    auto inBands = [&bands](const RowSpan &rows) {
        return std::any_of(bands.begin(), bands.end(), [&rows](const RowSpan &band) { return overlaps(rows, band); });
    };

    // Sort keys: the index of the previous fragment a fragment is placed at, then kept before
    // replacements before followers, then recognition order.
    struct Placed {
        int anchor;
        int rank;
        int order;
        OCRText fragment;
    };
    std::vector<Placed> placed;
    std::vector<bool> replaced(previous.size(), false);
    for (size_t i = 0; i < previous.size(); ++i) {
        replaced[i] = inBands(rowsOfBounds(previous[i].bounds, imageHeight));
        if (!replaced[i])
            placed.push_back(Placed { static_cast<int>(i), 0, 0, previous[i] });
    }

    for (size_t k = 0; k < recognized.size(); ++k) {
        const OCRText &fragment = recognized[k];
        int anchor = -1;
        int rank = 2;
        double bestArea = 0;
        for (size_t i = 0; i < previous.size(); ++i) {
            if (!replaced[i])
                continue;
            const QRectF common = fragment.bounds.intersected(previous[i].bounds);
            const double area = common.width() * common.height();
            if (area > bestArea) {
                bestArea = area;
                anchor = static_cast<int>(i);
                rank = 1;
            }
        }
        if (rank == 2) {
            const RowSpan rows = rowsOfBounds(fragment.bounds, imageHeight);
            for (size_t i = 0; i < previous.size(); ++i) {
                const RowSpan other = rowsOfBounds(previous[i].bounds, imageHeight);
                if (other.top + other.bottom < 2 * rows.top + rows.height())
                    anchor = static_cast<int>(i);
            }
        }
        placed.push_back(Placed { anchor, rank, static_cast<int>(k), fragment });
    }

    std::stable_sort(placed.begin(), placed.end(), [](const Placed &a, const Placed &b) {
        return std::tie(a.anchor, a.rank, a.order) < std::tie(b.anchor, b.rank, b.order);
    });
    std::vector<OCRText> merged;
    merged.reserve(placed.size());
    for (Placed &p : placed) {
        OCRText fragment = std::move(p.fragment);
        if (p.rank == 0)
            fragment.id = QUuid::createUuid();
        fragment.recordingId = recordingId;
        fragment.timestamp = timestamp;
        merged.push_back(std::move(fragment));
    }
    return merged;
}

} // namespace pellux
