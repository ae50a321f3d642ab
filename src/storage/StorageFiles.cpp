#include "storage/StorageFiles.h"

#include "imaging/Thumbnail.h"

#include "imaging/ScreenshotFileName.h"
#include "persistence/RecordingJson.h"

#include <QDir>
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

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Removes what is below the open folder `fd` except the paths in `keep`; owns `fd`. True when the
// folder ended up empty.
bool emptyBelow(int fd, const QString &path, const QSet<QString> &keep, QStringList &failures)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        failures << QStringLiteral("%1: %2").arg(path, errnoText());
        ::close(fd);
        return false;
    }
    bool empty = true;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QString child = path + QLatin1Char('/') + QFile::decodeName(name);
        struct stat st { };
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            failures << QStringLiteral("%1: %2").arg(child, errnoText());
            empty = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int sub = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const bool subEmpty = sub >= 0 ? emptyBelow(sub, child, keep, failures) : false;
            if (sub < 0)
                failures << QStringLiteral("%1: %2").arg(child, errnoText());
            if (!subEmpty || ::unlinkat(::dirfd(dir), entry->d_name, AT_REMOVEDIR) != 0) {
                if (subEmpty)
                    failures << QStringLiteral("%1: %2").arg(child, errnoText());
                empty = false;
            }
            continue;
        }
        // A frame saved meanwhile keeps its thumbnail.
        if (keep.contains(child) || (child.endsWith(QLatin1String(".thumb")) && keep.contains(child.chopped(6)))) {
            empty = false;
            continue;
        }
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) != 0 && errno != ENOENT) {
            failures << QStringLiteral("%1: %2").arg(child, errnoText());
            empty = false;
        }
    }
    ::closedir(dir);
    return empty;
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
    QString thumbnailError;
    const bool backupRemoved = removeIfFile(path + QStringLiteral(".bak"), &backupError);
    const bool thumbnailRemoved = removeIfFile(thumbnail::pathFor(path), &thumbnailError);
    if (!removeIfFile(path, error))
        return false;
    return (backupRemoved || fail(error, backupError)) && (thumbnailRemoved || fail(error, thumbnailError));
}

QStringList emptyScreenshotsFolder(const QString &screenshotsDirectory, const QSet<QString> &keep)
{
    const QString folder = QDir::cleanPath(screenshotsDirectory);
    if (!folder.startsWith(QLatin1Char('/')) || !folder.endsWith(QLatin1String("/Pellux/Screenshots")))
        return { QStringLiteral("%1: not a screenshots folder").arg(screenshotsDirectory) };
    QStringList failures;
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? failures : QStringList { QStringLiteral("%1: %2").arg(folder, errnoText()) };
    emptyBelow(fd, folder, keep, failures);
    return failures;
}

QStringList removeSetAsideLists(const QString &recordingsDirectory)
{
    QStringList failures;
    const QDir dir(recordingsDirectory);
    for (const QString &name :
        dir.entryList({ QStringLiteral("metadata.json.corrupt-*") }, QDir::Files | QDir::Hidden)) {
        QString error;
        if (!removeIfFile(dir.filePath(name), &error))
            failures << error;
    }
    return failures;
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
