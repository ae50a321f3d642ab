#include "ocr/ChangedLines.h"

#include "runtime/PixelBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <unordered_map>

namespace pellux {

namespace {

bool overlaps(const RowSpan &a, const RowSpan &b) { return a.top < b.bottom && b.top < a.bottom; }

// The rows that are surely a text line's own: its box less a sixth at either end. The boxes of
// neighbouring lines often share a row or two (descenders, brackets); bands grown over every
// line whose box touches the last would take in the whole screen.
RowSpan coreOf(const RowSpan &line)
{
    const int trim = std::max(1, line.height() / 6);
    if (line.height() <= 2 * trim)
        return line;
    return RowSpan { line.top + trim, line.bottom - trim };
}

// Tesseract sometimes reads a column of short lines (line numbers, a gutter) as one "line" many
// lines tall. Such a box says nothing about where lines are: bands do not grow over it, and
// when it changes or scrolls away it is dropped rather than read again.
constexpr double kMaxLineHeightPerTypical = 2.5;

// The height above which a fragment's box is such a column: kMaxLineHeightPerTypical times the
// median height of the boxes.
double tallLineHeight(const std::vector<OCRText> &fragments)
{
    std::vector<double> heights;
    heights.reserve(fragments.size());
    for (const OCRText &fragment : fragments)
        heights.push_back(fragment.bounds.height());
    if (heights.empty())
        return 0;
    const auto middle = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
    std::nth_element(heights.begin(), middle, heights.end());
    return kMaxLineHeightPerTypical * *middle;
}

// Whether a band takes in a text line, to recognise it anew.
bool takesIn(const RowSpan &band, const RowSpan &line) { return overlaps(band, coreOf(line)); }

bool rowsDiffer(const QImage &a, int ya, const QImage &b, int yb, bool ignoreAlpha)
{
    const auto *left = reinterpret_cast<const quint32 *>(a.constScanLine(ya));
    const auto *right = reinterpret_cast<const quint32 *>(b.constScanLine(yb));
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

// Two frames of one window in the same 32-bit pixel format, for comparing row by row.
struct ComparedFrames {
    QImage current;
    QImage previous;
    bool ignoreAlpha = false; // the unused byte of a 32-bit RGB capture may hold anything
};

std::optional<ComparedFrames> comparable(const QImage &currentImage, const QImage &previousImage)
{
    if (currentImage.isNull() || previousImage.isNull() || previousImage.size() != currentImage.size())
        return std::nullopt;
    ComparedFrames frames { pixelbuffer::asArgb32Family(currentImage), pixelbuffer::asArgb32Family(previousImage) };
    if (frames.previous.format() != frames.current.format())
        frames.previous = frames.previous.convertToFormat(frames.current.format());
    frames.ignoreAlpha = frames.current.format() == QImage::Format_RGB32;
    return frames;
}

std::vector<quint64> rowHashes(const QImage &image, bool ignoreAlpha)
{
    const quint32 mask = ignoreAlpha ? 0x00ffffffu : 0xffffffffu;
    std::vector<quint64> hashes(static_cast<size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        quint64 hash = 14695981039346656037ull; // FNV-1a
        for (int x = 0; x < image.width(); ++x)
            hash = (hash ^ (row[x] & mask)) * 1099511628211ull;
        hashes[static_cast<size_t>(y)] = hash;
    }
    return hashes;
}

// Rows that occur more often than this in a frame (blank rows, rules) say nothing about a scroll.
constexpr size_t kMaxRepeatsOfTellingRow = 4;
// A scroll is considered only when at least this many telling rows agree on it.
constexpr int kMinScrollVotes = 3;

// Rows of `now` equal to the row `shift` further down in `before`, by their hashes.
int rowsKeptBy(const std::vector<quint64> &now, const std::vector<quint64> &before, int shift)
{
    const int height = static_cast<int>(now.size());
    int kept = 0;
    for (int y = std::max(0, -shift); y < std::min(height, height - shift); ++y)
        kept += now[static_cast<size_t>(y)] == before[static_cast<size_t>(y + shift)] ? 1 : 0;
    return kept;
}

} // namespace

int scrollShift(const QImage &currentImage, const QImage &previousImage)
{
    const std::optional<ComparedFrames> frames = comparable(currentImage, previousImage);
    if (!frames)
        return 0;
    const std::vector<quint64> now = rowHashes(frames->current, frames->ignoreAlpha);
    const std::vector<quint64> before = rowHashes(frames->previous, frames->ignoreAlpha);
    std::unordered_map<quint64, std::vector<int>> rowsOf;
    for (size_t y = 0; y < before.size(); ++y)
        rowsOf[before[y]].push_back(static_cast<int>(y));

    // Every telling row votes for the shifts that would bring it where it is now.
    std::unordered_map<int, int> votes;
    for (size_t y = 0; y < now.size(); ++y) {
        const auto found = rowsOf.find(now[y]);
        if (found == rowsOf.end() || found->second.size() > kMaxRepeatsOfTellingRow)
            continue;
        for (const int from : found->second) {
            if (from != static_cast<int>(y))
                ++votes[from - static_cast<int>(y)];
        }
    }
    int best = 0;
    int bestVotes = kMinScrollVotes - 1;
    for (const auto &[shift, count] : votes) {
        // Most votes first, then the shorter scroll, then up; the order of the map plays no part.
        const bool better = count != bestVotes
            ? count > bestVotes
            : std::make_tuple(-std::abs(shift), shift) > std::make_tuple(-std::abs(best), best);
        if (better) {
            best = shift;
            bestVotes = count;
        }
    }
    if (best == 0 || rowsKeptBy(now, before, best) <= rowsKeptBy(now, before, 0))
        return 0;
    return best;
}

std::vector<RowSpan> changedRows(const QImage &currentImage, const QImage &previousImage, int shift)
{
    if (currentImage.isNull())
        return {};
    const std::optional<ComparedFrames> frames = comparable(currentImage, previousImage);
    if (!frames)
        return { RowSpan { 0, currentImage.height() } };
    const QImage &current = frames->current;
    const int height = current.height();

    std::vector<RowSpan> spans;
    for (int y = 0; y < height; ++y) {
        const int from = y + shift;
        if (from >= 0 && from < height && !rowsDiffer(current, y, frames->previous, from, frames->ignoreAlpha))
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

std::vector<OCRText> scrolledFragments(
    const std::vector<OCRText> &previous, int shift, int height, std::vector<RowSpan> &changed)
{
    std::vector<OCRText> moved;
    moved.reserve(previous.size());
    const double tall = tallLineHeight(previous);
    for (const OCRText &fragment : previous) {
        // Up the screen is up in lower-left bounds.
        const QRectF bounds = fragment.bounds.translated(0, shift);
        const double top = height - (bounds.y() + bounds.height());
        const double bottom = height - bounds.y();
        if (top >= 0 && bottom <= height) {
            OCRText kept = fragment;
            kept.bounds = bounds;
            // Word boxes have a top-left origin: the scroll moves them up the image.
            for (WordBox &word : kept.words)
                word.box.translate(0, -shift);
            moved.push_back(std::move(kept));
        } else if (bottom > 0 && top < height && fragment.bounds.height() <= tall) {
            const RowSpan rest = rowsOfBounds(bounds, height);
            if (rest.height() > 0)
                changed.push_back(rest);
        }
    }
    return moved;
}

std::optional<std::vector<RowSpan>> linesToRecognize(
    const std::vector<RowSpan> &changed, const std::vector<OCRText> &previous, QSize imageSize, int margin_px)
{
    const int height = imageSize.height();
    std::vector<RowSpan> lines;
    const double tall = tallLineHeight(previous);
    for (const OCRText &fragment : previous) {
        const RowSpan line = rowsOfBounds(fragment.bounds, height);
        if (line.height() > 0 && fragment.bounds.height() <= tall)
            lines.push_back(line);
    }
    // Grows a band over every line the change itself touches, then until every line it takes in
    // lies wholly inside it.
    auto closeOverLines = [&lines](RowSpan band, const RowSpan &change) {
        for (const RowSpan &line : lines) {
            if (overlaps(change, line)) {
                band.top = std::min(band.top, line.top);
                band.bottom = std::max(band.bottom, line.bottom);
            }
        }
        for (bool grew = true; grew;) {
            grew = false;
            for (const RowSpan &line : lines) {
                if (takesIn(band, line) && (line.top < band.top || line.bottom > band.bottom)) {
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
            bands.push_back(closeOverLines(widened, span));
    }
    bands = mergeOverlapping(std::move(bands));

    // Blank paper around each band, as far as it goes up to the margin.
    for (RowSpan &band : bands) {
        int top = std::max(0, band.top - margin_px);
        int bottom = std::min(height, band.bottom + margin_px);
        for (const RowSpan &line : lines) {
            // Lines left out keep all of their box out, as far as the band's own lines allow.
            const RowSpan core = coreOf(line);
            if (core.bottom <= band.top)
                top = std::max(top, std::min(line.bottom, band.top));
            if (core.top >= band.bottom)
                bottom = std::min(bottom, std::max(line.top, band.bottom));
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
        return std::any_of(bands.begin(), bands.end(), [&rows](const RowSpan &band) { return takesIn(band, rows); });
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
