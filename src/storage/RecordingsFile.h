#pragma once

#include "persistence/Recording.h"
#include "runtime/PrivateFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace pellux {

// The recordings list file, Recordings/metadata.json: a JSON array of recordings in the form
// RecordingJson gives, one entry per line. A new entry is written in place of the closing bracket,
// followed by a new one, so that storing a frame costs the same with 200 entries as with 200,000;
// only deletions write the file anew. Any JSON reader reads it as one array, as before. All of it
// is file work, for the store's file queue.
namespace recordings_file {

// How the file ends, judged from its last bytes alone.
enum class Ending {
    missing, // no file
    closed, // the array's closing bracket after an entry or the opening bracket
    cutShort, // no closing bracket: a crash while an entry was written, or a file cut
    unreadable, // not a list file, or it could not be read
};
Ending endingOf(const QString &path, QString *error = nullptr);

struct AppendResult {
    bool ok = false;
    qint64 bytesAdded = 0;
    QString error;
};
// Adds the entries at the end (a missing file is created). Fails, leaving the file as it was as
// far as the disk allows, when it does not end as a list file should.
AppendResult append(
    const QString &path, const std::vector<Recording> &entries, Durability durability = Durability::synced);

// Reads the entries in file order, a few at a time, never holding the whole file.
class Reader {
public:
    explicit Reader(const QString &path);
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // False when the file exists and cannot be opened.
    bool open(QString *error = nullptr);
    // Up to `count` more entries; empty at the end.
    std::vector<Recording> next(int count);
    bool atEnd() const { return m_atEnd; }

    // What was found by the time the end was reached:
    // elements that did not decode as recordings,
    int unreadableElements() const { return m_unreadable; }
    // whether the file ended inside an element or without the closing bracket,
    bool cutShort() const { return m_atEnd && (m_depth > 0 || !m_closed); }
    // and the byte just after the last whole element (or the opening bracket).
    qint64 wholeEnd() const { return m_wholeEnd; }
    // True when the file is a well-formed list of recordings (a missing file is an empty one).
    bool wellFormed() const { return m_atEnd && !cutShort() && m_unreadable == 0 && !m_stray; }

private:
    bool fill();

    QFile m_file;
    bool m_missing = false;
    QByteArray m_buffer;
    qsizetype m_position = 0; // in m_buffer
    qint64 m_bufferOffset = 0; // file offset of m_buffer[0]
    QByteArray m_element;
    int m_depth = 0;
    bool m_inString = false;
    bool m_escaped = false;
    bool m_opened = false; // the opening bracket was seen
    bool m_closed = false; // and the closing one
    bool m_stray = false; // something other than entries at the top level
    bool m_atEnd = false;
    int m_unreadable = 0;
    qint64 m_wholeEnd = 0;
};

struct RewriteResult {
    bool ok = false;
    int removed = 0;
    int kept = 0;
    bool damaged = false;
    QString error;
};
// Writes the file anew, atomically, with the entries in their order as `edit` leaves them; an
// entry it answers false for is dropped. A damaged file (elements that do not decode, cut short,
// stray text) is left alone and reported with `damaged` set, unless `dropUnreadable` is true:
// then what cannot be read is left out.
struct RewriteOptions {
    bool dropUnreadable = false;
};
RewriteResult rewrite(const QString &path, const std::function<bool(Recording &)> &edit, RewriteOptions options = {});

// Writes a whole new file of these entries, atomically.
bool writeAll(const QString &path, const std::vector<Recording> &entries, QString *error = nullptr);

} // namespace recordings_file

} // namespace pellux
