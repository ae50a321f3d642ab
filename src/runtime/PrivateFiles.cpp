#include "runtime/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr auto kFilePermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

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
    struct stat st {};
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

WriteOutcome writeNewPrivateFile(const QString &path, const QByteArray &bytes, QString *error)
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
    int code = 0;
    if (::fchmod(fd, kFileMode) != 0)
        code = errno;
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (code == 0 && left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            code = errno;
            break;
        }
        data += n;
        left -= n;
    }
    if (::close(fd) != 0 && code == 0 && errno != EINTR)
        code = errno;
    if (code != 0) {
        ::unlink(name.constData());
        fail(error, errnoText(path, code));
        return WriteOutcome::failed;
    }
    return WriteOutcome::written;
}

bool writePrivateFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
    // The temporary file takes its mode from an existing target or the umask; set it outright.
    if (!file.setPermissions(kFilePermissions)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(error, QStringLiteral("%1: %2").arg(path, reason));
    }
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(error, QStringLiteral("%1: %2").arg(path, reason));
    }
    if (!file.commit())
        return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
    return true;
}

bool makeFilePrivate(const QString &path, QString *error)
{
    if (::chmod(QFile::encodeName(path).constData(), kFileMode) != 0)
        return fail(error, errnoText(path, errno));
    return true;
}

} // namespace pellux
