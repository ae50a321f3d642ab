#include "capture/x11/XInputActivitySource.h"

#include "runtime/Log.h"

#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xinput.h>

#include <csignal>

namespace pellux {

namespace {

// One wheel notch scrolls this many lines in most toolkits.
constexpr double linesPerWheelNotch = 3.0;

} // namespace

XInputActivitySource::XInputActivitySource(QString displayName, QObject *parent)
    : ActivitySource(parent)
    , m_displayName(displayName.isEmpty() ? qEnvironmentVariable("DISPLAY") : std::move(displayName))
{
}

XInputActivitySource::~XInputActivitySource() = default;

bool XInputActivitySource::isRunning() const { return m_notifier && m_notifier->isEnabled(); }

bool XInputActivitySource::start()
{
    if (isRunning())
        return true;
    std::signal(SIGPIPE, SIG_IGN);
    m_connection = std::make_unique<xcb::Connection>(m_displayName);
    xcb_connection_t *c = m_connection->get();
    if (m_connection->hasError() || !m_connection->screen()) {
        stop(QStringLiteral("cannot connect to the X server on display \"%1\"").arg(m_displayName));
        return false;
    }
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_input_id);
    if (!extension || !extension->present) {
        stop(QStringLiteral("the X server has no XInput extension"));
        return false;
    }
    m_opcode = extension->major_opcode;
    // Raw events are only sent to clients that announced XInput 2.
    xcb::ReplyPtr<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2) {
        stop(QStringLiteral("the X server does not offer XInput 2"));
        return false;
    }

    struct {
        xcb_input_event_mask_t header;
        uint32_t mask;
    } selection = { { XCB_INPUT_DEVICE_ALL_MASTER, 1 },
        XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS
            | XCB_INPUT_XI_EVENT_MASK_RAW_MOTION };
    xcb::ErrorPtr error(
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, m_connection->root(), 1, &selection.header)));
    if (error) {
        stop(QStringLiteral("the X server refused to report input events"));
        return false;
    }

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &XInputActivitySource::readEvents);
    log::debug(QStringLiteral("DEBUG XInputActivitySource: watching input on display \"%1\"").arg(m_displayName));
    return true;
}

void XInputActivitySource::stop(const QString &reason)
{
    log::failure(QStringLiteral("ERROR XInputActivitySource: %1; activity is not monitored").arg(reason));
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_connection.reset();
}

void XInputActivitySource::handle(const xcb_generic_event_t *event, bool &moved)
{
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return;
    const auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event);
    if (generic->extension != m_opcode)
        return;
    switch (generic->event_type) {
    case XCB_INPUT_RAW_KEY_PRESS:
        emit keyPressed();
        break;
    case XCB_INPUT_RAW_BUTTON_PRESS: {
        const auto *button = reinterpret_cast<const xcb_input_raw_button_press_event_t *>(event);
        switch (button->detail) {
        case 1:
        case 3:
            emit clicked();
            break;
        case 4:
            emit scrolled(linesPerWheelNotch);
            break;
        case 5:
            emit scrolled(-linesPerWheelNotch);
            break;
        case 6:
        case 7:
            emit scrolled(0.0);
            break;
        default:
            break;
        }
        break;
    }
    case XCB_INPUT_RAW_MOTION:
        moved = true;
        break;
    default:
        break;
    }
}

void XInputActivitySource::emitPointerPosition()
{
    xcb_connection_t *c = m_connection->get();
    xcb::ReplyPtr<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, m_connection->root()), nullptr));
    if (pointer)
        emit mouseMoved(QPointF(pointer->root_x, pointer->root_y));
}

void XInputActivitySource::readEvents()
{
    if (!m_connection)
        return;
    xcb_connection_t *c = m_connection->get();
    // A burst of motion becomes one position query; the events that arrive while waiting for its
    // reply are handled in the next round.
    for (int round = 0; round < 8; ++round) {
        bool moved = false;
        bool any = false;
        while (xcb::ReplyPtr<xcb_generic_event_t> event {
            round == 0 ? xcb_poll_for_event(c) : xcb_poll_for_queued_event(c) }) {
            any = true;
            handle(event.get(), moved);
            if (!m_connection)
                return;
        }
        if (moved)
            emitPointerPosition();
        if (!any && round > 0)
            break;
        if (round == 7) {
            // Still busy: continue from the event loop instead of starving it.
            QTimer::singleShot(0, this, &XInputActivitySource::readEvents);
        }
    }
    if (m_connection && m_connection->hasError())
        stop(QStringLiteral("lost the connection to the X server on display \"%1\": %2")
                 .arg(m_displayName, m_connection->errorText()));
}

} // namespace pellux
