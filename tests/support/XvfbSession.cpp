#include "support/XvfbSession.h"

#include "capture/x11/Xcb.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

bool reaped(pid_t pid, int timeout_ms)
{
    QDeadlineTimer deadline(timeout_ms);
    while (true) {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
}

} // namespace

XvfbSession::XvfbSession()
    : XvfbSession(Options {})
{
}

XvfbSession::XvfbSession(Options options)
    : m_options(options)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    if (!startServer())
        return;
    if (m_options.windowManager && !startWindowManager()) {
        killServer();
        m_display.clear();
    }
}

XvfbSession::~XvfbSession()
{
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it)
        stopProcess(*it);
    if (m_serverPid > 0)
        stopProcess(m_serverPid);
}

pid_t XvfbSession::spawn(const QStringList &arguments, const QString &logName, int extraFd)
{
    std::vector<QByteArray> argStorage;
    for (const QString &a : arguments)
        argStorage.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &a : argStorage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStorage;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0)
            envStorage.emplace_back(*e);
    if (!m_display.isEmpty())
        envStorage.push_back("DISPLAY=" + m_display.toLatin1());
    std::vector<char *> envp;
    for (QByteArray &e : envStorage)
        envp.push_back(e.data());
    envp.push_back(nullptr);

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
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        m_error = QStringLiteral("cannot start %1: %2").arg(arguments.value(0), QString::fromLocal8Bit(strerror(rc)));
        return 0;
    }
    return pid;
}

bool XvfbSession::startServer()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pipe failed");
        return false;
    }
    const QString screen
        = QStringLiteral("%1x%2x24").arg(m_options.screenSize.width()).arg(m_options.screenSize.height());
    // The child gets the pipe's write end as descriptor 3 (dup2 clears close-on-exec).
    const pid_t pid = spawn({ QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QStringLiteral("3"),
                                QStringLiteral("-screen"), QStringLiteral("0"), screen, QStringLiteral("-nolisten"),
                                QStringLiteral("tcp"), QStringLiteral("-noreset") },
        QStringLiteral("xvfb.log"), fds[1]);
    close(fds[1]);
    if (pid <= 0) {
        close(fds[0]);
        return false;
    }
    m_serverPid = pid;

    QByteArray number;
    QDeadlineTimer deadline(30'000);
    while (!number.endsWith('\n') && !deadline.hasExpired()) {
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
        log.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("Xvfb did not start: %1").arg(QString::fromLocal8Bit(log.readAll()).trimmed());
        killServer();
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return true;
}

bool XvfbSession::startWindowManager()
{
    const pid_t pid = launch({ QStringLiteral("openbox"), QStringLiteral("--sm-disable") });
    if (pid <= 0)
        return false;
    // openbox announces itself before its event loop runs, and a window mapped in that gap waits
    // until the next event reaches it. It is ready once one of a series of probe windows shows up in
    // its client list.
    xcb::Connection c(m_display);
    bool ready = waitUntil(
        [&] { return !c.hasError() && xcb::getProperty(c, c.root(), c.atom("_NET_SUPPORTING_WM_CHECK")).has_value(); });
    std::vector<xcb_window_t> probes;
    ready = ready && waitUntil([&] {
        const xcb_window_t probe = xcb_generate_id(c.get());
        xcb_create_window(c.get(), XCB_COPY_FROM_PARENT, probe, c.root(), 0, 0, 10, 10, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(c.get(), probe);
        xcb_flush(c.get());
        probes.push_back(probe);
        QThread::msleep(50);
        return !xcb::getProperty32(c, c.root(), c.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW).empty();
    });
    for (xcb_window_t probe : probes)
        xcb_destroy_window(c.get(), probe);
    xcb_flush(c.get());
    ready = ready && waitUntil([&] {
        return xcb::getProperty32(c, c.root(), c.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW).empty();
    });
    if (!ready)
        m_error = QStringLiteral("openbox did not start on %1").arg(m_display);
    return ready;
}

pid_t XvfbSession::launch(const QStringList &arguments)
{
    if (!isRunning())
        return 0;
    const pid_t pid = spawn(arguments, QStringLiteral("clients.log"));
    if (pid > 0)
        m_children.push_back(pid);
    return pid;
}

int XvfbSession::run(const QStringList &arguments, int timeout_ms)
{
    if (!isRunning())
        return -1;
    const pid_t pid = spawn(arguments, QStringLiteral("clients.log"));
    if (pid <= 0)
        return -1;
    QDeadlineTimer deadline(timeout_ms);
    while (true) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0 || deadline.hasExpired()) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
        QThread::msleep(5);
    }
}

quint32 XvfbSession::launchXterm(const QString &title, const QString &text, const XtermOptions &options, pid_t *pid)
{
    const QString textPath = m_dir.filePath(QStringLiteral("xterm-%1.txt").arg(++m_xtermCount));
    QFile file(textPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        return 0;
    file.close();
    // The text file's path is quoted for sh; the temporary folder's name has no quotes in it.
    const pid_t child = launch({ QStringLiteral("xterm"), QStringLiteral("-T"), title, QStringLiteral("-fa"),
        QStringLiteral("DejaVu Sans Mono"), QStringLiteral("-fs"), QStringLiteral("12"), QStringLiteral("+sb"),
        QStringLiteral("-bg"), options.background, QStringLiteral("-fg"), options.foreground,
        QStringLiteral("-geometry"), options.geometry, QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
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
    waitUntil(
        [&] {
            if (c.hasError())
                return true;
            const std::vector<uint32_t> clients
                = xcb::getProperty32(c, c.root(), c.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
            for (uint32_t w : clients) {
                if (titleOf(c, w) == title && isViewable(c, w)) {
                    found = w;
                    return true;
                }
            }
            return false;
        },
        timeout_ms);
    return found;
}

bool XvfbSession::waitForWindowGone(quint32 window, int timeout_ms)
{
    xcb::Connection c(m_display);
    return waitUntil(
        [&] {
            if (c.hasError())
                return true;
            xcb::ReplyPtr<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(c.get(), xcb_get_geometry(c.get(), window), nullptr));
            return !geometry;
        },
        timeout_ms);
}

void XvfbSession::kill(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    reaped(pid, 10'000);
    std::erase(m_children, pid);
}

void XvfbSession::killServer()
{
    if (m_serverPid <= 0)
        return;
    ::kill(m_serverPid, SIGKILL);
    reaped(m_serverPid, 10'000);
    m_serverPid = 0;
}

void XvfbSession::stopProcess(pid_t pid)
{
    ::kill(pid, SIGTERM);
    if (!reaped(pid, 3'000)) {
        ::kill(pid, SIGKILL);
        reaped(pid, 3'000);
    }
}

bool XvfbSession::waitUntil(const std::function<bool()> &condition, int timeout_ms)
{
    QDeadlineTimer deadline(timeout_ms);
    while (true) {
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
}

bool XvfbSession::keepActiveUntil(const std::function<bool()> &done, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    for (bool right = true; !done(); right = !right) {
        if (clock.elapsed() > timeout_ms)
            return false;
        run({ QStringLiteral("xdotool"), QStringLiteral("mousemove_relative"), QStringLiteral("--"),
            right ? QStringLiteral("7") : QStringLiteral("-7"), QStringLiteral("0") });
        waitUntil([] { return false; }, 100);
    }
    return true;
}

} // namespace pellux::test
