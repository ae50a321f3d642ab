#pragma once

#include "runtime/MainThread.h"

#include <QFuture>
#include <QPromise>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

namespace pellux {

// A one-shot completion callback as a future a coroutine can await or a worker can wait for. The
// callback may be called from any thread, once; later calls are ignored. When every copy of it is
// dropped without being called (a queue discarded at shutdown, an operation that forgot its
// completion), the future finishes with `failure`, so the awaiting side never hangs.
template <typename T> std::pair<QFuture<T>, std::function<void(T)>> completionFuture(T failure)
{
    class Resolver {
    public:
        explicit Resolver(T failure)
            : m_failure(std::move(failure))
        {
            m_promise.start();
        }
        ~Resolver() { resolve(std::move(m_failure)); }
        QFuture<T> future() { return m_promise.future(); }
        void resolve(T value)
        {
            if (m_done.exchange(true))
                return;
            m_promise.addResult(std::move(value));
            m_promise.finish();
            // The promise goes on the main thread, where its result is read: whichever of the two
            // lets the result go last then destroys it there, never on a worker while the main
            // thread still reads it.
            postToMain([promise = std::make_shared<QPromise<T>>(std::move(m_promise))] {});
        }

    private:
        QPromise<T> m_promise;
        std::atomic<bool> m_done { false };
        T m_failure;
    };
    auto resolver = std::make_shared<Resolver>(std::move(failure));
    QFuture<T> future = resolver->future();
    return { std::move(future), [resolver](T value) { resolver->resolve(std::move(value)); } };
}

} // namespace pellux
