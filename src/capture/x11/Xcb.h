#pragma once

#include <QByteArray>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace pellux::xcb {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
// Replies and errors from libxcb are malloc'ed and released with free().
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, FreeDeleter>;
using ErrorPtr = ReplyPtr<xcb_generic_error_t>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};

// One connection to an X server. Owns the xcb connection for its lifetime; a connection that failed
// to open, or broke later, reports it through hasError().
class Connection {
public:
    // An empty name means $DISPLAY.
    explicit Connection(const QString &displayName);

    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    xcb_connection_t *get() const { return m_connection.get(); }
    bool hasError() const { return !m_connection || xcb_connection_has_error(m_connection.get()) != 0; }
    // A readable reason for hasError(), for log lines.
    QString errorText() const;
    const QString &displayName() const { return m_displayName; }

    xcb_screen_t *screen() const { return m_screen; }
    xcb_window_t root() const { return m_screen ? m_screen->root : xcb_window_t(XCB_WINDOW_NONE); }

    // The atom of this name (cached); XCB_ATOM_NONE when the server cannot be asked.
    xcb_atom_t atom(const char *name);

private:
    QString m_displayName;
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> m_connection;
    xcb_screen_t *m_screen = nullptr;
    std::vector<std::pair<QByteArray, xcb_atom_t>> m_atoms;
};

// The value of a window property, or nothing when the window lacks it (or is gone, or the property
// is not of the type asked for).
struct Property {
    xcb_atom_t type = XCB_ATOM_NONE;
    int format = 0;
    QByteArray data;
};
std::optional<Property> getProperty(Connection &c, xcb_window_t window, xcb_atom_t property,
    xcb_atom_t type = XCB_ATOM_ANY, uint32_t maxLength32 = 1 << 16);
// The answer to a property request sent earlier with xcb_get_property for `type`, for callers that
// send many requests before reading the first answer.
std::optional<Property> takeProperty(Connection &c, xcb_get_property_cookie_t cookie, xcb_atom_t type);
// The 32-bit items of a property value; empty when it is absent or of another format.
std::vector<uint32_t> values32(const std::optional<Property> &p);
// A property of 32-bit items (window lists, atoms, cardinals).
std::vector<uint32_t> getProperty32(
    Connection &c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type = XCB_ATOM_ANY);

} // namespace pellux::xcb
