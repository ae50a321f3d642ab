#include "ocr/OpenMPThreadLimit.h"

#include "runtime/Log.h"

#include <cstdlib>
#include <mutex>

#include <unistd.h>

namespace pellux {

namespace {
constexpr char kVariable[] = "OMP_THREAD_LIMIT";
}

void restartWithOpenMPThreadLimit(char **argv)
{
    if (std::getenv(kVariable) || !argv || !argv[0])
        return;
    if (::setenv(kVariable, "1", 0) != 0)
        return;
    ::execv("/proc/self/exe", argv);
    // Still here: the restart failed; carry on with the default thread count.
}

void warnIfOpenMPUnlimited()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv(kVariable))
            log::debug(QStringLiteral("DEBUG OCRProcessor: OMP_THREAD_LIMIT is not set; text recognition runs "
                                      "several OpenMP threads and is slower on small machines"));
    });
}

} // namespace pellux
