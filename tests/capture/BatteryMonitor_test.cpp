#include "capture/BatteryMonitor.h"

#include "support/PrivateBus.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>

using namespace pellux;

namespace {

// UPower's manager object: answers Get for OnBattery.
class FakeUPower final : public QDBusVirtualObject {
public:
    bool onBattery = false;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("Get"))
            return false;
        return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(onBattery))));
    }
};

} // namespace

TEST(BatteryMonitor, FollowsUPowersOnBatteryAndTakesMainsPowerWhenUPowerIsAbsent)
{
    test::PrivateBus daemon;
    ASSERT_FALSE(daemon.address().isEmpty());
    QDBusConnection upowerBus = QDBusConnection::connectToBus(daemon.address(), QStringLiteral("upower"));
    QDBusConnection monitorBus = QDBusConnection::connectToBus(daemon.address(), QStringLiteral("monitor"));
    const auto changed = [&](const QVariantMap &properties, const QStringList &invalidated = {}) {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(BatteryMonitor::kPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
        signal << QString::fromLatin1(BatteryMonitor::kService) << properties << invalidated;
        upowerBus.send(signal);
    };

    {
        BatteryMonitor absent(monitorBus); // no UPower: mains power
        QTest::qWait(200);
        EXPECT_FALSE(absent.onBattery());
    }

    FakeUPower upower;
    upower.onBattery = true;
    ASSERT_TRUE(upowerBus.registerVirtualObject(QString::fromLatin1(BatteryMonitor::kPath), &upower));
    ASSERT_TRUE(upowerBus.registerService(QString::fromLatin1(BatteryMonitor::kService)));
    BatteryMonitor monitor(monitorBus);
    QSignalSpy said(&monitor, &BatteryMonitor::onBatteryChanged);
    EXPECT_TRUE(QTest::qWaitFor([&] { return monitor.onBattery(); }, 5000));
    changed({ { QStringLiteral("OnBattery"), false } });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !monitor.onBattery(); }, 5000));
    // An invalidated property is read again; other properties change nothing.
    changed({ { QStringLiteral("LidIsClosed"), true } }, { QStringLiteral("OnBattery") });
    EXPECT_TRUE(QTest::qWaitFor([&] { return monitor.onBattery(); }, 5000));
    EXPECT_EQ(said.count(), 3);
    upowerBus.unregisterObject(QString::fromLatin1(BatteryMonitor::kPath));
}
