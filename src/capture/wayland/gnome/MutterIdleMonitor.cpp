#include "capture/wayland/gnome/MutterIdleMonitor.h"

#include "runtime/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace pellux::wayland {

namespace {

const QString idleService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString idlePath = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString idleInterface = QStringLiteral("org.gnome.Mutter.IdleMonitor");
constexpr int callTimeout_ms = 5000;

} // namespace

MutterIdleMonitor::MutterIdleMonitor(QDBusConnection bus, QObject *parent)
    : ActivitySource(parent)
    , m_bus(std::move(bus))
{
}

MutterIdleMonitor::~MutterIdleMonitor()
{
    removeWatch(m_idleWatch);
    removeWatch(m_activeWatch);
}

uint MutterIdleMonitor::addWatch(const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(idleService, idlePath, idleInterface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, callTimeout_ms);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        log::failure(QStringLiteral("ERROR MutterIdleMonitor: %1 failed: %2").arg(method, reply.errorMessage()));
        return 0;
    }
    return reply.arguments().value(0).toUInt();
}

void MutterIdleMonitor::removeWatch(uint &id)
{
    if (id == 0)
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(idleService, idlePath, idleInterface, QStringLiteral("RemoveWatch"));
    call.setArguments({ id });
    m_bus.asyncCall(call, callTimeout_ms);
    id = 0;
}

bool MutterIdleMonitor::armWatches()
{
    if (m_idleWatch == 0)
        m_idleWatch = addWatch(QStringLiteral("AddIdleWatch"), { qulonglong(presenceTimeout_ms) });
    if (m_activeWatch == 0)
        m_activeWatch = addWatch(QStringLiteral("AddUserActiveWatch"), {});
    return m_idleWatch != 0 && m_activeWatch != 0;
}

bool MutterIdleMonitor::start()
{
    if (m_started)
        return true;
    if (!m_bus.isConnected()) {
        log::failure(QStringLiteral("ERROR MutterIdleMonitor: no session bus, so no idle monitor"));
        return false;
    }
    // Subscribed before any watch exists, so that no firing is missed.
    if (!m_bus.connect(
            idleService, idlePath, idleInterface, QStringLiteral("WatchFired"), this, SLOT(onWatchFired(uint)))) {
        log::failure(QStringLiteral("ERROR MutterIdleMonitor: cannot subscribe to WatchFired: %1")
                         .arg(m_bus.lastError().message()));
        return false;
    }
    // A restarted compositor has forgotten the watches: they are armed again when it returns.
    m_bus.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
        SLOT(onMonitorOwnerChanged(QString, QString, QString)));
    if (!armWatches()) {
        removeWatch(m_idleWatch);
        removeWatch(m_activeWatch);
        return false;
    }
    m_started = true;
    log::debug(QStringLiteral("DEBUG MutterIdleMonitor: watching presence (idle after %1 ms)").arg(presenceTimeout_ms));
    return true;
}

void MutterIdleMonitor::onWatchFired(uint id)
{
    if (id == 0)
        return;
    if (id == m_idleWatch) {
        // An idle watch stays armed and fires again after the next stretch of idleness.
        if (!m_idle) {
            m_idle = true;
            emit idled();
        }
    } else if (id == m_activeWatch) {
        // A user-active watch fires once and is gone.
        m_activeWatch = 0;
        m_activeWatch = addWatch(QStringLiteral("AddUserActiveWatch"), {});
        if (m_idle) {
            m_idle = false;
            emit resumed();
        }
    }
}

void MutterIdleMonitor::onMonitorOwnerChanged(const QString &name, const QString &, const QString &newOwner)
{
    if (name != idleService || newOwner.isEmpty() || !m_started)
        return;
    m_idleWatch = 0;
    m_activeWatch = 0;
    armWatches();
}

} // namespace pellux::wayland
