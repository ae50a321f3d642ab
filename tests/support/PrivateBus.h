#pragma once

#include "support/TestFiles.h"

namespace pellux::test {

// A dbus-daemon of the test's own; address() is empty when it could not start.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
        if (m_daemon.waitForReadyRead(10000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    const QString &address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

} // namespace pellux::test
