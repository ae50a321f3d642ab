// The KWin backend's failures against a stand-in for KWin on a private D-Bus daemon: the real
// window-list script runs in a JavaScript engine over a fake workspace and reports through real D-Bus
// calls (or never), and a fake ScreenShot2 answers captures the ways KWin can fail (a refusal, no
// answer at all, fewer bytes than announced). KWin itself, listing and capturing, is exercised by
// tests/wayland/kde.sh.
#if PELLUX_WAYLAND

#include "capture/wayland/kde/KWinCaptureBackend.h"

#include "support/PrivateBus.h"
#include "support/ServiceThread.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QJSEngine>

#include <qcorotask.h>

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

class FakeKWin;

// A script KWin loaded, run over D-Bus at KWin 5.27's place for it.
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
    bool unloadScript(const QString &) { return true; }

private:
    FakeKWin &m_kwin;
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

// KWin on a private bus daemon, answering on its own thread as KWin lives in its own process: the
// backend's blocking probe must not stop it from answering.
class FakeKWin final {
public:
    explicit FakeKWin(FakeKWinConfig config = {})
        : config(config)
    {
        // A writer whose reader has gone gets EPIPE rather than ending the test.
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~FakeKWin()
    {
        for (std::thread &writer : writers)
            writer.join();
        QDBusConnection::disconnectFromBus(QStringLiteral("pellux-backend"));
    }

    QDBusConnection backendBus() const
    {
        return QDBusConnection::connectToBus(daemon.address(), QStringLiteral("pellux-backend"));
    }

    // The script runs over the fake workspace; its callDBus() calls are made without waiting for
    // their answers, as KWin makes them.
    void runScript(const QString &file)
    {
        QFile script(file);
        if (!config.scriptReports || !script.open(QIODevice::ReadOnly))
            return;
        ++scriptRuns;
        QJSEngine engine;
        engine.evaluate(
            QStringLiteral("var calls = []; function callDBus() { calls.push([].slice.call(arguments)); }"));
        engine.evaluate(QString::fromLatin1(workspaceScript));
        const QJSValue result = engine.evaluate(QString::fromUtf8(script.readAll()));
        if (result.isError())
            qWarning("fake KWin: the script failed: %s", qPrintable(result.toString()));
        for (const QVariant &call : engine.evaluate(QStringLiteral("calls")).toVariant().toList()) {
            const QStringList a = call.toStringList();
            QDBusMessage message = QDBusMessage::createMethodCall(a.value(0), a.value(1), a.value(2), a.value(3));
            bus->call(message << a.value(4), QDBus::NoBlock);
        }
    }

    const FakeKWinConfig config;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<FakeScripting> scripting;
    std::unique_ptr<FakeScreenShot> screenShot;
    std::vector<std::unique_ptr<FakeScript>> scripts;
    std::vector<std::thread> writers;
    std::atomic<int> scriptRuns { 0 };
    test::PrivateBus daemon;
    test::ServiceThread services { daemon.address(),
        [this](QDBusConnection connection) {
            bus = std::make_unique<QDBusConnection>(std::move(connection));
            scripting = std::make_unique<FakeScripting>(*this);
            screenShot = std::make_unique<FakeScreenShot>(*this);
            bus->registerObject(QStringLiteral("/Scripting"), scripting.get(), QDBusConnection::ExportAllSlots);
            bus->registerObject(
                QStringLiteral("/org/kde/KWin/ScreenShot2"), screenShot.get(), QDBusConnection::ExportAllSlots);
            if (config.onBus)
                bus->registerService(QStringLiteral("org.kde.KWin"));
        },
        [this] {
            scripts.clear();
            scripting.reset();
            screenShot.reset();
            bus.reset();
        } };
};

void FakeScript::run() { m_kwin.runScript(m_file); }

int FakeScripting::loadScript(const QString &path, const QString &)
{
    const int id = int(m_kwin.scripts.size());
    m_kwin.scripts.push_back(std::make_unique<FakeScript>(m_kwin, path));
    m_kwin.bus->registerObject(
        QStringLiteral("/%1").arg(id), m_kwin.scripts.back().get(), QDBusConnection::ExportAllSlots);
    return id;
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

// Each way a working KWin can fail ends in an error: the listing's, or the capture's of a listed window.
TEST(KWinCaptureBackend, AFailureEndsInAnErrorNotAHang)
{
    const struct {
        const char *name;
        FakeKWinConfig config;
        const char *listingError; // part of the listing's error, or nullptr when listing works
        const char *captureError = nullptr; // part of the capture's error
    } cases[] = {
        { "the script never reports", { .scriptReports = false }, "did not report" },
        { "a capture never answered", { .capture = CaptureBehaviour::neverAnswer }, nullptr, "did not answer" },
        { "the pipe closed early", { .capture = CaptureBehaviour::shortWrite }, nullptr, "bytes arrived" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeKWin kwin(c.config);
        ASSERT_FALSE(kwin.daemon.address().isEmpty());
        KWinCaptureBackend backend(kwin.backendBus());
        const auto content = QCoro::waitFor(backend.getShareableContent());
        if (c.listingError) {
            ASSERT_FALSE(content.ok());
            EXPECT_TRUE(content.error().localizedDescription.contains(c.listingError))
                << content.error().localizedDescription.toStdString();
            continue;
        }
        ASSERT_TRUE(content.ok());
        const auto image = QCoro::waitFor(
            backend.captureImage(ContentFilter::desktopIndependentWindow(content.value().windows.front()), {}));
        ASSERT_FALSE(image.ok());
        EXPECT_EQ(image.error().domain, captureFailureDomain);
        EXPECT_TRUE(image.error().localizedDescription.contains(c.captureError))
            << image.error().localizedDescription.toStdString();
    }
}

// Without access, and without KWin, nothing is listed; a refusal says which desktop file is needed,
// once, not on every cycle.
TEST(KWinCaptureBackend, ARefusalOrAnAbsentKWinListsNothing)
{
    for (const FakeKWinConfig config :
        { FakeKWinConfig { .capture = CaptureBehaviour::refuse }, FakeKWinConfig { .onBus = false } }) {
        FakeKWin kwin(config);
        test::LogCapture log;
        KWinCaptureBackend backend(kwin.backendBus());
        EXPECT_FALSE(backend.preflightScreenCaptureAccess());
        const auto content = QCoro::waitFor(backend.getShareableContent());
        ASSERT_FALSE(content.ok());
        EXPECT_EQ(content.error().domain, screenCaptureErrorDomain);
        EXPECT_EQ(kwin.scriptRuns, 0);
        if (config.onBus) {
            EXPECT_TRUE(content.error().localizedDescription.contains("share/applications/pellux.desktop"));
            EXPECT_TRUE(content.error().localizedDescription.contains(
                "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2"));
            EXPECT_EQ(log.linesStartingWith("ERROR KWinCaptureBackend: KWin refuses").size(), 1)
                << log.text().toStdString();
        }
    }
}

} // namespace
} // namespace pellux::kwin

#include "KWinCaptureBackend_test.moc"

#endif
