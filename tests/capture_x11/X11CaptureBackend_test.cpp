#include "capture/DesktopEntryIndex.h"
#include "capture/x11/X11CaptureBackend.h"
#include "capture/x11/Xcb.h"
#include "support/XvfbSession.h"

#include <QCoro/QCoroTask>

namespace pellux {
namespace {

using test::runEventsUntil;
using test::XvfbSession;

const WindowDescription *findWindow(const ShareableContent &content, quint32 id)
{
    auto it = std::find_if(
        content.windows.begin(), content.windows.end(), [id](const WindowDescription &w) { return w.windowID == id; });
    return it == content.windows.end() ? nullptr : &*it;
}

ShareableContent listWindows(CaptureBackend &backend)
{
    CaptureResult<ShareableContent> result = QCoro::waitFor(backend.getShareableContent());
    EXPECT_TRUE(result.ok()) << (result.ok() ? QString() : result.error().localizedDescription).toStdString();
    return result.ok() ? result.value() : ShareableContent {};
}

CaptureResult<QImage> capture(CaptureBackend &backend, const WindowDescription &window)
{
    const StreamConfiguration configuration { int(window.frame.width()), int(window.frame.height()),
        CaptureResolution::best };
    return QCoro::waitFor(backend.captureImage(ContentFilter::desktopIndependentWindow(window), configuration));
}

// A window made directly with xcb, for window types no ordinary program creates.
class PlainWindow {
public:
    PlainWindow(const QString &display, const char *windowType, const QByteArray &netWmName, const QByteArray &wmName)
        : m_connection(display)
    {
        xcb_connection_t *c = m_connection.get();
        m_window = xcb_generate_id(c);
        const uint32_t values[] = { m_connection.screen()->white_pixel };
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, m_connection.root(), 200, 200, 300, 120, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, values);
        if (windowType) {
            const xcb_atom_t type = m_connection.atom(windowType);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, m_connection.atom("_NET_WM_WINDOW_TYPE"),
                XCB_ATOM_ATOM, 32, 1, &type);
        }
        if (!netWmName.isEmpty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, m_connection.atom("_NET_WM_NAME"),
                m_connection.atom("UTF8_STRING"), 8, uint32_t(netWmName.size()), netWmName.constData());
        if (!wmName.isEmpty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                uint32_t(wmName.size()), wmName.constData());
        const QByteArray wmClass("plain\0Plain\0", 12);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
            uint32_t(wmClass.size()), wmClass.constData());
        xcb_map_window(c, m_window);
        xcb_flush(c);
    }

    xcb_window_t id() const { return m_window; }

    // True once the window manager lists it among its clients.
    bool managed()
    {
        const auto clients = xcb::getProperty32(
            m_connection, m_connection.root(), m_connection.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
        return std::find(clients.begin(), clients.end(), m_window) != clients.end();
    }

private:
    xcb::Connection m_connection;
    xcb_window_t m_window = 0;
};

class X11CaptureBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!session.isRunning())
            GTEST_SKIP() << "no X session: " << session.errorString().toStdString();
    }

    XvfbSession session;
};

TEST_F(X11CaptureBackendTest, ListsApplicationWindowsWithTitlesOwnersAndFrames)
{
    pid_t xtermPid = 0;
    const quint32 xterm = session.launchXterm("Listed terminal", "hello\n", { "80x24+40+60" }, &xtermPid);
    ASSERT_NE(xterm, 0u);
    PlainWindow utf8Titled(session.display(), nullptr, "Grüße ✓", "fallback title");
    std::vector<std::unique_ptr<PlainWindow>> special;
    for (const char *type : { "DOCK", "DESKTOP", "SPLASH", "NOTIFICATION", "MENU", "TOOLTIP" }) {
        const QByteArray atom = QByteArray("_NET_WM_WINDOW_TYPE_") + type;
        special.push_back(std::make_unique<PlainWindow>(session.display(), atom.constData(), type, QByteArray()));
    }
    PlainWindow legacy(session.display(), "_NET_WM_WINDOW_TYPE_NORMAL", {}, "legacy title");
    // The window manager handles map requests in order: once the last window is managed, so are the others.
    ASSERT_TRUE(runEventsUntil([&] { return legacy.managed(); }));
    // Some programs write _NET_WM_NAME as a plain STRING; a request for UTF8_STRING then gets no data.
    ASSERT_EQ(session.run({ "xprop", "-id", QString::number(legacy.id()), "-f", "_NET_WM_NAME", "8s", "-set",
                  "_NET_WM_NAME", "mistyped title" }),
        0);
    xcb::Connection observer(session.display());
    ASSERT_TRUE(runEventsUntil([&] {
        const auto name = xcb::getProperty(observer, legacy.id(), observer.atom("_NET_WM_NAME"));
        return name && name->type == XCB_ATOM_STRING;
    }));

    X11CaptureBackend backend(session.display());
    EXPECT_TRUE(backend.preflightScreenCaptureAccess());
    const ShareableContent content = listWindows(backend);
    const WindowDescription *terminal = findWindow(content, xterm);
    ASSERT_NE(terminal, nullptr);
    // xterm sets only WM_NAME.
    EXPECT_TRUE(terminal->title == "Listed terminal" && terminal->isOnScreen);
    const QRectF f = terminal->frame;
    EXPECT_TRUE(f.width() > 300 && f.height() > 200 && f.x() >= 40 && f.y() >= 60) << f.x() << "," << f.y();
    const QString expectedId = DesktopEntryIndex().idForWindowClass("xterm", "XTerm").value_or("xterm");
    EXPECT_EQ(terminal->owningApplication, (RunningApplication { "XTerm", expectedId, xtermPid }));

    const WindowDescription *plain = findWindow(content, utf8Titled.id());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->title, "Grüße ✓");
    // No process id on this window: named by its class, identified by its instance.
    EXPECT_EQ(plain->owningApplication, (RunningApplication { "Plain", "plain", 0 }));
    ASSERT_NE(findWindow(content, legacy.id()), nullptr);
    EXPECT_EQ(findWindow(content, legacy.id())->title, "legacy title");
    for (const auto &window : special)
        EXPECT_EQ(findWindow(content, window->id()), nullptr) << window->id();
    // The legacy window was mapped last, so it is in front.
    EXPECT_EQ(content.windows.front().windowID, legacy.id());
    EXPECT_EQ(content.applications.size(), 2u);
}

TEST_F(X11CaptureBackendTest, WithoutTheStackingListClientsAreFoundThroughTheWindowTree)
{
    const quint32 back = session.launchXterm("Back terminal", "one\n");
    const quint32 front = session.launchXterm("Front terminal", "two\n");
    PlainWindow dock(session.display(), "_NET_WM_WINDOW_TYPE_DOCK", "a panel", {});
    ASSERT_TRUE(back && front);
    ASSERT_TRUE(runEventsUntil([&] { return dock.managed(); }));
    // As under a window manager without EWMH: the clients carry WM_STATE, the root no list.
    xcb::Connection connection(session.display());
    const auto stackingList = [&] {
        return xcb::getProperty32(
            connection, connection.root(), connection.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    };
    xcb_delete_property(connection.get(), connection.root(), connection.atom("_NET_CLIENT_LIST_STACKING"));
    ASSERT_TRUE(stackingList().empty());

    X11CaptureBackend backend(session.display());
    const ShareableContent content = listWindows(backend);
    ASSERT_TRUE(stackingList().empty()); // the window manager did not put it back meanwhile
    const WindowDescription *frontWindow = findWindow(content, front);
    const WindowDescription *backWindow = findWindow(content, back);
    ASSERT_NE(frontWindow, nullptr);
    ASSERT_NE(backWindow, nullptr);
    EXPECT_EQ(std::pair(frontWindow->title, backWindow->title),
        std::pair(std::optional<QString>("Front terminal"), std::optional<QString>("Back terminal")));
    EXPECT_EQ(frontWindow->owningApplication.value_or(RunningApplication {}).applicationName, "XTerm");
    EXPECT_EQ(findWindow(content, dock.id()), nullptr);
    // Front to back, as with the stacking list.
    EXPECT_LT(frontWindow - content.windows.data(), backWindow - content.windows.data());

    // Through shared memory, and the same pixels through the socket. (A covered window's own
    // contents are the end-to-end capture test's concern.)
    const CaptureResult<QImage> image = capture(backend, *frontWindow);
    ASSERT_TRUE(image.ok()) << image.error().localizedDescription.toStdString();
    EXPECT_EQ(std::pair(image.value().format(), image.value().size()),
        std::pair(QImage::Format_RGB32, frontWindow->frame.size().toSize()));
    X11CaptureBackend plain(session.display(), x11::SharedMemory::never);
    EXPECT_TRUE(backend.usesSharedMemory() && !plain.usesSharedMemory());
    // The terminal may still be drawing: the two agree once it is done.
    EXPECT_TRUE(runEventsUntil([&] {
        const CaptureResult<QImage> shared = capture(backend, *frontWindow), socket = capture(plain, *frontWindow);
        return shared.ok() && socket.ok() && shared.value() == socket.value();
    }));
}

TEST_F(X11CaptureBackendTest, AMinimisedWindowIsListedOffScreenAndItOrAClosedOneCannotBeCaptured)
{
    const quint32 xterm = session.launchXterm("To be minimised", "text\n");
    pid_t pid = 0;
    const quint32 closing = session.launchXterm("Closing", "bye\n", {}, &pid);
    ASSERT_TRUE(xterm && closing);
    ASSERT_EQ(session.run({ "xdotool", "windowminimize", QString::number(xterm) }), 0);

    X11CaptureBackend backend(session.display());
    const WindowDescription *window = nullptr;
    ShareableContent content;
    ASSERT_TRUE(runEventsUntil([&] {
        content = listWindows(backend);
        window = findWindow(content, xterm);
        return window && !window->isOnScreen;
    }));
    const CaptureResult<ShareableContent> onScreen = QCoro::waitFor(backend.getShareableContent(false, true));
    ASSERT_TRUE(onScreen.ok());
    EXPECT_EQ(findWindow(onScreen.value(), xterm), nullptr);
    EXPECT_NE(findWindow(onScreen.value(), closing), nullptr);
    const CaptureResult<QImage> image = capture(backend, *window);
    ASSERT_FALSE(image.ok());
    EXPECT_FALSE(image.error().localizedDescription.isEmpty());

    const WindowDescription closed = *findWindow(content, closing);
    session.kill(pid);
    ASSERT_TRUE(session.waitForWindowGone(closing));
    const CaptureResult<QImage> gone = capture(backend, closed);
    ASSERT_FALSE(gone.ok());
    EXPECT_TRUE(gone.error().localizedDescription.contains("no longer exists"))
        << gone.error().localizedDescription.toStdString();
    // The backend carries on with the windows that remain.
    EXPECT_TRUE(backend.isConnected());
    EXPECT_EQ(findWindow(listWindows(backend), closing), nullptr);
}

TEST(X11CaptureBackendWithoutServer, ReportsNoAccess)
{
    // A display number no server uses.
    X11CaptureBackend backend(":65000");
    EXPECT_FALSE(backend.preflightScreenCaptureAccess());
    const CaptureResult<ShareableContent> content = QCoro::waitFor(backend.getShareableContent());
    ASSERT_FALSE(content.ok());
    EXPECT_EQ(content.error().domain, QString::fromLatin1(screenCaptureErrorDomain));
    EXPECT_TRUE(content.error().localizedDescription.contains(":65000"));
}

} // namespace
} // namespace pellux
