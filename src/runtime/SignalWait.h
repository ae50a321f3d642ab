#pragma once

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QTimer>

#include <qcorofuture.h>
#include <qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>

namespace pellux {

// Waits for the next emission of a parameterless signal, or until the timeout passes; true when
// the signal came. Used instead of QCoro's signal awaiter, whose queued slot can run after the
// awaiting coroutine ended when the signal is emitted twice in one turn of the event loop (a
// use-after-free). Here the connection and the timer belong to an object the coroutine owns, so
// nothing is left to run once it ends.
template <typename Sender, typename Signal>
QCoro::Task<bool> nextEmission(
    Sender *sender, Signal signal, std::optional<std::chrono::milliseconds> timeout = std::nullopt)
{
    const auto receiver = std::make_unique<QObject>();
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    const auto settle = [promise](bool came) {
        if (promise->future().isFinished())
            return;
        promise->addResult(came);
        promise->finish();
    };
    QObject::connect(sender, signal, receiver.get(), [settle] { settle(true); });
    QObject::connect(sender, &QObject::destroyed, receiver.get(), [settle] { settle(false); });
    if (timeout)
        QTimer::singleShot(*timeout, receiver.get(), [settle] { settle(false); });
    QFuture<bool> emitted = promise->future();
    const bool came = co_await emitted;
    co_return came;
}

} // namespace pellux
