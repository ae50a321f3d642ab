#include "capture/wayland/WaylandIdleActivitySource.h"

#include "capture/wayland/WaylandBackends.h"
#include "runtime/Log.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

namespace pellux::wayland {

namespace {

constexpr int connectTimeout_ms = 2000;

void destroySeat(wl_seat *seat)
{
    if (wl_seat_get_version(seat) >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(seat);
    else
        wl_seat_destroy(seat);
}

} // namespace

struct WaylandIdleActivitySource::Objects {
    // Released in the reverse order: the notification before the notifier and the seat.
    ProxyPtr<wl_seat, destroySeat> seat;
    ProxyPtr<ext_idle_notifier_v1, ext_idle_notifier_v1_destroy> notifier;
    ProxyPtr<org_kde_kwin_idle, org_kde_kwin_idle_destroy> kdeIdle;
    ProxyPtr<ext_idle_notification_v1, ext_idle_notification_v1_destroy> notification;
    ProxyPtr<org_kde_kwin_idle_timeout, org_kde_kwin_idle_timeout_release> kdeTimeout;
};

WaylandIdleActivitySource::WaylandIdleActivitySource(QString displayName, QObject *parent)
    : ActivitySource(parent)
    , m_displayName(std::move(displayName))
{
}

WaylandIdleActivitySource::~WaylandIdleActivitySource()
{
    m_objects.reset();
    if (m_connection)
        m_connection->flush();
}

bool WaylandIdleActivitySource::start()
{
    if (isRunning())
        return true;
    QString error;
    m_connection = WaylandConnection::open(m_displayName, connectTimeout_ms, error);
    if (!m_connection) {
        stop(error);
        return false;
    }
    const bool haveExt = m_connection->hasGlobal(ext_idle_notifier_v1_interface);
    const bool haveKde = m_connection->hasGlobal(org_kde_kwin_idle_interface);
    if (!haveExt && !haveKde) {
        stop(QStringLiteral("the compositor offers neither ext_idle_notifier_v1 nor org_kde_kwin_idle"));
        return false;
    }
    if (!m_connection->hasGlobal(wl_seat_interface)) {
        stop(QStringLiteral("the compositor has no seat"));
        return false;
    }

    m_objects = std::make_unique<Objects>();
    m_objects->seat.reset(m_connection->bind<wl_seat>(wl_seat_interface, 5));
    if (haveExt) {
        static const ext_idle_notification_v1_listener listener = {
            .idled = [](void *data,
                         ext_idle_notification_v1 *) { static_cast<WaylandIdleActivitySource *>(data)->setIdle(true); },
            .resumed
            = [](void *data,
                  ext_idle_notification_v1 *) { static_cast<WaylandIdleActivitySource *>(data)->setIdle(false); },
        };
        m_objects->notifier.reset(m_connection->bind<ext_idle_notifier_v1>(ext_idle_notifier_v1_interface, 1));
        m_objects->notification.reset(ext_idle_notifier_v1_get_idle_notification(
            m_objects->notifier.get(), presenceTimeout_ms, m_objects->seat.get()));
        ext_idle_notification_v1_add_listener(m_objects->notification.get(), &listener, this);
    } else {
        static const org_kde_kwin_idle_timeout_listener listener = {
            .idle = [](void *data,
                        org_kde_kwin_idle_timeout *) { static_cast<WaylandIdleActivitySource *>(data)->setIdle(true); },
            .resumed
            = [](void *data,
                  org_kde_kwin_idle_timeout *) { static_cast<WaylandIdleActivitySource *>(data)->setIdle(false); },
        };
        m_objects->kdeIdle.reset(m_connection->bind<org_kde_kwin_idle>(org_kde_kwin_idle_interface, 1));
        m_objects->kdeTimeout.reset(
            org_kde_kwin_idle_get_idle_timeout(m_objects->kdeIdle.get(), m_objects->seat.get(), presenceTimeout_ms));
        org_kde_kwin_idle_timeout_add_listener(m_objects->kdeTimeout.get(), &listener, this);
    }
    connect(m_connection.get(), &WaylandConnection::lost, this, [this](const QString &reason) { stop(reason); });
    m_connection->flush();
    log::debug(
        QStringLiteral("DEBUG WaylandIdleActivitySource: watching presence on \"%1\" through %2")
            .arg(m_connection->displayName(), QLatin1String(haveExt ? "ext_idle_notifier_v1" : "org_kde_kwin_idle")));
    return true;
}

void WaylandIdleActivitySource::setIdle(bool idle)
{
    if (idle == m_idle)
        return;
    m_idle = idle;
    log::debug(QStringLiteral("DEBUG WaylandIdleActivitySource: %1").arg(QLatin1String(idle ? "idle" : "resumed")));
    if (idle)
        emit idled();
    else
        emit resumed();
}

void WaylandIdleActivitySource::stop(const QString &reason)
{
    log::failure(QStringLiteral("ERROR WaylandIdleActivitySource: %1; presence is not monitored").arg(reason));
    if (m_connection)
        m_connection->disconnect(this);
    m_objects.reset();
    // Deleted from the event loop: stop() may be called from within the connection's own signal.
    if (m_connection)
        m_connection.release()->deleteLater();
}

std::unique_ptr<ActivitySource> createWaylandIdleActivitySource(QObject *parent)
{
    return std::make_unique<WaylandIdleActivitySource>(QString(), parent);
}

} // namespace pellux::wayland
