// The GNOME backend's dealings with the shell and Mutter over D-Bus, against a private bus daemon
// with stand-ins for org.gnome.Shell's extension interface and Mutter's idle monitor. The stand-ins
// answer on a thread of their own (test::ServiceThread), since the backend's preflight calls block.
#include "capture/wayland/gnome/MutterCaptureBackend.h"
#include "capture/wayland/gnome/MutterIdleMonitor.h"

#include "support/PrivateBus.h"
#include "support/ServiceThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>

namespace pellux::wayland {
namespace {

using test::PrivateBus;
using test::ServiceThread;

// What the stand-in shell says about Pellux's extension, and what it does when asked to enable it.
struct ShellScript {
    QVariantMap info; // GetExtensionInfo's answer
    bool enableAnswer = true;
    bool extensionComesUp = true; // takes app.pellux.Shell when enabled
    bool screenCast = true; // org.gnome.Mutter.ScreenCast is on the bus
};

class FakeShell : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.Extensions")
public:
    FakeShell(QDBusConnection bus, ShellScript script)
        : m_bus(std::move(bus))
        , m_script(std::move(script))
    {
    }
    std::atomic<int> enableCalls { 0 };

public slots:
    QVariantMap GetExtensionInfo(const QString &uuid)
    {
        return uuid == QLatin1String(shellExtensionUuid) ? m_script.info : QVariantMap {};
    }
    bool EnableExtension(const QString &)
    {
        ++enableCalls;
        if (!m_script.enableAnswer)
            return false;
        m_script.info.insert(QStringLiteral("state"), 1.0);
        if (m_script.extensionComesUp)
            m_bus.registerService(QStringLiteral("app.pellux.Shell"));
        return true;
    }

private:
    QDBusConnection m_bus;
    ShellScript m_script;
};

// Mutter's core idle monitor: hands out watch ids, newest last, and fires them when the test says so.
class FakeIdleMonitor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")
public:
    struct Watches {
        std::vector<uint> idle, active;
        std::vector<qulonglong> idleIntervals;
    };
    Watches watches() // a copy, taken under the lock
    {
        std::lock_guard guard(m_lock);
        return m_watches;
    }

public slots:
    uint AddIdleWatch(qulonglong interval)
    {
        std::lock_guard guard(m_lock);
        m_watches.idleIntervals.push_back(interval);
        m_watches.idle.push_back(++m_next);
        return m_next;
    }
    uint AddUserActiveWatch()
    {
        std::lock_guard guard(m_lock);
        m_watches.active.push_back(++m_next);
        return m_next;
    }
    void RemoveWatch(uint) { }

private:
    std::mutex m_lock;
    Watches m_watches;
    uint m_next = 0;
};

QVariantMap state(int value, const QString &error = {})
{
    return { { "uuid", QString::fromLatin1(shellExtensionUuid) }, { "state", double(value) }, { "error", error } };
}

TEST(MutterPreflight, TurnsTheExtensionOnOrSaysWhyNot)
{
    const struct {
        const char *name;
        ShellScript script;
        bool shellPresent;
        bool granted;
        const char *logged; // part of the log
        int enableCalls; // asked to enable the extension, when access is granted
    } cases[] = {
        { "installed and off", { state(6) }, true, true, "turned on Pellux's GNOME Shell extension", 1 },
        { "disabled by the user", { state(2) }, true, true, "turned on", 1 },
        { "not installed", { {} }, true, false, "does not know Pellux's extension", 0 },
        { "refused", { state(2), false }, true, false, "did not turn on", 0 },
        { "failed to load", { state(3, "SyntaxError: bad") }, true, false, "SyntaxError: bad", 0 },
        { "out of date", { state(4) }, true, false, "does not support this version", 0 },
        { "on but silent", { state(6), true, false }, true, false, "does not answer", 0 },
        { "no screen cast", { state(6), true, true, false }, true, false, "offers no ScreenCast", 1 },
        { "no shell", { state(6) }, false, false, "cannot ask GNOME Shell", 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PrivateBus daemon;
        ASSERT_FALSE(daemon.address().isEmpty());
        std::unique_ptr<FakeShell> shell;
        ServiceThread services(daemon.address(), [&](QDBusConnection bus) {
            if (c.script.screenCast)
                bus.registerService(QStringLiteral("org.gnome.Mutter.ScreenCast"));
            if (!c.shellPresent)
                return;
            shell = std::make_unique<FakeShell>(bus, c.script);
            bus.registerObject(QStringLiteral("/org/gnome/Shell"), shell.get(), QDBusConnection::ExportAllSlots);
            bus.registerService(QStringLiteral("org.gnome.Shell"));
        });
        {
            const QDBusConnection bus = QDBusConnection::connectToBus(daemon.address(), "pellux");
            test::LogCapture log;
            MutterCaptureBackend backend(bus);
            EXPECT_EQ(backend.preflightScreenCaptureAccess(), c.granted);
            // Asked again, the same reason is not logged twice.
            if (!c.granted)
                backend.preflightScreenCaptureAccess();
            EXPECT_EQ(log.text().count(QString::fromUtf8(c.logged)), 1) << log.text().toStdString();
        }
        EXPECT_EQ(shell && c.granted ? int(shell->enableCalls) : c.enableCalls, c.enableCalls);
        QDBusConnection::disconnectFromBus(QStringLiteral("pellux"));
    }
}

TEST(MutterIdleMonitor, ReportsAwayAndBackAndArmsItsWatchesAgain)
{
    PrivateBus daemon;
    ASSERT_FALSE(daemon.address().isEmpty());
    std::unique_ptr<FakeIdleMonitor> owned; // made on the services' thread, where it answers
    QDBusConnection services(QStringLiteral("none"));
    ServiceThread thread(daemon.address(), [&](QDBusConnection bus) {
        owned = std::make_unique<FakeIdleMonitor>();
        bus.registerObject(
            QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"), owned.get(), QDBusConnection::ExportAllSlots);
        bus.registerService(QStringLiteral("org.gnome.Mutter.IdleMonitor"));
        services = bus;
    });
    FakeIdleMonitor &monitor = *owned;
    const QDBusConnection bus = QDBusConnection::connectToBus(daemon.address(), "pellux");
    MutterIdleMonitor source(bus);
    EXPECT_FALSE(source.reportsInputEvents());
    ASSERT_TRUE(source.start());
    ASSERT_EQ(monitor.watches().idleIntervals, std::vector<qulonglong> { ActivitySource::presenceTimeout_ms });
    QSignalSpy idled(&source, &ActivitySource::idled);
    QSignalSpy resumed(&source, &ActivitySource::resumed);
    const auto fire = [&](uint id) {
        services.send(QDBusMessage::createSignal(
                          "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor", "WatchFired")
            << id);
    };
    const auto newestIdle = [&] { return monitor.watches().idle.back(); };
    const auto newestActive = [&] { return monitor.watches().active.back(); };
    // True once there are that many idle and active watches.
    const auto armed = [&](size_t idle, size_t active) {
        return QTest::qWaitFor(
            [&] { return monitor.watches().idle.size() == idle && monitor.watches().active.size() == active; }, 5000);
    };
    // Input while present: the one-shot watch is armed again, nothing is reported.
    const uint firstActive = newestActive();
    fire(firstActive);
    ASSERT_TRUE(armed(1, 2));
    EXPECT_EQ(resumed.count(), 0);

    fire(newestIdle());
    ASSERT_TRUE(idled.wait(5000));
    // The idle watch fires again after each stretch; away stays reported once.
    fire(newestIdle());
    fire(firstActive); // a watch that no longer exists
    fire(newestActive());
    ASSERT_TRUE(resumed.wait(5000));
    EXPECT_EQ(std::pair(idled.count(), resumed.count()), std::pair(qsizetype(1), qsizetype(1)));
    ASSERT_TRUE(armed(1, 3));

    // A restarted compositor knows no watches: both are armed again when it is back on the bus.
    services.unregisterService("org.gnome.Mutter.IdleMonitor");
    services.registerService("org.gnome.Mutter.IdleMonitor");
    EXPECT_TRUE(armed(2, 4));
    QDBusConnection::disconnectFromBus(QStringLiteral("pellux"));
}

} // namespace
} // namespace pellux::wayland

#include "MutterSession_test.moc"
