#include "storage/StorageFiles.h"

#include "persistence/RecordingJson.h"
#include "storage/ScreenshotFileName.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

namespace {

// Sums the entries of an open folder; takes ownership of `fd`.
qint64 usageBelow(int fd)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    qint64 total = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // hidden, "." and ".."
        struct stat st { };
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        total += st.st_size;
        if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                total += usageBelow(child);
        }
    }
    ::closedir(dir);
    return total;
}

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool isBelowScreenshotsFolder(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return clean.startsWith(QLatin1Char('/')) && clean.contains(QLatin1String("/Pellux/Screenshots/"))
        && !clean.contains(QLatin1String("/../"));
}

bool removeIfFile(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st { };
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT
            ? true
            : fail(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    if (S_ISDIR(st.st_mode))
        return fail(error, QStringLiteral("%1: is a folder").arg(path));
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return fail(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return true;
}

bool isImageName(const QString &name)
{
    return name.endsWith(QLatin1String(".webp")) || name.endsWith(QLatin1String(".jpg"));
}

} // namespace

qint64 diskUsage(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? 0 : usageBelow(fd);
}

bool removeScreenshotFile(const QString &path, QString *error)
{
    if (!isBelowScreenshotsFolder(path))
        return fail(error, QStringLiteral("%1: not a stored screenshot").arg(path));
    QString backupError;
    const bool backupRemoved = removeIfFile(path + QStringLiteral(".bak"), &backupError);
    if (!removeIfFile(path, error))
        return false;
    return backupRemoved || fail(error, backupError);
}

SalvagedRecordings salvageRecordings(const QByteArray &json)
{
    SalvagedRecordings out;
    // Walk the top-level array by hand, so that a file cut short or damaged in one place still
    // gives back every complete element.
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    qsizetype objectStart = -1;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (depth == 1 && c == '{')
                objectStart = i;
            ++depth;
            break;
        case ']':
        case '}':
            --depth;
            if (depth == 1 && c == '}' && objectStart >= 0) {
                const QJsonDocument doc = QJsonDocument::fromJson(json.mid(objectStart, i - objectStart + 1));
                std::optional<Recording> recording
                    = doc.isObject() ? decodeRecording(doc.object()) : std::optional<Recording>();
                if (recording)
                    out.recordings.push_back(std::move(*recording));
                else
                    ++out.unreadableElements;
                objectStart = -1;
            }
            if (depth < 0)
                depth = 0;
            break;
        default:
            break;
        }
    }
    if (objectStart >= 0)
        ++out.unreadableElements; // the element the file was cut in
    return out;
}

std::vector<Recording> recordingsFromImageFiles(const QString &screenshotsDirectory, const QSet<QString> &known)
{
    std::vector<Recording> out;
    QDirIterator it(screenshotsDirectory, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (!isImageName(info.fileName()) || known.contains(path))
            continue;
        Recording r;
        r.id = QUuid::createUuid();
        if (const std::optional<TimePoint> captured = captureTimeFromFileName(info.fileName())) {
            r.timestamp = *captured;
        } else {
            const QDateTime created = info.birthTime().isValid() ? info.birthTime() : info.lastModified();
            r.timestamp = fromSecondsSince1970(static_cast<double>(created.toMSecsSinceEpoch()) / 1000.0);
        }
        r.filePath = QUrl::fromLocalFile(path);
        r.thumbnailPath = r.filePath;
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace pellux
