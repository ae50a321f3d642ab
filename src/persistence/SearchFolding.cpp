#include "persistence/SearchFolding.h"

#include <sqlite3.h>

namespace pellux::search_folding {

namespace {

constexpr std::string_view kSpace = " ";

// The folded form of a code point outside ASCII, or empty to keep it as it is.
std::string_view foldedCodePoint(char32_t c)
{
    switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return kSpace;
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x201B:
    case 0x2032:
    case 0x2035:
        return "'";
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x201F:
    case 0x2033:
    case 0x2036:
        return "\"";
    case 0x2212:
    case 0xFE58:
    case 0xFE63:
    case 0xFF0D:
        return "-";
    case 0x2026:
        return "...";
    case 0xFB00:
        return "ff";
    case 0xFB01:
        return "fi";
    case 0xFB02:
        return "fl";
    case 0xFB03:
        return "ffi";
    case 0xFB04:
        return "ffl";
    case 0xFB05:
    case 0xFB06:
        return "st";
    default:
        break;
    }
    if (c >= 0x2000 && c <= 0x200A)
        return kSpace;
    if (c >= 0x2010 && c <= 0x2015)
        return "-";
    return {};
}

// The length of the UTF-8 sequence at `at` and its code point, or 0 when the bytes there are not
// a well-formed sequence.
size_t decode(std::string_view text, size_t at, char32_t *c)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    *c = value;
    return length;
}

// The folded form of an ASCII character, or empty to keep it as it is.
std::string_view foldedAscii(char c)
{
    switch (c) {
    case '_':
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return kSpace;
    case ',':
        return ".";
    case ';':
        return ":";
    default:
        return {};
    }
}

// An ASCII byte that folds to itself whatever surrounds it.
bool keptAsIs(char c) { return static_cast<unsigned char>(c) < 0x80 && foldedAscii(c).empty(); }

} // namespace

std::string fold(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    bool afterSpace = false;
    for (size_t at = 0; at < text.size();) {
        // Most of a text is letters and digits: copied a run at a time.
        if (keptAsIs(text[at])) {
            size_t end = at + 1;
            while (end < text.size() && keptAsIs(text[end]))
                ++end;
            folded.append(text.substr(at, end - at));
            afterSpace = false;
            at = end;
            continue;
        }
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        std::string_view replacement;
        size_t length = 1;
        if (byte < 0x80) {
            replacement = foldedAscii(text[at]); // the characters kept as they are went above
        } else {
            char32_t c = 0;
            length = decode(text, at, &c);
            if (length == 0)
                length = 1;
            else
                replacement = foldedCodePoint(c);
            if (replacement.empty())
                replacement = text.substr(at, length);
        }
        at += length;
        if (replacement == kSpace) {
            if (!afterSpace)
                folded += ' ';
            afterSpace = true;
        } else {
            folded += replacement;
            afterSpace = false;
        }
    }
    return folded;
}

QString fold(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    const std::string folded = fold(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    return QString::fromUtf8(folded.data(), static_cast<qsizetype>(folded.size()));
}

namespace {

// Folded text with, for each of its UTF-16 units, where the code point it came from starts and
// ends in the original.
struct MappedFold {
    QString folded;
    std::vector<qsizetype> from;
    std::vector<qsizetype> to;
};

MappedFold foldMapped(const QString &text)
{
    MappedFold out;
    out.folded.reserve(text.size());
    out.from.reserve(size_t(text.size()));
    out.to.reserve(size_t(text.size()));
    bool afterSpace = false;
    for (qsizetype at = 0; at < text.size();) {
        const bool pair = text.at(at).isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate();
        const qsizetype length = pair ? 2 : 1;
        const char32_t c = pair ? QChar::surrogateToUcs4(text.at(at), text.at(at + 1)) : text.at(at).unicode();
        const std::string_view replacement = c < 0x80 ? foldedAscii(char(c)) : foldedCodePoint(c);
        if (replacement == kSpace) {
            if (afterSpace) {
                out.to.back() = at + length; // the run's one space covers all of it
            } else {
                out.folded += u' ';
                out.from.push_back(at);
                out.to.push_back(at + length);
            }
            afterSpace = true;
        } else {
            // Kept as it is, or folded to ASCII.
            const qsizetype units = replacement.empty() ? length : qsizetype(replacement.size());
            for (qsizetype i = 0; i < units; ++i) {
                out.folded += replacement.empty() ? text.at(at + i) : QLatin1Char(replacement[size_t(i)]);
                out.from.push_back(at);
                out.to.push_back(at + length);
            }
            afterSpace = false;
        }
        at += length;
    }
    return out;
}

QString asciiLower(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return text;
}

} // namespace

std::vector<Occurrence> occurrences(const QString &text, const QString &query)
{
    const QString needle = asciiLower(fold(query));
    std::vector<Occurrence> found;
    if (needle.isEmpty() || needle == QLatin1String(" "))
        return found;
    const MappedFold haystack = foldMapped(text);
    const QString lowered = asciiLower(haystack.folded);
    for (qsizetype at = lowered.indexOf(needle); at >= 0; at = lowered.indexOf(needle, at + needle.size())) {
        const qsizetype start = haystack.from[static_cast<size_t>(at)];
        const qsizetype end = haystack.to[static_cast<size_t>(at + needle.size() - 1)];
        found.push_back(Occurrence { start, end - start });
    }
    return found;
}

namespace {

void foldFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(arguments[0]));
    if (!text) {
        sqlite3_result_error_nomem(context);
        return;
    }
    const std::string folded = fold(std::string_view(text, static_cast<size_t>(sqlite3_value_bytes(arguments[0]))));
    sqlite3_result_text64(context, folded.data(), folded.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

} // namespace

bool registerFunction(sqlite3 *db)
{
    return sqlite3_create_function_v2(db, "pellux_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
               nullptr, foldFunction, nullptr, nullptr, nullptr)
        == SQLITE_OK;
}

} // namespace pellux::search_folding
