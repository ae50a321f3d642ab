#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace pellux::database {

// Wakes the database queue once after a delay, for retries; the earliest time asked for wins.
class RetryTimer {
public:
    explicit RetryTimer(std::function<void()> fire)
        : m_fire(std::move(fire))
    {
    }
    ~RetryTimer() { stop(); }
    RetryTimer(const RetryTimer &) = delete;
    RetryTimer &operator=(const RetryTimer &) = delete;

    void schedule(std::chrono::milliseconds delay)
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        const auto at = std::chrono::steady_clock::now() + delay;
        if (!m_deadline || at < *m_deadline)
            m_deadline = at;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_one();
    }

    void stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            if (!m_deadline) {
                m_wake.wait(lock);
            } else if (std::chrono::steady_clock::now() < *m_deadline) {
                m_wake.wait_until(lock, *m_deadline);
            } else {
                m_deadline.reset();
                lock.unlock();
                m_fire();
                lock.lock();
            }
        }
    }

    const std::function<void()> m_fire;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace pellux::database
