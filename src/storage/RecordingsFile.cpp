#include "storage/RecordingsFile.h"

#include "persistence/RecordingJson.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux::recordings_file {

namespace {

// The end of the file read to judge how it ends; far more than any run of trailing white space.
constexpr qint64 kTailBytes = 4096;
constexpr qint64 kReadChunk = 1 << 20;

bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

QString errnoText(const QString &path, int code)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code)));
}

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    // Closes now, answering the errno of a failed close (0 when it closed).
    int close()
    {
        const int fd = std::exchange(m_fd, -1);
        return fd >= 0 && ::close(fd) != 0 && errno != EINTR ? errno : 0;
    }

private:
    int m_fd;
};

struct Tail {
    Ending ending = Ending::unreadable;
    qint64 closingBracket = -1; // offset of the closing bracket
    bool empty = false; // the array holds no entry
    QString error;
};

Tail readTail(int fd, const QString &path)
{
    Tail tail;
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        tail.error = errnoText(path, errno);
        return tail;
    }
    const qint64 size = st.st_size;
    const qint64 length = std::min(size, kTailBytes);
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(
            fd, bytes.data() + done, static_cast<size_t>(length - done), static_cast<off_t>(size - length + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            tail.error = n < 0 ? errnoText(path, errno) : QStringLiteral("%1: shorter than it says").arg(path);
            return tail;
        }
        done += n;
    }
    qsizetype i = bytes.size() - 1;
    while (i >= 0 && isSpace(bytes.at(i)))
        --i;
    if (i < 0) {
        tail.ending = size > length ? Ending::unreadable : Ending::cutShort;
        tail.error = QStringLiteral("%1: no list at its end").arg(path);
        return tail;
    }
    if (bytes.at(i) != ']') {
        tail.ending = Ending::cutShort;
        tail.error = QStringLiteral("%1: the list is not closed").arg(path);
        return tail;
    }
    tail.closingBracket = size - length + i;
    qsizetype j = i - 1;
    while (j >= 0 && isSpace(bytes.at(j)))
        --j;
    if (j >= 0 && (bytes.at(j) == '}' || bytes.at(j) == '[')) {
        tail.ending = Ending::closed;
        tail.empty = bytes.at(j) == '[';
    } else {
        tail.error = QStringLiteral("%1: not a list of recordings").arg(path);
    }
    return tail;
}

QByteArray encodedLines(const std::vector<Recording> &entries)
{
    QByteArray out;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i)
            out += ",\n";
        out += encodeRecording(entries[i]);
    }
    return out;
}

} // namespace

Ending endingOf(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Ending::missing;
        fail(error, errnoText(path, errno));
        return Ending::unreadable;
    }
    FileDescriptor file(fd);
    const Tail tail = readTail(fd, path);
    if (tail.ending != Ending::closed)
        fail(error, tail.error);
    return tail.ending;
}

AppendResult append(const QString &path, const std::vector<Recording> &entries, Durability durability)
{
    AppendResult result;
    if (entries.empty()) {
        result.ok = true;
        return result;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            result.error = errnoText(path, errno);
            return result;
        }
        result.ok = writeAll(path, entries, &result.error);
        result.bytesAdded = result.ok ? QFileInfo(path).size() : 0;
        return result;
    }
    FileDescriptor file(fd);
    const Tail tail = readTail(fd, path);
    if (tail.ending != Ending::closed) {
        result.error = tail.error;
        return result;
    }
    const QByteArray added = QByteArray(tail.empty ? "\n" : ",\n") + encodedLines(entries) + "\n]\n";
    const qint64 oldSize = QFileInfo(path).size();
    const qint64 newSize = tail.closingBracket + added.size();
    // Whoever made the file, what is added to it is private.
    int code = ::fchmod(fd, 0600) != 0 ? errno : 0;
    if (code == 0)
        code = writeWholeAt(fd, added, tail.closingBracket);
    if (code == 0 && ::ftruncate(fd, static_cast<off_t>(newSize)) != 0)
        code = errno;
    if (code == 0 && durability == Durability::synced)
        code = syncFile(fd);
    if (code != 0) {
        // Put the closing bracket back where it was, so that the list stays whole; if even that
        // fails, the next start finds the list cut short and mends it.
        if (writeWholeAt(fd, QByteArrayLiteral("]\n"), tail.closingBracket) == 0)
            (void)::ftruncate(fd, static_cast<off_t>(tail.closingBracket + 2));
        result.error = errnoText(path, code);
        return result;
    }
    if (const int closeCode = file.close(); closeCode != 0) {
        result.error = errnoText(path, closeCode);
        return result;
    }
    result.ok = true;
    result.bytesAdded = newSize - oldSize;
    return result;
}

Reader::Reader(const QString &path)
    : m_file(path)
{
}

Reader::~Reader() = default;

bool Reader::open(QString *error)
{
    if (!m_file.exists()) {
        m_missing = true;
        m_atEnd = true;
        m_opened = true;
        m_closed = true;
        return true;
    }
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    return true;
}

bool Reader::fill()
{
    m_bufferOffset += m_buffer.size();
    m_buffer = m_file.read(kReadChunk);
    m_position = 0;
    return !m_buffer.isEmpty();
}

std::vector<Recording> Reader::next(int count)
{
    std::vector<Recording> out;
    if (m_atEnd || !m_file.isOpen())
        return out;
    qsizetype elementStart = m_depth > 0 ? m_position : -1;
    while (static_cast<int>(out.size()) < count) {
        if (m_position >= m_buffer.size()) {
            if (elementStart >= 0)
                m_element += QByteArrayView(m_buffer).sliced(elementStart);
            if (!fill()) {
                m_atEnd = true;
                break;
            }
            if (elementStart >= 0)
                elementStart = 0;
        }
        const char c = m_buffer.at(m_position);
        const qint64 offset = m_bufferOffset + m_position;
        ++m_position;
        if (m_depth > 0) {
            if (m_inString) {
                if (m_escaped)
                    m_escaped = false;
                else if (c == '\\')
                    m_escaped = true;
                else if (c == '"')
                    m_inString = false;
                continue;
            }
            if (c == '"') {
                m_inString = true;
            } else if (c == '{' || c == '[') {
                ++m_depth;
            } else if ((c == '}' || c == ']') && --m_depth == 0) {
                m_element += QByteArrayView(m_buffer).sliced(elementStart, m_position - elementStart);
                elementStart = -1;
                const QJsonDocument document = QJsonDocument::fromJson(m_element);
                std::optional<Recording> recording
                    = document.isObject() ? decodeRecording(document.object()) : std::nullopt;
                m_element.clear();
                m_wholeEnd = offset + 1;
                if (recording)
                    out.push_back(std::move(*recording));
                else
                    ++m_unreadable;
            }
            continue;
        }
        if (isSpace(c))
            continue;
        if (!m_opened) {
            if (c == '[') {
                m_opened = true;
                m_wholeEnd = offset + 1;
            } else {
                m_stray = true;
            }
        } else if (m_closed) {
            m_stray = true;
        } else if (c == '{') {
            m_depth = 1;
            elementStart = m_position - 1;
        } else if (c == ']') {
            m_closed = true;
        } else if (c != ',') {
            m_stray = true;
        }
    }
    if (m_atEnd && m_depth > 0)
        ++m_unreadable; // the element the file was cut in
    else if (!m_atEnd && elementStart >= 0)
        m_element += QByteArrayView(m_buffer).sliced(elementStart, m_position - elementStart);
    return out;
}

RewriteResult rewrite(const QString &path, const std::function<bool(Recording &)> &edit, RewriteOptions options)
{
    RewriteResult result;
    Reader reader(path);
    if (!reader.open(&result.error))
        return result;
    constexpr int kBatch = 2000;
    int code = 0;
    const bool written = writePrivateFileAtomically(
        path,
        [&](int fd) {
            bool first = true;
            code = writeWhole(fd, QByteArrayLiteral("["));
            while (code == 0 && !reader.atEnd()) {
                QByteArray lines;
                for (Recording &r : reader.next(kBatch)) {
                    if (!edit(r)) {
                        ++result.removed;
                        continue;
                    }
                    lines += first ? "\n" : ",\n";
                    lines += encodeRecording(r);
                    first = false;
                    ++result.kept;
                }
                if (reader.atEnd() && !reader.wellFormed() && !options.dropUnreadable)
                    code = EILSEQ; // damaged: the old file stays
                else
                    code = writeWhole(fd, lines);
            }
            if (code == 0)
                code = writeWhole(fd, QByteArrayLiteral("\n]\n"));
            return code;
        },
        &result.error);
    result.damaged = reader.atEnd() && !reader.wellFormed();
    if (!written && code == EILSEQ)
        result.error = QStringLiteral("%1: the list is damaged (%2 unreadable elements%3); left as it is")
                           .arg(path)
                           .arg(reader.unreadableElements())
                           .arg(reader.cutShort() ? QStringLiteral(", cut short") : QString());
    result.ok = written;
    return result;
}

bool writeAll(const QString &path, const std::vector<Recording> &entries, QString *error)
{
    const QByteArray body = entries.empty() ? QByteArrayLiteral("[]\n") : "[\n" + encodedLines(entries) + "\n]\n";
    return writePrivateFileAtomically(path, body, error);
}

} // namespace pellux::recordings_file
