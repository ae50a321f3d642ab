#pragma once

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace pellux::test {

// Starts an operation that reports through a completion callback and waits for that callback,
// running the main event loop meanwhile so that completions posted to the main thread arrive.
template <typename T> T awaitCompletion(const std::function<void(std::function<void(T)>)> &start)
{
    std::optional<T> result;
    std::atomic<bool> done { false };
    start([&](T value) {
        result = std::move(value);
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::move(*result);
}

} // namespace pellux::test
