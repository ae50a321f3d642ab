#pragma once

#include "runtime/ThreadPriority.h"
#include "runtime/ThreadSanitizer.h"

#include <QFuture>
#include <QPromise>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>

namespace pellux {

// One named worker thread that runs tasks one at a time, in the order they were submitted.
// Destroying the queue runs the tasks already submitted, then joins the thread. A queue made with
// ThreadPriority::idle runs its tasks only when the machine has nothing else to do.
class SerialQueue {
public:
    explicit SerialQueue(QString label, ThreadPriority priority = ThreadPriority::normal);
    ~SerialQueue();

    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    const QString &label() const { return m_label; }

    // Queues the task and returns at once.
    void async(std::function<void()> task);

    // Runs the task on the queue and waits for it; an exception it throws is rethrown here. Called
    // from the queue's own thread it runs the task directly instead of deadlocking.
    void sync(const std::function<void()> &task);

    // Queues the task and returns a future of its result, for callers that co_await it.
    template <typename F> auto future(F &&task) -> QFuture<std::invoke_result_t<F>>
    {
        using R = std::invoke_result_t<F>;
        auto promise = std::make_shared<QPromise<R>>();
        QFuture<R> result = promise->future();
        promise->start();
        async([promise, token = tsan::futureToken(result), task = std::forward<F>(task)]() mutable {
            // A task that throws still finishes its future, which then carries the exception.
            try {
                if constexpr (std::is_void_v<R>) {
                    task();
                } else {
                    promise->addResult(task());
                }
            } catch (...) {
                promise->setException(std::current_exception());
            }
            // The awaiting side resumes through Qt's event queue and reads what the task wrote
            // (tsan::futureToken).
            tsan::release(token);
            promise->finish();
        });
        return result;
    }

    // True when called from this queue's worker thread.
    bool isCurrent() const;

    // Number of tasks submitted and not yet finished.
    size_t pendingCount() const;

    // Blocks until every task submitted before the call has run.
    void drain();
    // Drops the tasks not yet started (the one running finishes) and returns how many; for a
    // process that is leaving and owes them nothing.
    size_t discardPending();

private:
    void run();

    const QString m_label;
    const ThreadPriority m_priority;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_tasks;
    size_t m_running = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace pellux
