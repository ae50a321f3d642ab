#include "support/XvfbSession.h"

#include "capture/x11/Xcb.h"

#include <QDeadlineTimer>

namespace pellux::test {

namespace {

// The window's title as the tests see it: _NET_WM_NAME, else WM_NAME.
QString titleOf(xcb::Connection &c, xcb_window_t w)
{
    if (auto p = xcb::getProperty(c, w, c.atom("_NET_WM_NAME")))
        return QString::fromUtf8(p->data);
    if (auto p = xcb::getProperty(c, w, XCB_ATOM_WM_NAME))
        return QString::fromLatin1(p->data);
    return {};
}

bool isViewable(xcb::Connection &c, xcb_window_t w)
{
    xcb::ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c.get(), xcb_get_window_attributes(c.get(), w), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Ends a program, politely first when `term_ms` is given.
void stop(QProcess &process, int term_ms = 0)
{
    if (term_ms > 0 && process.state() != QProcess::NotRunning) {
        process.terminate();
        if (process.waitForFinished(term_ms))
            return;
    }
    process.kill();
    process.waitForFinished(10'000);
}

std::vector<xcb_window_t> clientList(xcb::Connection &c)
{
    return xcb::getProperty32(c, c.root(), c.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
}

} // namespace

XvfbSession::XvfbSession()
    : XvfbSession(Options {})
{
}

XvfbSession::XvfbSession(Options options)
    : m_options(options)
{
    if (!m_bus.address().isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    if (!m_dir.isValid())
        m_error = QStringLiteral("no temporary folder");
    else if (startServer() && m_options.windowManager && !startWindowManager()) {
        killServer();
        m_display.clear();
    }
}

XvfbSession::~XvfbSession()
{
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it)
        stop(**it, 3'000);
    if (m_server)
        stop(*m_server, 3'000);
    if (m_previousBus.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_previousBus);
}

std::unique_ptr<QProcess> XvfbSession::start(const QStringList &arguments, const QString &logName)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    if (!m_display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), m_display);
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(m_dir.filePath(logName), QIODevice::Append);
    if (logName != QStringLiteral("xvfb.log")) // the server's output is its display number
        process->setStandardOutputFile(m_dir.filePath(logName), QIODevice::Append);
    // Its own process group, so that signals sent to the test do not reach it.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    process->start(arguments.first(), arguments.mid(1));
    if (process->waitForStarted())
        return process;
    m_error = QStringLiteral("cannot start %1: %2").arg(arguments.first(), process->errorString());
    return nullptr;
}

bool XvfbSession::startServer()
{
    // The server writes its display number to its standard output (descriptor 1).
    const QString screen = QStringLiteral("%1x%2x24").arg(screenSize().width()).arg(screenSize().height());
    m_server = start({ "Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset" },
        QStringLiteral("xvfb.log"));
    QByteArray number;
    QDeadlineTimer deadline(30'000);
    while (m_server && !number.endsWith('\n') && m_server->waitForReadyRead(int(deadline.remainingTime())))
        number += m_server->readAllStandardOutput();
    if (!number.endsWith('\n')) {
        if (m_server)
            m_error = QStringLiteral("Xvfb did not start: %1")
                          .arg(QString::fromLocal8Bit(readAll(m_dir.filePath(QStringLiteral("xvfb.log")))).trimmed());
        killServer();
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return true;
}

bool XvfbSession::startWindowManager()
{
    if (launch({ "openbox", "--sm-disable" }) <= 0)
        return false;
    // openbox announces itself before its event loop runs, and a window mapped in that gap waits
    // until the next event reaches it. It is ready once one of a series of probe windows shows up in
    // its client list.
    xcb::Connection c(m_display);
    bool ready = runEventsUntil(
        [&] { return !c.hasError() && xcb::getProperty(c, c.root(), c.atom("_NET_SUPPORTING_WM_CHECK")).has_value(); });
    std::vector<xcb_window_t> probes;
    ready = ready && runEventsUntil([&] {
        probes.push_back(xcb_generate_id(c.get()));
        xcb_create_window(c.get(), XCB_COPY_FROM_PARENT, probes.back(), c.root(), 0, 0, 10, 10, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(c.get(), probes.back());
        xcb_flush(c.get());
        QThread::msleep(50);
        return !clientList(c).empty();
    });
    for (xcb_window_t probe : probes)
        xcb_destroy_window(c.get(), probe);
    xcb_flush(c.get());
    ready = ready && runEventsUntil([&] { return clientList(c).empty(); });
    if (!ready)
        m_error = QStringLiteral("openbox did not start on %1").arg(m_display);
    return ready;
}

pid_t XvfbSession::launch(const QStringList &arguments)
{
    std::unique_ptr<QProcess> process = isRunning() ? start(arguments, QStringLiteral("clients.log")) : nullptr;
    if (!process)
        return 0;
    m_children.push_back(std::move(process));
    return pid_t(m_children.back()->processId());
}

int XvfbSession::run(const QStringList &arguments, int timeout_ms)
{
    const std::unique_ptr<QProcess> process = isRunning() ? start(arguments, QStringLiteral("clients.log")) : nullptr;
    const bool ended = process && process->waitForFinished(timeout_ms);
    if (process && !ended)
        stop(*process);
    return ended && process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
}

quint32 XvfbSession::launchXterm(const QString &title, const QString &text, const XtermOptions &options, pid_t *pid)
{
    // The text file's path is quoted for sh; the temporary folder's name has no quotes in it.
    const QString textPath = m_dir.filePath(QStringLiteral("xterm-%1.txt").arg(++m_xtermCount));
    if (!writeAll(textPath, text.toUtf8()))
        return 0;
    const pid_t child = launch({ "xterm", "-T", title, "-fa", "DejaVu Sans Mono", "-fs", "12", "+sb", "-bg",
        options.background, "-fg", options.foreground, "-geometry", options.geometry, "-e", "sh", "-c",
        QStringLiteral("cat '%1'; exec sleep 600").arg(textPath) });
    if (pid)
        *pid = child;
    return child > 0 ? waitForWindow(title) : 0;
}

quint32 XvfbSession::waitForWindow(const QString &title, int timeout_ms)
{
    if (!isRunning())
        return 0;
    xcb::Connection c(m_display);
    quint32 found = 0;
    runEventsUntil(
        [&] {
            for (uint32_t w : c.hasError() ? std::vector<uint32_t> {} : clientList(c))
                if (titleOf(c, w) == title && isViewable(c, w))
                    found = w;
            return found != 0 || c.hasError();
        },
        timeout_ms);
    return found;
}

bool XvfbSession::waitForWindowGone(quint32 window, int timeout_ms)
{
    xcb::Connection c(m_display);
    return runEventsUntil(
        [&] {
            return c.hasError()
                || !xcb::ReplyPtr<xcb_get_geometry_reply_t>(
                    xcb_get_geometry_reply(c.get(), xcb_get_geometry(c.get(), window), nullptr));
        },
        timeout_ms);
}

void XvfbSession::kill(pid_t pid)
{
    std::erase_if(m_children, [&](const std::unique_ptr<QProcess> &process) {
        if (process->processId() != pid)
            return false;
        stop(*process);
        return true;
    });
}

void XvfbSession::killServer()
{
    if (m_server)
        stop(*m_server);
    m_server.reset();
}

bool XvfbSession::keepActiveUntil(const std::function<bool()> &done, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    for (bool right = true; !done(); right = !right) {
        if (clock.elapsed() > timeout_ms)
            return false;
        run({ "xdotool", "mousemove_relative", "--", right ? "7" : "-7", "0" });
        runEventsUntil([] { return false; }, 100);
    }
    return true;
}

} // namespace pellux::test
