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

// Runs the function on the global QThreadPool; the awaiting task resumes on its own thread with the
// function's result, or the exception it threw. The result travels in a block both sides share, not
// in the future, so that whichever side lets go of it last (ordered by the shared_ptr count) frees
// it, and ThreadSanitizer sees each hand-over: the function is handed to the pool and its result
// back through Qt's locks, which are annotated (runtime/ThreadSanitizer.h).
template <typename F> QCoro::Task<std::invoke_result_t<F>> runOnPool(F function)
{
    using R = std::invoke_result_t<F>;
    struct Outcome {
        QPromise<void> done;
        std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> value {};
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    outcome->done.start();
    QFuture<void> finished = outcome->done.future();
    QThreadPool::globalInstance()->start(tsan::handOver([outcome, function = std::move(function)]() mutable {
        try {
            if constexpr (std::is_void_v<R>) {
                function();
            } else {
                outcome->value.emplace(function());
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        tsan::release(outcome.get());
        outcome->done.finish();
    }));
    co_await finished;
    tsan::acquire(outcome.get());
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*outcome->value);
}

} // namespace pellux
