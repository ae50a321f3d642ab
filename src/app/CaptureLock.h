#pragma once

#include "runtime/FileLock.h"

#include <QString>

namespace pellux {

// Only one process captures into a Pellux folder: whichever captures (the tray application or
// `pellux capture`) holds the lock file ".capture.lock" in it for as long as it may capture.
class CaptureLock {
public:
    // Documents/Pellux.
    static QString defaultFolder();

    explicit CaptureLock(const QString &pelluxFolder = defaultFolder());

    // Creates the folder (0700) when missing and takes the lock without waiting. On failure
    // refusal() says why, in a sentence fit for the user.
    bool tryAcquire();
    void release() { m_lock.release(); }
    bool isHeld() const { return m_lock.isHeld(); }
    // Whether the last refusal was another process holding the lock (not an error).
    bool heldElsewhere() const { return m_heldElsewhere; }
    const QString &refusal() const { return m_refusal; }
    const QString &folder() const { return m_folder; }

private:
    QString m_folder;
    FileLock m_lock;
    bool m_heldElsewhere = false;
    QString m_refusal;
};

} // namespace pellux
