#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

namespace pellux {

// Whether the machine runs on battery, as UPower says on the system bus (its `OnBattery`
// property, read once and then followed through PropertiesChanged). A machine without UPower, or
// whose UPower does not answer, counts as on mains power: nothing is held back there.
class BatteryMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr char kService[] = "org.freedesktop.UPower";
    static constexpr char kPath[] = "/org/freedesktop/UPower";

    explicit BatteryMonitor(QDBusConnection bus = QDBusConnection::systemBus(), QObject *parent = nullptr);

    bool onBattery() const { return m_onBattery; }

signals:
    void onBatteryChanged(bool onBattery);

private slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    void readOnBattery();
    void setOnBattery(bool onBattery);

    QDBusConnection m_bus;
    bool m_onBattery = false;
};

} // namespace pellux
