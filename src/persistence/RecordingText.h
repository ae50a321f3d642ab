#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>

#include <optional>
#include <vector>

namespace pellux {

// One recognised word and where it is in the stored image (pixels, top-left origin).
struct WordBox {
    QString text;
    QRect box;

    bool operator==(const WordBox &) const = default;
};

// A recording's stored text and the boxes of its words. The words are the text split on white
// space, in order; empty when the boxes are not known (a recording stored before boxes were kept,
// or boxes that did not agree with the text).
struct RecordingText {
    QString text;
    std::vector<WordBox> words;
};

// Where each word of `text` (a run of characters other than white space) starts and how long it
// is, in UTF-16 units, in order.
struct TextSpan {
    qsizetype start = 0;
    qsizetype length = 0;
};
std::vector<TextSpan> wordSpans(const QString &text);

// The text with its word boxes, or the text alone when `boxes` are not one per word of the text.
RecordingText withWordBoxes(QString text, const std::vector<QRect> &boxes);

// The stored form of the boxes: a version byte, the count, then per box x and y relative to the
// previous box's right edge and top, width and height, each a (zigzag) variable-length integer,
// about 5 bytes a word of a line.
QByteArray encodeWordBoxes(const std::vector<WordBox> &words);
// Absent when the bytes are not such an encoding.
std::optional<std::vector<QRect>> decodeWordBoxes(const QByteArray &bytes);

} // namespace pellux
