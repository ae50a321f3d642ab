#include "persistence/TextMatches.h"

#include "persistence/SearchFolding.h"

#include <algorithm>
#include <cmath>

namespace pellux {

namespace {

// The part of a word's box that characters [from, to) of its `length` take.
QRect partOfBox(const QRect &box, qsizetype from, qsizetype to, qsizetype length)
{
    if (from <= 0 && to >= length)
        return box;
    const double perCharacter = static_cast<double>(box.width()) / static_cast<double>(length);
    const int left = box.x() + static_cast<int>(std::lround(perCharacter * static_cast<double>(from)));
    const int right = box.x() + static_cast<int>(std::lround(perCharacter * static_cast<double>(to)));
    return QRect(left, box.y(), std::max(1, right - left), box.height());
}

// Whether a line ends between two words of the text: the recogniser's lines are kept as line
// breaks.
bool lineBreakBetween(const QString &text, const TextSpan &before, const TextSpan &after)
{
    const qsizetype from = before.start + before.length;
    return text.mid(from, after.start - from).contains(QLatin1Char('\n'));
}

// The text's word spans when they agree with its boxes, else none.
std::vector<TextSpan> spansWithBoxes(const RecordingText &text)
{
    std::vector<TextSpan> spans = text.words.empty() ? std::vector<TextSpan> {} : wordSpans(text.text);
    if (spans.size() != text.words.size())
        spans.clear();
    return spans;
}

} // namespace

std::vector<TextMatch> findMatches(const RecordingText &text, const QString &query)
{
    std::vector<TextMatch> matches;
    const std::vector<TextSpan> spans = spansWithBoxes(text);
    if (spans.empty())
        return matches;
    for (const search_folding::Occurrence &occurrence : search_folding::occurrences(text.text, query)) {
        const qsizetype end = occurrence.start + occurrence.length;
        // The first word ending after the occurrence starts.
        auto word = std::upper_bound(spans.begin(), spans.end(), occurrence.start,
            [](qsizetype offset, const TextSpan &span) { return offset < span.start + span.length; });
        TextMatch match;
        const TextSpan *previous = nullptr;
        for (; word != spans.end() && word->start < end; ++word) {
            const size_t index = static_cast<size_t>(word - spans.begin());
            const QRect part = partOfBox(text.words[index].box, std::max<qsizetype>(0, occurrence.start - word->start),
                std::min(word->length, end - word->start), word->length);
            // A new line, or a word that is not beside the last one on the screen (a line the
            // recogniser wrapped into columns), starts a rectangle of its own.
            const bool sameLine = previous && !lineBreakBetween(text.text, *previous, *word)
                && part.top() <= match.boxes.back().bottom() && part.bottom() >= match.boxes.back().top()
                && part.left() >= match.boxes.back().left();
            if (sameLine)
                match.boxes.back() = match.boxes.back().united(part);
            else
                match.boxes.push_back(part);
            previous = &*word;
        }
        if (!match.boxes.empty())
            matches.push_back(std::move(match));
    }
    return matches;
}

QString regionText(const RecordingText &text, const QRect &region)
{
    const std::vector<TextSpan> spans = spansWithBoxes(text);
    QString selected;
    const TextSpan *previous = nullptr;
    for (size_t i = 0; i < spans.size(); ++i) {
        const QRect &box = text.words[i].box;
        const QRect inside = box.intersected(region);
        const qint64 area = static_cast<qint64>(box.width()) * box.height();
        if (area <= 0 || 2 * static_cast<qint64>(inside.width()) * inside.height() <= area)
            continue;
        if (previous)
            selected += lineBreakBetween(text.text, *previous, spans[i]) ? QLatin1Char('\n') : QLatin1Char(' ');
        selected += text.words[i].text;
        previous = &spans[i];
    }
    return selected;
}

} // namespace pellux
