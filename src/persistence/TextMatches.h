#pragma once

#include "persistence/RecordingText.h"

#include <QRect>
#include <QString>

#include <vector>

namespace pellux {

// Where one occurrence of a query is on the stored image: one rectangle per line it spans (pixels
// of the image, top-left origin), top to bottom.
struct TextMatch {
    std::vector<QRect> boxes;
};

// Every occurrence of the query in the text, as search compares them (see
// search_folding::occurrences), in reading order. An occurrence covering part of a word gets the
// part of the word's box its characters take, as if all characters were equally wide. Empty when
// the text's word boxes are not known.
std::vector<TextMatch> findMatches(const RecordingText &text, const QString &query);

// The words whose boxes lie mostly inside `region`, in the text's order: a line break between
// words of different lines, a space between words of one line.
QString regionText(const RecordingText &text, const QRect &region);

} // namespace pellux
