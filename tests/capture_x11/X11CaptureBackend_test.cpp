#include "capture/DesktopEntryIndex.h"
#include "capture/x11/X11CaptureBackend.h"
#include "capture/x11/Xcb.h"
#include "support/XvfbSession.h"

#include <QCoro/QCoroTask>

using namespace pellux;

namespace {

using test::runEventsUntil;
using test::XvfbSession;

const WindowDescription *findWindow(const ShareableContent &content, quint32 id)
{
    const auto it = std::ranges::find(content.windows, id, &WindowDescription::windowID);
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
    return QCoro::waitFor(backend.captureImage(ContentFilter::desktopIndependentWindow(window), {}));
}

// A window made directly with xcb, for window types and title encodings no ordinary program creates.
class PlainWindow {
public:
    PlainWindow(const QString &display, const QByteArray &windowType, const QByteArray &netWmName,
        const QByteArray &wmName, const char *netWmNameType = "UTF8_STRING")
        : m_connection(display)
    {
        xcb_connection_t *c = m_connection.get();
        m_window = xcb_generate_id(c);
        const uint32_t values[] = { m_connection.screen()->white_pixel };
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, m_connection.root(), 200, 200, 300, 120, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, values);
        const auto set = [&](xcb_atom_t property, xcb_atom_t type, const QByteArray &data, uint8_t format = 8) {
            if (!data.isEmpty())
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, property, type, format,
                    uint32_t(data.size() * 8 / format), data.constData());
        };
        const xcb_atom_t type
            = windowType.isEmpty() ? xcb_atom_t(XCB_ATOM_NONE) : m_connection.atom(windowType.constData());
        set(m_connection.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
            type ? QByteArray(reinterpret_cast<const char *>(&type), 4) : QByteArray(), 32);
        set(m_connection.atom("_NET_WM_NAME"), m_connection.atom(netWmNameType), netWmName);
        set(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, wmName);
        set(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, QByteArray("plain\0Plain\0", 12));
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
    PlainWindow utf8Titled(session.display(), {}, "Grüße ✓", "fallback title");
    std::list<PlainWindow> special;
    for (const char *type : { "DOCK", "DESKTOP", "SPLASH", "NOTIFICATION", "MENU", "TOOLTIP" })
        special.emplace_back(session.display(), QByteArray("_NET_WM_WINDOW_TYPE_") + type, type, QByteArray());
    // Some programs write _NET_WM_NAME as a plain STRING; a request for UTF8_STRING then gets no data.
    PlainWindow legacy(session.display(), "_NET_WM_WINDOW_TYPE_NORMAL", "mistyped title", "legacy title", "STRING");
    // The window manager handles map requests in order: once the last window is managed, so are the others.
    ASSERT_TRUE(runEventsUntil([&] { return legacy.managed(); }));

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

    // No process id on these windows: named by their class, identified by their instance.
    for (const auto &[id, title] : { std::pair(utf8Titled.id(), "Grüße ✓"), { legacy.id(), "legacy title" } }) {
        const WindowDescription *plain = findWindow(content, id);
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(std::pair(plain->title, plain->owningApplication),
            std::pair(std::optional<QString>(title), std::optional(RunningApplication { "Plain", "plain", 0 })));
    }
    for (const PlainWindow &window : special)
        EXPECT_EQ(findWindow(content, window.id()), nullptr) << window.id();
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
    const WindowDescription *frontWindow = findWindow(content, front), *backWindow = findWindow(content, back);
    ASSERT_TRUE(frontWindow && backWindow);
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

TEST_F(X11CaptureBackendTest, AMinimisedOrClosedWindowCannotBeCapturedAndWithoutAServerThereIsNoAccess)
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
    EXPECT_TRUE(!image.ok() && !image.error().localizedDescription.isEmpty());

    const WindowDescription closed = *findWindow(content, closing);
    session.kill(pid);
    ASSERT_TRUE(session.waitForWindowGone(closing));
    const CaptureResult<QImage> gone = capture(backend, closed);
    EXPECT_TRUE(!gone.ok() && gone.error().localizedDescription.contains("no longer exists"));
    // The backend carries on with the windows that remain.
    EXPECT_TRUE(backend.isConnected());
    EXPECT_EQ(findWindow(listWindows(backend), closing), nullptr);

    // A display number no server uses.
    X11CaptureBackend serverless(":65000");
    EXPECT_FALSE(serverless.preflightScreenCaptureAccess());
    const CaptureResult<ShareableContent> none = QCoro::waitFor(serverless.getShareableContent());
    ASSERT_FALSE(none.ok());
    EXPECT_TRUE(none.error().domain == QString::fromLatin1(screenCaptureErrorDomain)
        && none.error().localizedDescription.contains(":65000"));
}

} // namespace
