#include "persistence/RecordingText.h"

#include <cstdint>
#include <limits>

namespace pellux {

namespace {

constexpr char kBoxesVersion = 1;
// Far beyond any screen; a larger value means the bytes are not ours.
constexpr qint64 kLargestCoordinate = 1 << 24;

void putUnsigned(QByteArray &out, quint64 value)
{
    while (value >= 0x80) {
        out.append(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(static_cast<char>(value));
}

void putSigned(QByteArray &out, qint64 value)
{
    putUnsigned(out, (static_cast<quint64>(value) << 1) ^ static_cast<quint64>(value >> 63));
}

class Reader {
public:
    explicit Reader(const QByteArray &bytes)
        : m_bytes(bytes)
    {
    }

    std::optional<quint64> takeUnsigned()
    {
        quint64 value = 0;
        for (int shift = 0; shift < 64 && m_at < m_bytes.size(); shift += 7) {
            const auto byte = static_cast<unsigned char>(m_bytes[m_at++]);
            value |= static_cast<quint64>(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }

    std::optional<qint64> takeSigned()
    {
        const std::optional<quint64> raw = takeUnsigned();
        if (!raw)
            return std::nullopt;
        return static_cast<qint64>(*raw >> 1) ^ -static_cast<qint64>(*raw & 1);
    }

    std::optional<char> takeByte()
    {
        if (m_at >= m_bytes.size())
            return std::nullopt;
        return m_bytes[m_at++];
    }

    bool atEnd() const { return m_at == m_bytes.size(); }
    qsizetype left() const { return m_bytes.size() - m_at; }

private:
    const QByteArray &m_bytes;
    qsizetype m_at = 0;
};

bool plausible(qint64 value) { return value > -kLargestCoordinate && value < kLargestCoordinate; }

} // namespace

std::vector<TextSpan> wordSpans(const QString &text)
{
    std::vector<TextSpan> spans;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool space = i == text.size() || text.at(i).isSpace();
        if (space && start >= 0) {
            spans.push_back({ start, i - start });
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return spans;
}

RecordingText withWordBoxes(QString text, const std::vector<QRect> &boxes)
{
    RecordingText result { std::move(text), {} };
    const std::vector<TextSpan> spans = wordSpans(result.text);
    if (spans.size() != boxes.size() || boxes.empty())
        return result;
    result.words.reserve(boxes.size());
    for (size_t i = 0; i < spans.size(); ++i)
        result.words.push_back({ result.text.mid(spans[i].start, spans[i].length), boxes[i] });
    return result;
}

QByteArray encodeWordBoxes(const std::vector<WordBox> &words)
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(2 + words.size() * 5));
    out.append(kBoxesVersion);
    putUnsigned(out, words.size());
    qint64 right = 0;
    qint64 top = 0;
    for (const WordBox &word : words) {
        const QRect &box = word.box;
        putSigned(out, box.x() - right);
        putSigned(out, box.y() - top);
        putUnsigned(out, static_cast<quint64>(std::max(0, box.width())));
        putUnsigned(out, static_cast<quint64>(std::max(0, box.height())));
        right = static_cast<qint64>(box.x()) + std::max(0, box.width());
        top = box.y();
    }
    return out;
}

std::optional<std::vector<QRect>> decodeWordBoxes(const QByteArray &bytes)
{
    Reader in(bytes);
    if (in.takeByte() != kBoxesVersion)
        return std::nullopt;
    const std::optional<quint64> count = in.takeUnsigned();
    // Every box takes 4 bytes at least: a count beyond that is damage, not a reason to allocate.
    if (!count || *count > static_cast<quint64>(in.left()) / 4)
        return std::nullopt;
    std::vector<QRect> boxes;
    boxes.reserve(*count);
    qint64 right = 0;
    qint64 top = 0;
    for (quint64 i = 0; i < *count; ++i) {
        const std::optional<qint64> dx = in.takeSigned();
        const std::optional<qint64> dy = in.takeSigned();
        const std::optional<quint64> width = in.takeUnsigned();
        const std::optional<quint64> height = in.takeUnsigned();
        if (!dx || !dy || !width || !height || !plausible(*dx) || !plausible(*dy)
            || *width >= static_cast<quint64>(kLargestCoordinate)
            || *height >= static_cast<quint64>(kLargestCoordinate))
            return std::nullopt;
        const qint64 x = right + *dx;
        const qint64 y = top + *dy;
        if (!plausible(x) || !plausible(y))
            return std::nullopt;
        boxes.emplace_back(
            static_cast<int>(x), static_cast<int>(y), static_cast<int>(*width), static_cast<int>(*height));
        right = x + static_cast<qint64>(*width);
        top = y;
    }
    if (!in.atEnd())
        return std::nullopt;
    return boxes;
}

} // namespace pellux
