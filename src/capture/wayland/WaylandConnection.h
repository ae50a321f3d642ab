#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

#include <wayland-client.h>

#include <memory>
#include <vector>

class QSocketNotifier;

namespace pellux::wayland {

// Releases a protocol object with the request (or the plain proxy destruction) that ends it.
template <typename T, void (*destroy)(T *)> struct ProxyDeleter {
    void operator()(T *proxy) const
    {
        if (proxy)
            destroy(proxy);
    }
};
template <typename T, void (*destroy)(T *)> using ProxyPtr = std::unique_ptr<T, ProxyDeleter<T, destroy>>;

// A client connection of Pellux's own to the Wayland compositor (not Qt's), read from the main
// thread's event loop: whenever the socket is readable the events are read and dispatched to the
// listeners of its objects. Requests are sent by calling flush() after making them. The globals the
// compositor announced at connection are kept for binding.
class WaylandConnection final : public QObject {
    Q_OBJECT
public:
    struct Global {
        uint32_t name = 0;
        QByteArray interface;
        uint32_t version = 0;
    };

    // Connects to the named display ($WAYLAND_DISPLAY when empty) and reads its globals; null with
    // `error` set when the display cannot be reached or does not answer within `timeout_ms`.
    static std::unique_ptr<WaylandConnection> open(const QString &displayName, int timeout_ms, QString &error);
    // The same without blocking the thread while the compositor answers: KWin looks up the
    // connecting program's desktop file before it lists restricted globals, which can take a second.
    struct Opened {
        std::unique_ptr<WaylandConnection> connection;
        QString error;
    };
    static QCoro::Task<Opened> openAsync(QString displayName, int timeout_ms);
    ~WaylandConnection() override;

    wl_display *display() const { return m_display; }
    const QString &displayName() const { return m_displayName; }
    bool hasGlobal(const wl_interface &interface) const;
    // The global of that interface, bound at the lower of `maxVersion` and the offered version; null
    // when the compositor does not offer it.
    void *bind(const wl_interface &interface, uint32_t maxVersion);
    template <typename T> T *bind(const wl_interface &interface, uint32_t maxVersion)
    {
        return static_cast<T *>(bind(interface, maxVersion));
    }
    uint32_t version(const wl_interface &interface) const;
    // Every global announced so far, for interfaces with more than one (outputs, seats).
    const std::vector<Global> &globals() const { return m_globals; }
    void *bindName(const Global &global, const wl_interface &interface, uint32_t maxVersion);

    // Sends the requests made so far.
    void flush();
    // Sends the requests made so far and waits, blocking and at most `timeout_ms`, until the
    // compositor has handled them and their events are dispatched. False on time-out or a broken
    // connection. Used only while setting up; later waits go through the event loop.
    bool roundtrip(int timeout_ms);
    // False once the compositor went away or ended the connection for a protocol error.
    bool isAlive() const { return m_alive; }

signals:
    // A sync request made by openAsync() was answered.
    void synced();
    // The compositor went away or closed the connection; emitted once, with a readable reason.
    void lost(const QString &reason);

private:
    WaylandConnection(wl_display *display, QString displayName);
    void readEvents();
    void checkError();
    static void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version);
    static void onGlobalRemove(void *data, wl_registry *registry, uint32_t name);

    wl_display *m_display = nullptr;
    QString m_displayName;
    wl_registry *m_registry = nullptr;
    std::vector<Global> m_globals;
    QSocketNotifier *m_notifier = nullptr;
    bool m_alive = true;
};

} // namespace pellux::wayland
