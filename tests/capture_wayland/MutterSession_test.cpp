// The GNOME backend's dealings with the shell and Mutter over D-Bus, against a private bus daemon
// with stand-ins for org.gnome.Shell's extension interface and Mutter's idle monitor. The stand-ins
// answer on a thread of their own (test::ServiceThread), since the backend's preflight calls block.
#include "capture/wayland/gnome/MutterCaptureBackend.h"
#include "capture/wayland/gnome/MutterIdleMonitor.h"

#include "support/LogCapture.h"
#include "support/PrivateBus.h"
#include "support/ServiceThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

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

// Mutter's core idle monitor: hands out watch ids and fires them when the test says so.
class FakeIdleMonitor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")
public:
    std::mutex lock;
    std::vector<std::pair<QString, uint>> added; // method, id
    std::vector<qulonglong> idleIntervals;

public slots:
    uint AddIdleWatch(qulonglong interval)
    {
        std::lock_guard guard(lock);
        idleIntervals.push_back(interval);
        added.emplace_back(QStringLiteral("idle"), ++m_next);
        return m_next;
    }
    uint AddUserActiveWatch()
    {
        std::lock_guard guard(lock);
        added.emplace_back(QStringLiteral("active"), ++m_next);
        return m_next;
    }
    void RemoveWatch(uint) { }

public:
    // The id of the newest watch of this kind.
    uint newest(const QString &kind)
    {
        std::lock_guard guard(lock);
        for (auto it = added.rbegin(); it != added.rend(); ++it)
            if (it->first == kind)
                return it->second;
        return 0;
    }
    int count(const QString &kind)
    {
        std::lock_guard guard(lock);
        return int(std::count_if(added.begin(), added.end(), [&](const auto &a) { return a.first == kind; }));
    }

private:
    uint m_next = 0;
};

struct PreflightCase {
    const char *name;
    ShellScript script;
    bool shellPresent;
    bool granted;
    const char *logged; // part of the log
    int enableCalls; // asked to enable the extension, when access is granted
};

class MutterPreflightTest : public ::testing::TestWithParam<PreflightCase> { };

TEST_P(MutterPreflightTest, TurnsTheExtensionOnOrSaysWhyNot)
{
    const PreflightCase &c = GetParam();
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
    const QDBusConnection bus = QDBusConnection::connectToBus(daemon.address(), QStringLiteral("pellux"));
    ASSERT_TRUE(bus.isConnected());
    {
        test::LogCapture log;
        MutterCaptureBackend backend(bus);
        EXPECT_EQ(backend.preflightScreenCaptureAccess(), c.granted);
        EXPECT_TRUE(log.text().contains(QString::fromUtf8(c.logged))) << log.text().toStdString();
        // Asked again, the same reason is not logged twice.
        if (!c.granted) {
            backend.preflightScreenCaptureAccess();
            EXPECT_EQ(log.text().count(QString::fromUtf8(c.logged)), 1) << log.text().toStdString();
        }
    }
    if (shell && c.granted) {
        EXPECT_EQ(shell->enableCalls, c.enableCalls);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("pellux"));
}

QVariantMap state(int value, const QString &error = {})
{
    return { { QStringLiteral("uuid"), QString::fromLatin1(shellExtensionUuid) },
        { QStringLiteral("state"), double(value) }, { QStringLiteral("error"), error } };
}

INSTANTIATE_TEST_SUITE_P(States, MutterPreflightTest,
    ::testing::Values(
        PreflightCase { "installed_and_off", { state(6) }, true, true, "turned on Pellux's GNOME Shell extension", 1 },
        PreflightCase { "disabled_by_the_user", { state(2) }, true, true, "turned on", 1 },
        PreflightCase { "not_installed", { {} }, true, false, "does not know Pellux's extension", 0 },
        PreflightCase { "refused", { state(2), false }, true, false, "did not turn on", 0 },
        PreflightCase {
            "failed_to_load", { state(3, QStringLiteral("SyntaxError: bad")) }, true, false, "SyntaxError: bad", 0 },
        PreflightCase { "out_of_date", { state(4) }, true, false, "does not support this version", 0 },
        PreflightCase { "on_but_silent", { state(6), true, false }, true, false, "does not answer", 0 },
        PreflightCase { "no_screen_cast", { state(6), true, true, false }, true, false, "offers no ScreenCast", 1 },
        PreflightCase { "no_shell", { state(6) }, false, false, "cannot ask GNOME Shell", 0 }),
    [](const ::testing::TestParamInfo<PreflightCase> &info) { return std::string(info.param.name); });

TEST(MutterIdleMonitor, ReportsAwayAndBackAndArmsItsWatchesAgain)
{
    PrivateBus daemon;
    ASSERT_FALSE(daemon.address().isEmpty());
    std::unique_ptr<FakeIdleMonitor> monitor;
    QDBusConnection services(QStringLiteral("none"));
    ServiceThread thread(daemon.address(), [&](QDBusConnection bus) {
        monitor = std::make_unique<FakeIdleMonitor>();
        bus.registerObject(
            QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"), monitor.get(), QDBusConnection::ExportAllSlots);
        bus.registerService(QStringLiteral("org.gnome.Mutter.IdleMonitor"));
        services = bus;
    });
    const QDBusConnection bus = QDBusConnection::connectToBus(daemon.address(), QStringLiteral("pellux"));
    MutterIdleMonitor source(bus);
    EXPECT_FALSE(source.reportsInputEvents());
    ASSERT_TRUE(source.start());
    ASSERT_EQ(monitor->idleIntervals, std::vector<qulonglong> { ActivitySource::presenceTimeout_ms });
    QSignalSpy idled(&source, &ActivitySource::idled);
    QSignalSpy resumed(&source, &ActivitySource::resumed);

    const auto fire = [&](uint id) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
            QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("WatchFired"));
        signal << id;
        services.send(signal);
    };
    // Input while present: the one-shot watch is armed again, nothing is reported.
    const uint firstActive = monitor->newest(QStringLiteral("active"));
    fire(firstActive);
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor->count(QStringLiteral("active")) == 2; }, 5000));
    EXPECT_EQ(resumed.count(), 0);

    fire(monitor->newest(QStringLiteral("idle")));
    ASSERT_TRUE(idled.wait(5000));
    // The idle watch fires again after each stretch; away stays reported once.
    fire(monitor->newest(QStringLiteral("idle")));
    fire(firstActive); // a watch that no longer exists
    fire(monitor->newest(QStringLiteral("active")));
    ASSERT_TRUE(resumed.wait(5000));
    EXPECT_EQ(idled.count(), 1);
    EXPECT_EQ(resumed.count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor->count(QStringLiteral("active")) == 3; }, 5000));
    EXPECT_EQ(monitor->count(QStringLiteral("idle")), 1);

    // A restarted compositor knows no watches: both are armed again when it is back on the bus.
    services.unregisterService(QStringLiteral("org.gnome.Mutter.IdleMonitor"));
    services.registerService(QStringLiteral("org.gnome.Mutter.IdleMonitor"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return monitor->count(QStringLiteral("idle")) == 2; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return monitor->count(QStringLiteral("active")) == 4; }, 5000));
    QDBusConnection::disconnectFromBus(QStringLiteral("pellux"));
}

} // namespace
} // namespace pellux::wayland

#include "MutterSession_test.moc"
