#include "capture/x11/X11CaptureBackend.h"

#include "capture/x11/X11WindowList.h"
#include "runtime/Log.h"

#include <QSysInfo>

#include <algorithm>
#include <csignal>

namespace pellux {

namespace {

// Installed applications change rarely; look again after this long.
constexpr qint64 desktopEntriesMaxAge_ms = 5 * 60 * 1000;

} // namespace

X11CaptureBackend::X11CaptureBackend(QString displayName, x11::SharedMemory sharedMemory)
    : m_displayName(displayName.isEmpty() ? qEnvironmentVariable("DISPLAY") : std::move(displayName))
    , m_sharedMemory(sharedMemory)
    , m_hostName(QSysInfo::machineHostName())
{
    // Writing to the socket of a server that has died raises SIGPIPE, which would end the process;
    // the failure is seen through xcb_connection_has_error instead.
    std::signal(SIGPIPE, SIG_IGN);
    ensureConnected();
}

X11CaptureBackend::~X11CaptureBackend()
{
    m_grabber.reset();
    m_connection.reset();
}

CaptureError X11CaptureBackend::unreachable() const
{
    return CaptureError { QString::fromLatin1(screenCaptureErrorDomain),
        QStringLiteral("Cannot reach the X server on display \"%1\"").arg(m_displayName) };
}

bool X11CaptureBackend::isConnected() const { return m_connection && !m_connection->hasError(); }

bool X11CaptureBackend::usesSharedMemory() const { return m_grabber && m_grabber->usesSharedMemory(); }

void X11CaptureBackend::noteLostConnection()
{
    if (!m_connection || !m_connection->hasError())
        return;
    log::failure(QStringLiteral("ERROR X11CaptureBackend: lost the connection to the X server on display \"%1\": %2")
                     .arg(m_displayName, m_connection->errorText()));
    m_grabber.reset();
    m_connection.reset();
}

bool X11CaptureBackend::ensureConnected()
{
    noteLostConnection();
    if (m_connection)
        return true;
    if (m_displayName.isEmpty()) {
        if (!m_reportedUnreachable)
            log::failure(QStringLiteral("ERROR X11CaptureBackend: no X display is set (DISPLAY is empty)"));
        m_reportedUnreachable = true;
        return false;
    }
    auto connection = std::make_unique<xcb::Connection>(m_displayName);
    if (connection->hasError() || !connection->screen()) {
        // Logged once per outage, not on every capture cycle.
        if (!m_reportedUnreachable)
            log::failure(QStringLiteral("ERROR X11CaptureBackend: cannot connect to the X server on display \"%1\": %2")
                             .arg(m_displayName, connection->errorText()));
        m_reportedUnreachable = true;
        return false;
    }
    m_reportedUnreachable = false;
    m_connection = std::move(connection);
    m_grabber = std::make_unique<x11::X11WindowGrabber>(*m_connection, m_sharedMemory);
    log::debug(QStringLiteral("DEBUG X11CaptureBackend: connected to display \"%1\" (composite %2, shared memory %3)")
                   .arg(m_displayName)
                   .arg(m_grabber->usesComposite() ? QStringLiteral("on") : QStringLiteral("off"))
                   .arg(m_grabber->usesSharedMemory() ? QStringLiteral("on") : QStringLiteral("off")));
    return true;
}

const DesktopEntryIndex &X11CaptureBackend::desktopEntries()
{
    if (!m_desktopEntries || m_desktopEntriesAge.elapsed() > desktopEntriesMaxAge_ms) {
        m_desktopEntries = std::make_unique<DesktopEntryIndex>();
        m_desktopEntriesAge.start();
    }
    return *m_desktopEntries;
}

bool X11CaptureBackend::preflightScreenCaptureAccess()
{
    if (!ensureConnected())
        return false;
    const bool listed = x11::readClientWindows(*m_connection).has_value();
    noteLostConnection();
    return listed;
}

void X11CaptureBackend::requestScreenCaptureAccess()
{
    // X11 has no capture permission to ask for: access follows from reaching the server.
    log::debug(QStringLiteral("DEBUG X11CaptureBackend: screen access on X11 needs no prompt"));
}

CaptureResult<ShareableContent> X11CaptureBackend::readShareableContent(bool onScreenWindowsOnly)
{
    if (!ensureConnected())
        return unreachable();
    const auto clients = x11::readClientWindows(*m_connection);
    if (!clients) {
        noteLostConnection();
        return unreachable();
    }
    const xcb_screen_t *screen = m_connection->screen();
    const QRect screenRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    ShareableContent content;
    for (const x11::ClientWindowProperties &properties : *clients) {
        if (properties.neverCaptured)
            continue;
        WindowDescription window = x11::describeWindow(properties, screenRect, desktopEntries(), m_hostName);
        if (onScreenWindowsOnly && !window.isOnScreen)
            continue;
        if (window.owningApplication
            && std::find(content.applications.begin(), content.applications.end(), *window.owningApplication)
                == content.applications.end())
            content.applications.push_back(*window.owningApplication);
        content.windows.push_back(std::move(window));
    }
    return content;
}

CaptureResult<QImage> X11CaptureBackend::readImage(quint32 windowID)
{
    if (!ensureConnected())
        return unreachable();
    CaptureResult<QImage> image = m_grabber->grab(windowID);
    noteLostConnection();
    if (!image)
        log::debug(QStringLiteral("DEBUG X11CaptureBackend: capture of window 0x%1 failed: %2")
                       .arg(windowID, 0, 16)
                       .arg(image.error().localizedDescription));
    return image;
}

QCoro::Task<CaptureResult<ShareableContent>> X11CaptureBackend::shareableContent(bool, bool onScreenWindowsOnly)
{
    // Desktop windows are never listed, so excluding them changes nothing.
    co_return readShareableContent(onScreenWindowsOnly);
}

QCoro::Task<CaptureResult<QImage>> X11CaptureBackend::captureImage(
    const ContentFilter &filter, const StreamConfiguration &)
{
    // X11 has no scale factor: the window is delivered at its own pixel size.
    co_return readImage(filter.window().windowID);
}

} // namespace pellux
