#pragma once

#include <QString>

namespace pellux {

// Characters as a reader counts them (grapheme clusters, so an emoji or an accented letter made of
// several code points is one), for the length and preview figures of log lines.
qsizetype characterCount(const QString &text);
// The first `count` such characters; never cuts a character in half.
QString leadingCharacters(const QString &text, qsizetype count);

} // namespace pellux
