#pragma once

#include "runtime/Clock.h"

#include <atomic>

namespace pellux::test {

// A clock that only moves when the test moves it.
class FakeClock : public Clock {
public:
    explicit FakeClock(TimePoint start = fromSecondsSince1970(1'800'000'000.0))
        : m_now(secondsSince1970(start))
    {
    }

    TimePoint now() const override { return fromSecondsSince1970(m_now.load()); }
    void set(TimePoint t) { m_now.store(secondsSince1970(t)); }
    void advance(double seconds) { m_now.store(m_now.load() + seconds); }

private:
    std::atomic<double> m_now;
};

} // namespace pellux::test
