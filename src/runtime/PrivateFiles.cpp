#include "runtime/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

// Writes every byte or reports why not. A short write is retried, so that a full disk or a file
// size limit shows as the error of the next write instead of passing as success.
int writeWhole(int fd, const QByteArray &bytes) { return writeWholeAt(fd, bytes, -1); }

int writeWholeAt(int fd, const QByteArray &bytes, qint64 offset)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, data, static_cast<size_t>(left))
                                     : ::pwrite(fd, data, static_cast<size_t>(left), static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
        if (offset >= 0)
            offset += n;
    }
    return 0;
}

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

QString errnoText(const QString &path, int code)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code)));
}

} // namespace

bool makePrivatePath(const QString &path, QString *error)
{
    const QString clean = QDir::cleanPath(path);
    QStringList missing;
    QString probe = clean;
    struct stat st { };
    while (!probe.isEmpty() && ::stat(QFile::encodeName(probe).constData(), &st) != 0) {
        if (errno != ENOENT)
            return fail(error, errnoText(probe, errno));
        missing.prepend(probe);
        const qsizetype slash = probe.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        probe.truncate(slash);
    }
    if (missing.isEmpty() && !S_ISDIR(st.st_mode))
        return fail(error, QStringLiteral("%1: not a folder").arg(clean));
    for (const QString &folder : missing) {
        const QByteArray name = QFile::encodeName(folder);
        if (::mkdir(name.constData(), kFolderMode) != 0 && errno != EEXIST)
            return fail(error, errnoText(folder, errno));
        // mkdir applies the umask; the mode is meant as written.
        if (::chmod(name.constData(), kFolderMode) != 0)
            return fail(error, errnoText(folder, errno));
        // A file written into the new folder survives a power loss only if the folder does.
        const QString parent = QFileInfo(folder).path();
        if (const int code = syncFolder(parent); code != 0)
            return fail(error, errnoText(parent, code));
    }
    return true;
}

bool ensurePrivateFolder(const QString &path, QString *error)
{
    if (!makePrivatePath(path, error))
        return false;
    if (::chmod(QFile::encodeName(path).constData(), kFolderMode) != 0)
        return fail(error, errnoText(path, errno));
    return true;
}

namespace {

int closeChecked(int fd) { return ::close(fd) != 0 && errno != EINTR ? errno : 0; }

int syncChecked(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

// Mode, contents and (synced) data on the disk, then closed; the first failure's errno.
int finishFile(int fd, const QByteArray &bytes, Durability durability)
{
    int code = ::fchmod(fd, kFileMode) != 0 ? errno : 0;
    if (code == 0)
        code = writeWhole(fd, bytes);
    if (code == 0 && durability == Durability::synced)
        code = syncChecked(fd);
    const int closeCode = closeChecked(fd);
    return code != 0 ? code : closeCode;
}

} // namespace

int syncFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int code = syncChecked(fd);
    const int closeCode = closeChecked(fd);
    return code != 0 ? code : closeCode;
}

WriteOutcome writeNewPrivateFile(const QString &path, const QByteArray &bytes, QString *error, Durability durability)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        const int code = errno;
        if (code == EEXIST)
            return WriteOutcome::alreadyExists;
        fail(error, errnoText(path, code));
        return WriteOutcome::failed;
    }
    int code = finishFile(fd, bytes, durability);
    // The new name is durable only once the folder holding it is flushed.
    if (code == 0 && durability == Durability::synced)
        code = syncFolder(QFileInfo(path).path());
    if (code != 0) {
        ::unlink(name.constData());
        fail(error, errnoText(path, code));
        return WriteOutcome::failed;
    }
    return WriteOutcome::written;
}

bool writePrivateFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    return writePrivateFileAtomically(
        path, [&bytes](int fd) { return writeWhole(fd, bytes); }, error);
}

namespace {

enum class Swap { rename, exchange };

// Writes a hidden temporary beside `path` (0600, flushed to the disk) and swaps it into place. A
// rename replaces whatever is there; an exchange needs the old file, so one deleted meanwhile is
// not brought back (ENOENT), and the temporary then holds the old contents and is removed.
// Answers 0 or the errno of the failure; the folder is flushed after a swap.
int writeAndSwap(const QString &path, const std::function<int(int fd)> &write, Swap swap, const struct stat *keepTimes,
    QString *folderError)
{
    // QSaveFile is not used: on a full disk it commits a file cut short as a success.
    const QByteArray target = QFile::encodeName(path);
    const QFileInfo info(path);
    QByteArray temporary = QFile::encodeName(info.path() + QLatin1String("/.") + info.fileName()) + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // mode 0600
    if (fd < 0)
        return errno;
    // Flushed before the swap: otherwise a power loss can leave the new name on an empty file.
    int code = ::fchmod(fd, kFileMode) != 0 ? errno : 0;
    if (code == 0)
        code = write(fd);
    if (keepTimes) {
        const struct timespec times[2] = { keepTimes->st_atim, keepTimes->st_mtim };
        if (code == 0 && ::futimens(fd, times) != 0)
            code = errno;
    }
    if (code == 0)
        code = syncChecked(fd);
    const int closeCode = closeChecked(fd);
    if (code == 0)
        code = closeCode;
    if (code == 0 && swap == Swap::exchange) {
        if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
            ::unlink(temporary.constData()); // now the old contents
            temporary.clear();
        } else if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
            // No exchange on this file system: a plain rename, after checking the file is still there.
            code = ::access(target.constData(), F_OK) != 0 ? ENOENT : 0;
        } else {
            code = errno;
        }
    }
    if (code == 0 && !temporary.isEmpty() && ::rename(temporary.constData(), target.constData()) != 0)
        code = errno;
    if (code != 0) {
        ::unlink(temporary.constData());
        return code;
    }
    // The swap itself is durable once the folder is flushed; the new contents are in place either
    // way, so a failure here is reported without undoing anything.
    if (const int folderCode = syncFolder(info.path()); folderCode != 0)
        fail(folderError, errnoText(info.path(), folderCode));
    return 0;
}

} // namespace

bool writePrivateFileAtomically(const QString &path, const std::function<int(int fd)> &write, QString *error)
{
    QString folderError;
    if (const int code = writeAndSwap(path, write, Swap::rename, nullptr, &folderError); code != 0)
        return fail(error, errnoText(path, code));
    return folderError.isEmpty() || fail(error, folderError);
}

ReplaceOutcome replaceExistingPrivateFile(const QString &path, const QByteArray &bytes, QString *error)
{
    struct stat old { };
    if (::stat(QFile::encodeName(path).constData(), &old) != 0) {
        if (errno == ENOENT)
            return ReplaceOutcome::vanished;
        fail(error, errnoText(path, errno));
        return ReplaceOutcome::failed;
    }
    QString folderError;
    const int code = writeAndSwap(
        path, [&bytes](int fd) { return writeWhole(fd, bytes); }, Swap::exchange, &old, &folderError);
    if (code == ENOENT)
        return ReplaceOutcome::vanished;
    if (code != 0) {
        fail(error, errnoText(path, code));
        return ReplaceOutcome::failed;
    }
    // An unflushed folder still names the new file: the swap happened.
    return ReplaceOutcome::replaced;
}

int syncFile(int fd) { return syncChecked(fd); }

QString atomicWriteTemporaryPattern(const QString &fileName)
{
    return QLatin1Char('.') + fileName + QStringLiteral(".tmp-??????");
}

bool makeFilePrivate(const QString &path, QString *error)
{
    if (::chmod(QFile::encodeName(path).constData(), kFileMode) != 0)
        return fail(error, errnoText(path, errno));
    return true;
}

} // namespace pellux
