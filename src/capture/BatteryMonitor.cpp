#include "capture/BatteryMonitor.h"

#include "runtime/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace pellux {

namespace {
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kOnBattery = QStringLiteral("OnBattery");
} // namespace

BatteryMonitor::BatteryMonitor(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected()) {
        log::info(QStringLiteral("No system bus: Pellux takes the machine to run on mains power"));
        return;
    }
    m_bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), kProperties,
        QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    readOnBattery();
}

void BatteryMonitor::readOnBattery()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath), kProperties, QStringLiteral("Get"));
    get << QString::fromLatin1(kService) << kOnBattery;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (reply.isError()) {
            log::debug(QStringLiteral("DEBUG BatteryMonitor: UPower did not answer (%1); taking mains power")
                           .arg(reply.error().message()));
            return;
        }
        setOnBattery(reply.value().variant().toBool());
    });
}

void BatteryMonitor::propertiesChanged(
    const QString &interface, const QVariantMap &changed, const QStringList &invalidated)
{
    if (interface != QLatin1String(kService))
        return;
    if (const auto value = changed.constFind(kOnBattery); value != changed.constEnd())
        setOnBattery(value->toBool());
    else if (invalidated.contains(kOnBattery))
        readOnBattery();
}

void BatteryMonitor::setOnBattery(bool onBattery)
{
    if (onBattery == m_onBattery)
        return;
    m_onBattery = onBattery;
    log::info(onBattery ? QStringLiteral("Running on battery: text recognition waits until the user is away")
                        : QStringLiteral("Running on mains power: text recognition runs as frames arrive"));
    emit onBatteryChanged(onBattery);
}

} // namespace pellux
