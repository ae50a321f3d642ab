#include "app/CaptureLock.h"

#include "runtime/PrivateFiles.h"
#include "runtime/StoreLayout.h"

namespace pellux {

QString CaptureLock::defaultFolder() { return StoreLayout::standard().root(); }

CaptureLock::CaptureLock(const QString &pelluxFolder)
    : m_folder(pelluxFolder)
    , m_lock(StoreLayout(pelluxFolder).captureLockFile())
{
}

bool CaptureLock::tryAcquire()
{
    m_heldElsewhere = false;
    m_refusal.clear();
    QString error;
    if (!makePrivatePath(m_folder, &error)) {
        m_refusal = QStringLiteral("cannot create %1: %2").arg(m_folder, error);
        return false;
    }
    switch (m_lock.tryLock(&error)) {
    case FileLock::Result::acquired:
        return true;
    case FileLock::Result::heldElsewhere: {
        m_heldElsewhere = true;
        const pid_t holder = m_lock.holderPid();
        m_refusal = QStringLiteral("another Pellux process%1 is already capturing into %2; "
                                   "quit it (or stop its `pellux capture`) first")
                        .arg(holder > 0 ? QStringLiteral(" (pid %1)").arg(holder) : QString(), m_folder);
        return false;
    }
    case FileLock::Result::failed:
        m_refusal = error;
        return false;
    }
    return false;
}

} // namespace pellux
