#include "runtime/SerialQueue.h"

#include "runtime/Log.h"

#include <pthread.h>

#include <exception>

namespace pellux {

SerialQueue::SerialQueue(QString label, ThreadPriority priority)
    : m_label(std::move(label))
    , m_priority(priority)
{
    m_thread = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void SerialQueue::async(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void SerialQueue::sync(const std::function<void()> &task)
{
    if (isCurrent()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::exception_ptr error;
    async([&] {
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
    // As if the caller had run the task itself.
    if (error)
        std::rethrow_exception(error);
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == m_thread.get_id(); }

size_t SerialQueue::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return m_tasks.size() + m_running;
}

void SerialQueue::drain()
{
    if (isCurrent())
        return;
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_tasks.empty() && m_running == 0; });
}

void SerialQueue::run()
{
    // Linux limits thread names to 15 characters; keep the distinctive end of the label.
    QByteArray name = m_label.toUtf8();
    if (name.size() > 15)
        name = name.right(15);
    pthread_setname_np(pthread_self(), name.constData());
    if (m_priority != ThreadPriority::normal)
        applyThreadPriority(m_priority);

    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_tasks.empty()) {
            if (m_stopping)
                return;
            continue;
        }
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        ++m_running;
        lock.unlock();
        try {
            task();
        } catch (const std::exception &e) {
            log::failure(
                QStringLiteral("ERROR SerialQueue %1: task threw: %2").arg(m_label, QString::fromUtf8(e.what())));
        } catch (...) {
            log::failure(QStringLiteral("ERROR SerialQueue %1: task threw").arg(m_label));
        }
        lock.lock();
        --m_running;
        if (m_tasks.empty() && m_running == 0)
            m_idle.notify_all();
    }
}

size_t SerialQueue::discardPending()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_tasks);
        if (m_running == 0)
            m_idle.notify_all();
    }
    // Destroyed outside the lock: a task's captures may submit or wait on this queue.
    const size_t count = dropped.size();
    dropped.clear();
    return count;
}

} // namespace pellux
