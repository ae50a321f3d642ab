#pragma once

#include <QString>

#include <sys/types.h>

namespace pellux {

// An advisory lock (flock) on one file, held until release() or destruction. The holder writes
// its process id into the file, so that a process refused the lock can say who holds it. The
// lock belongs to the open file: two FileLocks on the same path conflict even within one process,
// and the kernel drops it when the holder exits, however it ends.
class FileLock {
public:
    enum class Result { acquired, heldElsewhere, failed };

    explicit FileLock(QString path);
    ~FileLock();

    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Takes the lock without waiting. The file is created 0600 (an existing one is tightened to
    // 0600); its folder must exist. `error` gets the reason of a failure.
    Result tryLock(QString *error = nullptr);
    void release();
    bool isHeld() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }

    // The process id the holder recorded; 0 when the file names none.
    pid_t holderPid() const;

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace pellux
