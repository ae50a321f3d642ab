#include "capture/x11/Xcb.h"

#include <cstring>

namespace pellux::xcb {

Connection::Connection(const QString &displayName)
    : m_displayName(displayName.isEmpty() ? qEnvironmentVariable("DISPLAY") : displayName)
{
    int screenNumber = 0;
    const QByteArray name = m_displayName.toLocal8Bit();
    m_connection.reset(xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber));
    if (hasError())
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection.get()));
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it)) {
        if (i == screenNumber) {
            m_screen = it.data;
            break;
        }
    }
}

QString Connection::errorText() const
{
    const int code = m_connection ? xcb_connection_has_error(m_connection.get()) : XCB_CONN_ERROR;
    switch (code) {
    case 0:
        return QStringLiteral("no error");
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return QStringLiteral("an extension is not supported");
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return QStringLiteral("out of memory");
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return QStringLiteral("request too long");
    case XCB_CONN_CLOSED_PARSE_ERR:
        return QStringLiteral("invalid display name");
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return QStringLiteral("no such screen");
    default:
        return QStringLiteral("the connection failed or was closed");
    }
}

xcb_atom_t Connection::atom(const char *name)
{
    for (const auto &[known, atom] : m_atoms)
        if (known == name)
            return atom;
    if (hasError())
        return XCB_ATOM_NONE;
    const auto cookie = xcb_intern_atom(get(), 0, uint16_t(std::strlen(name)), name);
    ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(get(), cookie, nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    m_atoms.emplace_back(QByteArray(name), reply->atom);
    return reply->atom;
}

std::optional<Property> getProperty(
    Connection &c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint32_t maxLength32)
{
    if (property == XCB_ATOM_NONE || c.hasError())
        return std::nullopt;
    return takeProperty(c, xcb_get_property(c.get(), 0, window, property, type, 0, maxLength32), type);
}

std::optional<Property> takeProperty(Connection &c, xcb_get_property_cookie_t cookie, xcb_atom_t type)
{
    ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(c.get(), cookie, nullptr));
    // A property of another type than the one asked for comes without its data: treated as absent.
    if (!reply || reply->type == XCB_ATOM_NONE || (type != XCB_ATOM_ANY && reply->type != type))
        return std::nullopt;
    Property p;
    p.type = reply->type;
    p.format = reply->format;
    const int length = xcb_get_property_value_length(reply.get());
    p.data = QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
    return p;
}

std::vector<uint32_t> values32(const std::optional<Property> &p)
{
    std::vector<uint32_t> values;
    if (!p || p->format != 32)
        return values;
    values.resize(size_t(p->data.size()) / sizeof(uint32_t));
    if (!values.empty())
        std::memcpy(values.data(), p->data.constData(), values.size() * sizeof(uint32_t));
    return values;
}

std::vector<uint32_t> getProperty32(Connection &c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    return values32(getProperty(c, window, property, type));
}

} // namespace pellux::xcb
