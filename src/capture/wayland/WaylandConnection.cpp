#include "capture/wayland/WaylandConnection.h"

#include "runtime/Log.h"

#include <QCoro/QCoroSignal>
#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pellux::wayland {

void WaylandConnection::onGlobal(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version)
{
    static_cast<WaylandConnection *>(data)->m_globals.push_back(Global { name, QByteArray(interface), version });
}

void WaylandConnection::onGlobalRemove(void *data, wl_registry *, uint32_t name)
{
    auto &globals = static_cast<WaylandConnection *>(data)->m_globals;
    std::erase_if(globals, [name](const Global &g) { return g.name == name; });
}

std::unique_ptr<WaylandConnection> WaylandConnection::open(const QString &displayName, int timeout_ms, QString &error)
{
    const QString name = displayName.isEmpty() ? qEnvironmentVariable("WAYLAND_DISPLAY") : displayName;
    if (name.isEmpty()) {
        error = QStringLiteral("WAYLAND_DISPLAY is not set");
        return nullptr;
    }
    wl_display *display = wl_display_connect(name.toLocal8Bit().constData());
    if (!display) {
        error = QStringLiteral("cannot connect to the Wayland display \"%1\": %2")
                    .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display, name));
    if (!connection->roundtrip(timeout_ms)) {
        error = QStringLiteral("the Wayland display \"%1\" did not list its globals").arg(name);
        return nullptr;
    }
    return connection;
}

QCoro::Task<WaylandConnection::Opened> WaylandConnection::openAsync(QString displayName, int timeout_ms)
{
    const QString name = displayName.isEmpty() ? qEnvironmentVariable("WAYLAND_DISPLAY") : displayName;
    if (name.isEmpty())
        co_return Opened { nullptr, QStringLiteral("WAYLAND_DISPLAY is not set") };
    wl_display *display = wl_display_connect(name.toLocal8Bit().constData());
    if (!display)
        co_return Opened { nullptr,
            QStringLiteral("cannot connect to the Wayland display \"%1\": %2")
                .arg(name, QString::fromLocal8Bit(std::strerror(errno))) };
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display, name));
    // The answer comes through the event loop (readEvents); the listener tells this connection.
    static const wl_callback_listener listener = { .done = [](void *data, wl_callback *callback, uint32_t) {
        wl_callback_destroy(callback);
        if (data)
            emit static_cast<WaylandConnection *>(data)->synced();
    } };
    wl_callback *callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &listener, connection.get());
    connection->flush();
    const auto answered
        = co_await qCoro(connection.get(), &WaylandConnection::synced, std::chrono::milliseconds(timeout_ms));
    if (!answered) {
        // Destroyed with the connection below: its listener must not reach it.
        wl_proxy_set_user_data(reinterpret_cast<wl_proxy *>(callback), nullptr);
        co_return Opened {
            nullptr,
            QStringLiteral("the Wayland display \"%1\" did not list its globals within %2 ms").arg(name).arg(timeout_ms)
        };
    }
    co_return Opened { std::move(connection), QString() };
}

WaylandConnection::WaylandConnection(wl_display *display, QString displayName)
    : m_display(display)
    , m_displayName(std::move(displayName))
{
    static const wl_registry_listener listener
        = { .global = &WaylandConnection::onGlobal, .global_remove = &WaylandConnection::onGlobalRemove };
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &listener, this);
    m_notifier = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandConnection::readEvents);
}

WaylandConnection::~WaylandConnection()
{
    delete m_notifier;
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

bool WaylandConnection::hasGlobal(const wl_interface &interface) const { return version(interface) != 0; }

uint32_t WaylandConnection::version(const wl_interface &interface) const
{
    for (const Global &g : m_globals) {
        if (g.interface == interface.name)
            return g.version;
    }
    return 0;
}

void *WaylandConnection::bind(const wl_interface &interface, uint32_t maxVersion)
{
    for (const Global &g : m_globals) {
        if (g.interface == interface.name)
            return wl_registry_bind(m_registry, g.name, &interface, std::min(maxVersion, g.version));
    }
    return nullptr;
}

void *WaylandConnection::bindName(const Global &global, const wl_interface &interface, uint32_t maxVersion)
{
    return wl_registry_bind(m_registry, global.name, &interface, std::min(maxVersion, global.version));
}

void WaylandConnection::flush()
{
    if (!m_alive)
        return;
    // EAGAIN means the socket is full; the rest is sent with the next flush.
    if (wl_display_flush(m_display) < 0 && errno != EAGAIN)
        checkError();
}

void WaylandConnection::readEvents()
{
    if (!m_alive)
        return;
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0) {
            checkError();
            return;
        }
    }
    // The socket is readable (or the read finds nothing and returns at once).
    if (wl_display_read_events(m_display) < 0 || wl_display_dispatch_pending(m_display) < 0) {
        checkError();
        return;
    }
    flush();
}

bool WaylandConnection::roundtrip(int timeout_ms)
{
    if (!m_alive)
        return false;
    bool done = false;
    static const wl_callback_listener listener = { .done = [](void *data, wl_callback *callback, uint32_t) {
        if (data)
            *static_cast<bool *>(data) = true;
        wl_callback_destroy(callback);
    } };
    wl_callback *callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &listener, &done);
    const QDeadlineTimer deadline(timeout_ms);
    while (!done) {
        if (wl_display_dispatch_pending(m_display) < 0)
            break;
        if (done)
            break;
        if (wl_display_flush(m_display) < 0 && errno != EAGAIN)
            break;
        // Events already queued are dispatched before reading more.
        if (wl_display_prepare_read(m_display) != 0)
            continue;
        pollfd fd = { wl_display_get_fd(m_display), POLLIN, 0 };
        const int ready = poll(&fd, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (ready <= 0) {
            wl_display_cancel_read(m_display);
            if (ready < 0 && errno == EINTR)
                continue;
            break;
        }
        if (wl_display_read_events(m_display) < 0)
            break;
    }
    if (!done) {
        // The callback may still come later: its listener must not write to this stack frame.
        wl_proxy_set_user_data(reinterpret_cast<wl_proxy *>(callback), nullptr);
        checkError();
    }
    return done;
}

void WaylandConnection::checkError()
{
    if (!m_alive)
        return;
    const int code = wl_display_get_error(m_display);
    if (code == 0)
        return;
    m_alive = false;
    m_notifier->setEnabled(false);
    QString reason;
    uint32_t protocolCode = 0;
    const wl_interface *interface = nullptr;
    if (code == EPROTO) {
        protocolCode = wl_display_get_protocol_error(m_display, &interface, nullptr);
        reason = QStringLiteral("the compositor ended the connection for a protocol error (%1, code %2)")
                     .arg(QString::fromLatin1(interface ? interface->name : "unknown"))
                     .arg(protocolCode);
    } else {
        reason = QStringLiteral("the connection to the Wayland display \"%1\" was lost: %2")
                     .arg(m_displayName, QString::fromLocal8Bit(std::strerror(code)));
    }
    emit lost(reason);
}

} // namespace pellux::wayland
