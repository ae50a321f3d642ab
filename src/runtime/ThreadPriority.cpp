#include "runtime/ThreadPriority.h"

#include "runtime/Log.h"

#include <QString>

#include <cerrno>
#include <cstring>

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pellux {

namespace {

// From linux/ioprio.h, which not every distribution's headers carry.
constexpr int kIoprioWhoProcess = 1; // with id 0: the calling thread
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioClassIdle = 3;

int ioPriorityClass()
{
    const long value = ::syscall(SYS_ioprio_get, kIoprioWhoProcess, 0);
    return value < 0 ? -1 : int(value >> kIoprioClassShift);
}

} // namespace

bool applyThreadPriority(ThreadPriority priority)
{
    // A thread starts at normal priority, and only the idle one is ever asked for.
    if (priority == ThreadPriority::normal)
        return true;
    sched_param parameters {};
    // With pid 0 both calls change the calling thread only.
    if (::sched_setscheduler(0, SCHED_IDLE, &parameters) != 0) {
        log::failure(QStringLiteral("Could not give a worker thread idle scheduling: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    if (::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift) != 0) {
        log::failure(QStringLiteral("Could not give a worker thread the idle disk class: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    return true;
}

ThreadPriority currentThreadPriority()
{
    const bool idle = ::sched_getscheduler(0) == SCHED_IDLE && ioPriorityClass() == kIoprioClassIdle;
    return idle ? ThreadPriority::idle : ThreadPriority::normal;
}

} // namespace pellux
