// The KWin backend's failures against a stand-in for KWin on a private D-Bus daemon: the real
// window-list script runs in a JavaScript engine over a fake workspace and reports through real D-Bus
// calls (or never), and a fake ScreenShot2 answers captures the ways KWin can fail (a refusal, no
// answer at all). KWin itself, listing and capturing, is exercised by tests/wayland/kde.sh.
#if PELLUX_WAYLAND

#include "capture/wayland/kde/KWinCaptureBackend.h"

#include "support/PrivateBus.h"
#include "support/ServiceThread.h"
#include "support/TestFiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QJSEngine>

#include <qcorotask.h>

namespace pellux::kwin {
namespace {

// Captures that succeed, pixels included, are the KDE desktop test's: here KWin fails them.
enum class CaptureBehaviour { invalidWindow, refuse, neverAnswer };

struct FakeKWinConfig {
    bool onBus = true; // false: KWin is not running
    bool scriptReports = true;
    CaptureBehaviour capture = CaptureBehaviour::invalidWindow;
};

const QString nilUuid = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
// KWin 5.27's scripting API as the script sees it: Alpha under Bravo, a minimised window and a panel.
constexpr char workspaceScript[] = R"JS(
    function win(id, caption, order, extra) {
        var w = { internalId: id, caption: caption, resourceClass: "zenity", resourceName: "zenity",
                  desktopFileName: "zenity", pid: 4242, stackingOrder: order, desktop: 1, onAllDesktops: false,
                  minimized: false, normalWindow: true,
                  frameGeometry: { x: 100 + 20 * order, y: 100, width: 800, height: 600 } };
        for (var k in extra) w[k] = extra[k];
        return w;
    }
    var workspace = { currentDesktop: 1, virtualScreenGeometry: { x: 0, y: 0, width: 1920, height: 1080 },
        clientList: function () { return [
            win("{aaaaaaaa-0000-0000-0000-000000000001}", "Alpha", 1, {}),
            win("{aaaaaaaa-0000-0000-0000-000000000002}", "Bravo", 2, {}),
            win("{aaaaaaaa-0000-0000-0000-000000000003}", "Hidden", 0, { minimized: true }),
            win("{aaaaaaaa-0000-0000-0000-000000000004}", "Panel", 9, { dock: true, normalWindow: false }) ]; } };
)JS";

// KWin's scripting and ScreenShot2 objects, on the services' thread: scripts are loaded, run over
// the fake workspace (their callDBus() calls made without waiting for answers, as KWin makes them)
// and unloaded; captures are answered the ways KWin can fail.
class KWinObjects final : public QDBusVirtualObject {
public:
    KWinObjects(const FakeKWinConfig &config, std::atomic<int> &scriptRuns)
        : m_config(config)
        , m_scriptRuns(scriptRuns)
    {
    }
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        if (member == "loadScript") {
            m_scripts.push_back(message.arguments().value(0).toString());
            return connection.send(message.createReply(int(m_scripts.size() - 1)));
        }
        if (member == "unloadScript")
            return connection.send(message.createReply(true));
        if (member == "run") {
            if (m_config.scriptReports)
                runScript(m_scripts.back(), connection);
            return connection.send(message.createReply());
        }
        return member == "CaptureWindow" && capture(message, connection);
    }

private:
    void runScript(const QString &file, const QDBusConnection &bus)
    {
        ++m_scriptRuns;
        QJSEngine engine;
        engine.evaluate("var calls = []; function callDBus() { calls.push([].slice.call(arguments)); }");
        engine.evaluate(QString::fromLatin1(workspaceScript));
        const QJSValue result = engine.evaluate(QString::fromUtf8(test::readAll(file)));
        if (result.isError())
            qWarning("fake KWin: the script failed: %s", qPrintable(result.toString()));
        for (const QVariant &call : engine.evaluate("calls").toVariant().toList()) {
            const QStringList a = call.toStringList();
            bus.call(QDBusMessage::createMethodCall(a.value(0), a.value(1), a.value(2), a.value(3)) << a.value(4),
                QDBus::NoBlock);
        }
    }

    bool capture(const QDBusMessage &message, const QDBusConnection &bus)
    {
        // KWin checks the caller before the window.
        if (m_config.capture == CaptureBehaviour::refuse)
            return bus.send(message.createErrorReply(
                "org.kde.KWin.ScreenShot2.Error.NoAuthorized", "The process is not authorized to take a screenshot"));
        // No answer at all is what KWin does for a window it does not draw.
        return (m_config.capture == CaptureBehaviour::neverAnswer && message.arguments().value(0) != nilUuid)
            || bus.send(
                message.createErrorReply("org.kde.KWin.ScreenShot2.Error.InvalidWindow", "Invalid window requested"));
    }

    const FakeKWinConfig &m_config;
    std::atomic<int> &m_scriptRuns;
    QStringList m_scripts;
};

// KWin on a private bus daemon, answering on its own thread as KWin lives in its own process: the
// backend's blocking probe must not stop it from answering.
class FakeKWin final {
public:
    explicit FakeKWin(FakeKWinConfig config = {})
        : config(config)
    {
    }
    ~FakeKWin() { QDBusConnection::disconnectFromBus("pellux-backend"); }
    QDBusConnection backendBus() const { return QDBusConnection::connectToBus(daemon.address(), "pellux-backend"); }

    const FakeKWinConfig config;
    std::atomic<int> scriptRuns { 0 };
    std::unique_ptr<KWinObjects> objects;
    test::PrivateBus daemon;
    test::ServiceThread services { daemon.address(),
        [this](QDBusConnection bus) {
            objects = std::make_unique<KWinObjects>(config, scriptRuns);
            bus.registerVirtualObject("/", objects.get(), QDBusConnection::SubPath);
            if (config.onBus)
                bus.registerService("org.kde.KWin");
        },
        [this] { objects.reset(); } };
};

// Each way a working KWin can fail ends in an error: the listing's, or the capture's of a listed window.
TEST(KWinCaptureBackend, AFailureEndsInAnErrorNotAHangAndARefusalOrAnAbsentKWinListsNothing)
{
    const struct {
        const char *name;
        FakeKWinConfig config;
        const char *listingError; // part of the listing's error, or nullptr when listing works
        const char *captureError = nullptr; // part of the capture's error
    } cases[] = {
        { "the script never reports", { .scriptReports = false }, "did not report" },
        { "a capture never answered", { .capture = CaptureBehaviour::neverAnswer }, nullptr, "did not answer" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeKWin kwin(c.config);
        ASSERT_FALSE(kwin.daemon.address().isEmpty());
        KWinCaptureBackend backend(kwin.backendBus());
        const auto content = QCoro::waitFor(backend.getShareableContent());
        ASSERT_EQ(content.ok(), !c.listingError);
        const CaptureError error = content.ok()
            ? QCoro::waitFor(
                backend.captureImage(ContentFilter::desktopIndependentWindow(content.value().windows.front()), {}))
                  .error()
            : content.error();
        EXPECT_EQ(error.domain, captureFailureDomain);
        EXPECT_TRUE(error.localizedDescription.contains(c.listingError ? c.listingError : c.captureError))
            << error.localizedDescription.toStdString();
    }

    // Without access, and without KWin, nothing is listed; a refusal says which desktop file is needed,
    // once, not on every cycle.
    for (const FakeKWinConfig config :
        { FakeKWinConfig { .capture = CaptureBehaviour::refuse }, FakeKWinConfig { .onBus = false } }) {
        FakeKWin kwin(config);
        test::LogCapture log;
        KWinCaptureBackend backend(kwin.backendBus());
        EXPECT_FALSE(backend.preflightScreenCaptureAccess());
        const auto content = QCoro::waitFor(backend.getShareableContent());
        ASSERT_FALSE(content.ok());
        EXPECT_EQ(
            std::pair(content.error().domain, kwin.scriptRuns.load()), std::pair(QString(screenCaptureErrorDomain), 0));
        const QString &reason = content.error().localizedDescription;
        EXPECT_TRUE(!config.onBus
            || (reason.contains("share/applications/pellux.desktop")
                && reason.contains("X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2")
                && log.linesStartingWith("ERROR KWinCaptureBackend: KWin refuses").size() == 1))
            << log.text().toStdString();
    }
}

} // namespace
} // namespace pellux::kwin

#endif
