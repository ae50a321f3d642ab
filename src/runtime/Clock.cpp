#include "runtime/Clock.h"

namespace pellux {

namespace {
class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::time_point_cast<Seconds>(std::chrono::system_clock::now()); }
};
} // namespace

Clock &Clock::system()
{
    static SystemClock clock;
    return clock;
}

} // namespace pellux
