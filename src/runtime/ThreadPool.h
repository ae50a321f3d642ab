#pragma once

#include "runtime/ThreadSanitizer.h"

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <qcorofuture.h>
#include <qcorotask.h>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace pellux {

// Starts the function on the global QThreadPool and returns a future that finishes once it has
// run. The function is handed to the pool through tsan::handOver, and the future's token
// (tsan::futureToken) is released before it finishes: a waiter acquires it once the future is
// finished, whether it awaits it or blocks on it.
template <typename F> QFuture<void> startOnPool(F function)
{
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    QFuture<void> finished = done->future();
    QThreadPool::globalInstance()->start(
        tsan::handOver([done, token = tsan::futureToken(finished), function = std::move(function)]() mutable {
            function();
            tsan::release(token);
            done->finish();
        }));
    return finished;
}

// Runs the function on the global QThreadPool; the awaiting task resumes on its own thread with the
// function's result, or the exception it threw. The result travels in a block both sides share, not
// in the future, so that whichever side lets go of it last (ordered by the shared_ptr count) frees
// it, and ThreadSanitizer sees each hand-over (startOnPool).
template <typename F> QCoro::Task<std::invoke_result_t<F>> runOnPool(F function)
{
    using R = std::invoke_result_t<F>;
    struct Outcome {
        std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> value {};
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    QFuture<void> finished = startOnPool([outcome, function = std::move(function)]() mutable {
        try {
            if constexpr (std::is_void_v<R>) {
                function();
            } else {
                outcome->value.emplace(function());
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
    });
    co_await finished;
    tsan::acquire(tsan::futureToken(finished));
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*outcome->value);
}

} // namespace pellux
