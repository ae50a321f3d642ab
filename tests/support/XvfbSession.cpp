#include "support/XvfbSession.h"

#include "capture/x11/Xcb.h"

#include <poll.h>
#include <spawn.h>

extern char **environ;

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

// Waits for the child to end; its exit status (-1 when it did not exit normally), or nullopt when
// it is still running after `timeout_ms`.
std::optional<int> reap(pid_t pid, int timeout_ms)
{
    QDeadlineTimer deadline(timeout_ms);
    for (int status = 0;; QThread::msleep(5)) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0)
            return -1;
        if (deadline.hasExpired())
            return std::nullopt;
    }
}

// Ends a child, politely first when `term_ms` is given, and reaps it.
void stop(pid_t pid, int term_ms = 0)
{
    if (pid <= 0)
        return;
    if (term_ms > 0 && ::kill(pid, SIGTERM) == 0 && reap(pid, term_ms))
        return;
    ::kill(pid, SIGKILL);
    reap(pid, 10'000);
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
        stop(*it, 3'000);
    stop(m_serverPid, 3'000);
}

pid_t XvfbSession::spawn(const QStringList &arguments, const QString &logName, int extraFd)
{
    // The arguments and the environment (with this session's DISPLAY), as C strings kept alive here.
    std::vector<QByteArray> args, env;
    for (const QString &a : arguments)
        args.push_back(QFile::encodeName(a));
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0)
            env.emplace_back(*e);
    if (!m_display.isEmpty())
        env.push_back("DISPLAY=" + m_display.toLatin1());
    const auto pointers = [](std::vector<QByteArray> &strings) {
        std::vector<char *> out;
        for (QByteArray &s : strings)
            out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    };
    std::vector<char *> argv = pointers(args), envp = pointers(env);

    const QByteArray logPath = QFile::encodeName(m_dir.filePath(logName));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (extraFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, extraFd, 3);
    // Its own process group, so that signals sent to the test do not reach it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc == 0)
        return pid;
    m_error = QStringLiteral("cannot start %1: %2").arg(arguments.value(0), QString::fromLocal8Bit(strerror(rc)));
    return 0;
}

bool XvfbSession::startServer()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pipe failed");
        return false;
    }
    // The server writes its display number to descriptor 3, the pipe's write end (dup2 clears
    // close-on-exec).
    const QString screen = QStringLiteral("%1x%2x24").arg(screenSize().width()).arg(screenSize().height());
    m_serverPid = spawn({ "Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset" },
        QStringLiteral("xvfb.log"), fds[1]);
    close(fds[1]);
    QByteArray number;
    QDeadlineTimer deadline(30'000);
    while (m_serverPid > 0 && !number.endsWith('\n') && !deadline.hasExpired()) {
        pollfd p { fds[0], POLLIN, 0 };
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[32];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, n);
    }
    close(fds[0]);
    if (!number.endsWith('\n')) {
        QFile log(m_dir.filePath(QStringLiteral("xvfb.log")));
        if (m_serverPid > 0 && log.open(QIODevice::ReadOnly))
            m_error = QStringLiteral("Xvfb did not start: %1").arg(QString::fromLocal8Bit(log.readAll()).trimmed());
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
    const pid_t pid = isRunning() ? spawn(arguments, QStringLiteral("clients.log")) : 0;
    if (pid > 0)
        m_children.push_back(pid);
    return pid;
}

int XvfbSession::run(const QStringList &arguments, int timeout_ms)
{
    const pid_t pid = isRunning() ? spawn(arguments, QStringLiteral("clients.log")) : 0;
    if (pid <= 0)
        return -1;
    if (const std::optional<int> status = reap(pid, timeout_ms))
        return *status;
    stop(pid);
    return -1;
}

quint32 XvfbSession::launchXterm(const QString &title, const QString &text, const XtermOptions &options, pid_t *pid)
{
    // The text file's path is quoted for sh; the temporary folder's name has no quotes in it.
    const QString textPath = m_dir.filePath(QStringLiteral("xterm-%1.txt").arg(++m_xtermCount));
    QFile file(textPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        return 0;
    file.close();
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
    stop(pid);
    std::erase(m_children, pid);
}

void XvfbSession::killServer()
{
    stop(m_serverPid);
    m_serverPid = 0;
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
