#include "runtime/FileLock.h"

#include "runtime/PrivateFiles.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

namespace {
QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
} // namespace

FileLock::FileLock(QString path)
    : m_path(std::move(path))
{
}

FileLock::~FileLock() { release(); }

FileLock::Result FileLock::tryLock(QString *error)
{
    if (m_fd >= 0)
        return Result::acquired;
    const QByteArray encoded = QFile::encodeName(m_path);
    const int fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(m_path, errnoText(errno));
        return Result::failed;
    }
    if (::fchmod(fd, 0600) != 0) {
        const int saved = errno;
        ::close(fd);
        if (error)
            *error = QStringLiteral("cannot make %1 private: %2").arg(m_path, errnoText(saved));
        return Result::failed;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int saved = errno;
        ::close(fd);
        if (saved == EWOULDBLOCK)
            return Result::heldElsewhere;
        if (error)
            *error = QStringLiteral("cannot lock %1: %2").arg(m_path, errnoText(saved));
        return Result::failed;
    }
    // The process id is only information for whoever is refused: failing to write it does not
    // make the lock any less held.
    if (::ftruncate(fd, 0) == 0)
        writeWhole(fd, QByteArray::number(static_cast<qint64>(::getpid())) + '\n');
    m_fd = fd;
    return Result::acquired;
}

void FileLock::release()
{
    if (m_fd < 0)
        return;
    // Closing the only descriptor of the open file drops the lock.
    ::close(m_fd);
    m_fd = -1;
}

pid_t FileLock::holderPid() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.read(32).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

} // namespace pellux
