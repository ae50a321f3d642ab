#pragma once

#include "runtime/ThreadSanitizer.h"

#include "support/TestFiles.h"
#include <QDBusConnection>

namespace pellux::test {

// Stand-ins for another process's D-Bus services, on a thread and a connection of their own, so
// that they answer while the code under test blocks on a call to them. `setUp` runs there once
// connected, `tearDown` before the connection closes. What they wrote is handed to the test's
// thread through a lock ThreadSanitizer sees (Qt's blocking call orders it too, out of its sight).
class ServiceThread {
public:
    ServiceThread(
        const QString &address, std::function<void(QDBusConnection)> setUp, std::function<void()> tearDown = [] {})
        : m_tearDown(std::move(tearDown))
    {
        m_thread.start();
        run([&] { setUp(QDBusConnection::connectToBus(address, QStringLiteral("services"))); });
    }
    ~ServiceThread()
    {
        run([this] {
            m_tearDown();
            QDBusConnection::disconnectFromBus(QStringLiteral("services"));
        });
        m_thread.quit();
        m_thread.wait();
        delete m_context;
    }

private:
    void run(const std::function<void()> &work)
    {
        QMetaObject::invokeMethod(m_context, tsan::handOver([this, &work] {
            const std::lock_guard guard(m_handOver);
            work();
        }),
            Qt::BlockingQueuedConnection);
        const std::lock_guard guard(m_handOver);
    }

    std::function<void()> m_tearDown;
    std::mutex m_handOver;
    QThread m_thread;
    QObject *m_context = [this] {
        auto *context = new QObject;
        context->moveToThread(&m_thread);
        return context;
    }();
};

} // namespace pellux::test
