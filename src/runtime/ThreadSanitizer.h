#pragma once

// Hand-overs between threads that ThreadSanitizer cannot see. Qt's event queue, QFuture's state and
// QThreadPool synchronise with locks and atomics inside libQt6Core; the distribution does not build
// it with ThreadSanitizer, so the tool sees the writes before a hand-over and the reads after it on
// two threads with no order between them, and reports a race that cannot happen. The functions here
// state the order those locks give (a release where the work is handed over, an acquire where the
// receiving thread takes it), at the places Pellux hands work over. Outside a ThreadSanitizer build
// (`-DPELLUX_TSAN=ON`) they are empty and `handOver` returns the function unchanged.

#include <QFuture>
#include <QFutureInterface>

#include <memory>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define PELLUX_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PELLUX_THREAD_SANITIZER 1
#endif
#endif

#ifdef PELLUX_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace pellux::tsan {

#ifdef PELLUX_THREAD_SANITIZER
// Everything this thread did before is ordered before what a thread does after `acquire(token)`.
inline void release(const void *token)
{
    if (token)
        __tsan_release(const_cast<void *>(token));
}
inline void acquire(const void *token)
{
    if (token)
        __tsan_acquire(const_cast<void *>(token));
}
#else
inline void release(const void *) { }
inline void acquire(const void *) { }
#endif

// One address per future, shared by every copy of it and by its promise. A void future carries no
// result whose lock would order the task's writes before its waiter's reads, so its promise releases
// this address before finishing, and the waiter acquires it after its co_await.
template <typename T> const void *futureToken(const QFuture<T> &future)
{
#ifdef PELLUX_THREAD_SANITIZER
    return &QFutureInterfaceBase::get(future).resultStoreBase();
#else
    (void)future;
    return nullptr;
#endif
}

#ifdef PELLUX_THREAD_SANITIZER
// A function handed to another thread through Qt (a queued call, the thread pool). Every copy or
// move releases the function's own address once it is built, so the writes that built it (also the
// copy Qt keeps in its event) are ordered before the receiving thread's acquire, which is the first
// thing its call and its destruction (a queued call dropped with its receiver) do. The call
// releases the address again when it returns, for a waiter that acquires `token()` once it knows
// the call is over.
template <typename F> class HandedOver {
public:
    explicit HandedOver(F function)
        : m_function(std::make_shared<F>(std::move(function)))
    {
        release(token());
    }
    // The copy Qt keeps may itself be copied or moved on the receiving thread, so both take over
    // before they read the other copy.
    HandedOver(const HandedOver &other)
        : m_function((acquire(other.token()), other.m_function))
    {
        release(token());
    }
    HandedOver(HandedOver &&other) noexcept
        : m_function((acquire(other.token()), std::move(other.m_function)))
    {
        release(token());
    }
    HandedOver &operator=(const HandedOver &) = delete;
    HandedOver &operator=(HandedOver &&) = delete;
    ~HandedOver() { acquire(token()); }

    auto operator()()
    {
        acquire(token());
        struct ReleaseOnReturn {
            const void *token;
            ~ReleaseOnReturn() { release(token); }
        } done { token() };
        return (*m_function)();
    }

    // Read before the acquire: the pointer was written by the handing thread, ordered only by the
    // lock ThreadSanitizer does not see, which this read must not report.
    __attribute__((no_sanitize("thread"), noinline)) const void *token() const { return m_function.get(); }

private:
    std::shared_ptr<F> m_function;
};

template <typename F> HandedOver<std::decay_t<F>> handOver(F &&function)
{
    return HandedOver<std::decay_t<F>>(std::forward<F>(function));
}
#else
template <typename F> std::decay_t<F> handOver(F &&function) { return std::forward<F>(function); }
#endif

} // namespace pellux::tsan
