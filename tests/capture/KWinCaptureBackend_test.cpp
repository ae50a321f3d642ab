// The KWin backend's failures against a stand-in for KWin on a private D-Bus daemon: the real
// window-list script runs in a JavaScript engine over a fake workspace and reports through real D-Bus
// calls (or never), and a fake ScreenShot2 answers captures the ways KWin can fail (a refusal, no
// answer at all, fewer bytes than announced). KWin itself, listing and capturing, is exercised by
// tests/wayland/kde.sh.
#if PELLUX_WAYLAND

#include "capture/wayland/kde/KWinCaptureBackend.h"

#include "support/LogCapture.h"
#include "support/PrivateBus.h"
#include "support/ServiceThread.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QImage>
#include <QJSEngine>

#include <gtest/gtest.h>
#include <qcorotask.h>

#include <csignal>
#include <thread>
#include <unistd.h>

namespace pellux::kwin {
namespace {

enum class CaptureBehaviour { pixels, refuse, neverAnswer, shortWrite };

struct FakeKWinConfig {
    bool onBus = true; // false: KWin is not running
    bool scriptReports = true;
    CaptureBehaviour capture = CaptureBehaviour::pixels;
};

const QString nilUuid = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
const QSize imageSize(800, 600); // larger than a pipe holds: the backend must read while KWin writes

QImage expectedImage()
{
    QImage image(imageSize, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, 200));
    return image;
}

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

// callDBus() of KWin's scripts: a call without waiting for its answer.
class CallBridge final : public QObject {
    Q_OBJECT
public:
    explicit CallBridge(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
    }
    Q_INVOKABLE void callDBus(const QString &service, const QString &path, const QString &interface,
        const QString &method, const QString &argument)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message << argument;
        m_bus.call(message, QDBus::NoBlock);
    }

private:
    QDBusConnection m_bus;
};

class FakeKWin;

class FakeScript final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Script")
public:
    FakeScript(FakeKWin &kwin, QString file)
        : m_kwin(kwin)
        , m_file(std::move(file))
    {
    }
public slots:
    void run();

private:
    FakeKWin &m_kwin;
    QString m_file;
};

class FakeScripting final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Scripting")
public:
    explicit FakeScripting(FakeKWin &kwin)
        : m_kwin(kwin)
    {
    }
public slots:
    int loadScript(const QString &path, const QString &pluginName);
    bool unloadScript(const QString &pluginName);

private:
    FakeKWin &m_kwin;
    QHash<QString, int> m_loaded;
    int m_next = 0;
};

class FakeScreenShot final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.KWin.ScreenShot2")
public:
    explicit FakeScreenShot(FakeKWin &kwin)
        : m_kwin(kwin)
    {
    }
public slots:
    QVariantMap CaptureWindow(const QString &handle, const QVariantMap &options, const QDBusUnixFileDescriptor &pipe);

private:
    FakeKWin &m_kwin;
};

// Answers on its own thread, as KWin lives in its own process: the backend's blocking probe must not
// stop it from answering.
class FakeKWin final {
public:
    explicit FakeKWin(FakeKWinConfig config)
        : config(config)
    {
    }
    ~FakeKWin()
    {
        for (std::thread &writer : writers)
            writer.join();
    }

    void open(QDBusConnection connection)
    {
        bus = std::make_unique<QDBusConnection>(std::move(connection));
        scripting = std::make_unique<FakeScripting>(*this);
        screenShot = std::make_unique<FakeScreenShot>(*this);
        bus->registerObject(QStringLiteral("/Scripting"), scripting.get(), QDBusConnection::ExportAllSlots);
        bus->registerObject(
            QStringLiteral("/org/kde/KWin/ScreenShot2"), screenShot.get(), QDBusConnection::ExportAllSlots);
        if (config.onBus)
            bus->registerService(QStringLiteral("org.kde.KWin"));
    }
    void close()
    {
        scripts.clear();
        scripting.reset();
        screenShot.reset();
        bus.reset();
    }

    void runScript(const QString &file)
    {
        QFile script(file);
        if (!config.scriptReports || !script.open(QIODevice::ReadOnly))
            return;
        ++scriptRuns;
        QJSEngine engine;
        CallBridge bridge(*bus);
        engine.globalObject().setProperty(QStringLiteral("bridge"), engine.newQObject(&bridge));
        engine.evaluate(QStringLiteral("function callDBus(s, p, i, m, a) { bridge.callDBus(s, p, i, m, a); }"));
        engine.evaluate(QString::fromLatin1(workspaceScript));
        const QJSValue result = engine.evaluate(QString::fromUtf8(script.readAll()));
        if (result.isError())
            qWarning("fake KWin: the script failed: %s", qPrintable(result.toString()));
        // The engine must not delete the bridge it did not make.
        QJSEngine::setObjectOwnership(&bridge, QJSEngine::CppOwnership);
    }

    const FakeKWinConfig config;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<FakeScripting> scripting;
    std::unique_ptr<FakeScreenShot> screenShot;
    std::map<int, std::unique_ptr<FakeScript>> scripts;
    std::vector<std::thread> writers;
    std::atomic<int> scriptRuns { 0 };
};

void FakeScript::run() { m_kwin.runScript(m_file); }

int FakeScripting::loadScript(const QString &path, const QString &pluginName)
{
    if (m_loaded.contains(pluginName))
        return -1;
    const int id = m_next++;
    m_loaded.insert(pluginName, id);
    auto script = std::make_unique<FakeScript>(m_kwin, path);
    // KWin 5.27's place for a loaded script.
    m_kwin.bus->registerObject(QStringLiteral("/%1").arg(id), script.get(), QDBusConnection::ExportAllSlots);
    m_kwin.scripts[id] = std::move(script);
    return id;
}

bool FakeScripting::unloadScript(const QString &pluginName)
{
    if (!m_loaded.contains(pluginName))
        return false;
    const int id = m_loaded.take(pluginName);
    m_kwin.bus->unregisterObject(QStringLiteral("/%1").arg(id));
    m_kwin.scripts.erase(id);
    return true;
}

QVariantMap FakeScreenShot::CaptureWindow(
    const QString &handle, const QVariantMap &, const QDBusUnixFileDescriptor &pipe)
{
    const CaptureBehaviour behaviour = m_kwin.config.capture;
    // KWin checks the caller before the window.
    if (behaviour == CaptureBehaviour::refuse) {
        sendErrorReply(QStringLiteral("org.kde.KWin.ScreenShot2.Error.NoAuthorized"),
            QStringLiteral("The process is not authorized to take a screenshot"));
        return {};
    }
    if (handle == nilUuid || !handle.startsWith(QLatin1String("{aaaaaaaa"))) {
        sendErrorReply(
            QStringLiteral("org.kde.KWin.ScreenShot2.Error.InvalidWindow"), QStringLiteral("Invalid window requested"));
        return {};
    }
    if (behaviour == CaptureBehaviour::neverAnswer) {
        // What KWin does for a window it does not draw.
        setDelayedReply(true);
        return {};
    }
    const QImage image = expectedImage();
    QByteArray bytes(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
    if (behaviour == CaptureBehaviour::shortWrite)
        bytes.truncate(bytes.size() / 3);
    const int fd = ::dup(pipe.fileDescriptor());
    m_kwin.writers.emplace_back([fd, bytes] {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::close(fd);
    });
    return { { "type", "raw" }, { "format", quint32(image.format()) }, { "width", quint32(image.width()) },
        { "height", quint32(image.height()) }, { "stride", quint32(image.bytesPerLine()) }, { "scale", 1.0 },
        { "windowId", handle } };
}

// A private bus daemon with the fake KWin on it, and a connection for the backend.
class FakeKWinSession {
public:
    explicit FakeKWinSession(FakeKWinConfig config = {})
        : m_kwin(config)
    {
        // A writer whose reader has gone gets EPIPE rather than ending the test.
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~FakeKWinSession() { QDBusConnection::disconnectFromBus(QStringLiteral("pellux-backend")); }

    bool isRunning() const { return !m_bus.address().isEmpty(); }
    QDBusConnection backendBus() const
    {
        return QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("pellux-backend"));
    }
    int scriptRuns() const { return m_kwin.scriptRuns; }

private:
    test::PrivateBus m_bus;
    FakeKWin m_kwin;
    test::ServiceThread m_services { m_bus.address(), [this](QDBusConnection bus) { m_kwin.open(std::move(bus)); },
        [this] { m_kwin.close(); } };
};

TEST(KWinCaptureBackend, ARefusalListsNothingAndSaysWhichDesktopFileIsNeeded)
{
    FakeKWinSession kwin({ .capture = CaptureBehaviour::refuse });
    ASSERT_TRUE(kwin.isRunning());
    test::LogCapture log;
    KWinCaptureBackend backend(kwin.backendBus());
    EXPECT_FALSE(backend.preflightScreenCaptureAccess());
    const auto content = QCoro::waitFor(backend.getShareableContent());
    ASSERT_FALSE(content.ok());
    EXPECT_EQ(content.error().domain, screenCaptureErrorDomain);
    EXPECT_TRUE(content.error().localizedDescription.contains("share/applications/pellux.desktop"));
    EXPECT_TRUE(
        content.error().localizedDescription.contains("X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2"));
    // Said once, not on every cycle.
    EXPECT_EQ(log.linesStartingWith("ERROR KWinCaptureBackend: KWin refuses").size(), 1) << log.text().toStdString();
    EXPECT_EQ(kwin.scriptRuns(), 0);
}

TEST(KWinCaptureBackend, AbsentKWinIsAnErrorNotAHang)
{
    FakeKWinSession kwin({ .onBus = false });
    ASSERT_TRUE(kwin.isRunning());
    KWinCaptureBackend backend(kwin.backendBus());
    EXPECT_FALSE(backend.preflightScreenCaptureAccess());
    const auto content = QCoro::waitFor(backend.getShareableContent());
    ASSERT_FALSE(content.ok());
    EXPECT_EQ(content.error().domain, screenCaptureErrorDomain);
}

struct FailedCaptureCase {
    const char *name;
    FakeKWinConfig config;
    const char *listingError; // part of the listing's error, or nullptr when listing works
    const char *captureError; // part of the capture's error
};

class KWinFailedCaptureTest : public ::testing::TestWithParam<FailedCaptureCase> { };

TEST_P(KWinFailedCaptureTest, EndsInAnError)
{
    const FailedCaptureCase &c = GetParam();
    FakeKWinSession kwin(c.config);
    ASSERT_TRUE(kwin.isRunning());
    KWinCaptureBackend backend(kwin.backendBus());
    const auto content = QCoro::waitFor(backend.getShareableContent());
    if (c.listingError) {
        ASSERT_FALSE(content.ok());
        EXPECT_TRUE(content.error().localizedDescription.contains(c.listingError))
            << content.error().localizedDescription.toStdString();
        return;
    }
    ASSERT_TRUE(content.ok());
    const auto image = QCoro::waitFor(
        backend.captureImage(ContentFilter::desktopIndependentWindow(content.value().windows.front()), {}));
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().domain, captureFailureDomain);
    EXPECT_TRUE(image.error().localizedDescription.contains(c.captureError))
        << image.error().localizedDescription.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Failures, KWinFailedCaptureTest,
    ::testing::Values(
        FailedCaptureCase { "script_never_reports", { .scriptReports = false }, "did not report", nullptr },
        FailedCaptureCase {
            "capture_never_answered", { .capture = CaptureBehaviour::neverAnswer }, nullptr, "did not answer" },
        FailedCaptureCase {
            "pipe_closed_early", { .capture = CaptureBehaviour::shortWrite }, nullptr, "bytes arrived" }),
    [](const ::testing::TestParamInfo<FailedCaptureCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace pellux::kwin

#include "KWinCaptureBackend_test.moc"

#endif
