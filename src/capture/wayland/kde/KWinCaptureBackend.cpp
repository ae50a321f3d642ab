#include "capture/wayland/kde/KWinCaptureBackend.h"

#include "capture/wayland/kde/KWinScreenCast.h"
#include "capture/wayland/kde/KWinScreenShot.h"
#include "capture/wayland/kde/KWinWindowScript.h"
#include "capture/wayland/kde/PipeReader.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QCoroSignal>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pellux::kwin {

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");
const QString screenShotPath = QStringLiteral("/org/kde/KWin/ScreenShot2");
const QString screenShotInterface = QStringLiteral("org.kde.KWin.ScreenShot2");
const QString scriptingPath = QStringLiteral("/Scripting");
const QString scriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
const QString scriptInterface = QStringLiteral("org.kde.kwin.Script");
const QString reportInterface = QStringLiteral("org.pellux.KWinWindowReport");

// KWin answers these within milliseconds; the limits only keep a hung compositor from hanging Pellux.
constexpr int call_ms = 2000;
// How long the window-list script may take to report after it was started.
constexpr std::chrono::milliseconds report_timeout { 2000 };
// A minimised window, or one on another desktop, is not drawn and KWin never answers its capture.
constexpr int captureReply_ms = 2000;
// After the reply: a 4K window is 33 MB through the pipe.
constexpr std::chrono::milliseconds pixels_timeout { 5000 };
// KWin draws a new window stream's first frame within tens of milliseconds; should that one be lost,
// the next comes only once the window changes, which the capture does not wait for.
constexpr std::chrono::milliseconds firstFrameTimeout { 300 };
// A kept stream holds its newest frame; this only bounds one that stopped delivering.
constexpr std::chrono::milliseconds frameTimeout { 2000 };
constexpr int maxCastFailuresInARow = 3;
// How long a probe of ScreenShot2's authorisation is trusted.
constexpr qint64 accessMaxAge_ms = 3000;
// Installed applications change rarely; look again after this long.
constexpr qint64 desktopEntriesMaxAge_ms = 5 * 60 * 1000;

QString errorText(const QDBusMessage &reply)
{
    return QStringLiteral("%1: %2").arg(reply.errorName(), reply.errorMessage());
}

bool isRefusal(const QString &errorName)
{
    return errorName.contains(QLatin1String("NoAuthorized")) || errorName.contains(QLatin1String("NotAuthorized"))
        || errorName == QLatin1String("org.freedesktop.DBus.Error.AccessDenied");
}

// The program KWin looks for in the desktop files: the executable of this process (/proc/self/exe).
QString executablePath() { return QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath(); }

QString refusalAdvice()
{
    const QString exe = executablePath();
    const QString desktopFile
        = QDir::cleanPath(QFileInfo(exe).absolutePath() + QStringLiteral("/../share/applications/pellux.desktop"));
    return QStringLiteral(
        "KWin lets only programs named by an installed desktop file take screenshots: %1 must contain "
        "\"Exec=%2\" and \"X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\" (cmake --install "
        "writes it), and KDE must have read it (run kbuildsycoca5, or kbuildsycoca6 on Plasma 6)")
        .arg(desktopFile, exe);
}

QDBusMessage captureWindowMessage(const QString &uuid, int writeFd)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        kwinService, screenShotPath, screenShotInterface, QStringLiteral("CaptureWindow"));
    const QVariantMap options {
        { QStringLiteral("include-cursor"), false },
        { QStringLiteral("include-decoration"), false },
        { QStringLiteral("include-shadow"), false },
        { QStringLiteral("native-resolution"), true },
    };
    message << uuid << options << QVariant::fromValue(QDBusUnixFileDescriptor(writeFd));
    return message;
}

// No window has the nil uuid; see screenShotAccessFromProbe.
const QString probeUuid = QStringLiteral("{00000000-0000-0000-0000-000000000000}");

struct Pipe {
    int read = -1;
    int write = -1;
    int error = 0;
};

Pipe makePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == -1)
        return Pipe { -1, -1, errno };
    return Pipe { fds[0], fds[1], 0 };
}

int instanceCounter = 0;

// The window's pixels are at the top left of a stream buffer larger than its client area.
QImage croppedToClientArea(QImage image, QSize clientArea)
{
    if (clientArea.isEmpty() || (image.width() <= clientArea.width() && image.height() <= clientArea.height()))
        return image;
    return image.copy(0, 0, qMin(image.width(), clientArea.width()), qMin(image.height(), clientArea.height()));
}

} // namespace

ScreenShotAccess screenShotAccessFromProbe(const QString &errorName)
{
    if (errorName.isEmpty() || errorName == QLatin1String("org.kde.KWin.ScreenShot2.Error.InvalidWindow"))
        return ScreenShotAccess::granted;
    if (isRefusal(errorName))
        return ScreenShotAccess::refused;
    return ScreenShotAccess::unavailable;
}

void WindowReportReceiver::clear()
{
    m_hasReport = false;
    m_json.clear();
    m_sender.clear();
}

void WindowReportReceiver::Report(const QString &json)
{
    m_json = json;
    m_sender = calledFromDBus() ? message().service() : QString();
    m_hasReport = true;
    emit reported();
}

KWinCaptureBackend::KWinCaptureBackend(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(options)
    , m_casts(options.maxKeptStreams)
{
    const int instance = instanceCounter++;
    const qint64 pid = QCoreApplication::applicationPid();
    m_reportPath = QStringLiteral("/org/pellux/KWinWindowReport/%1").arg(instance);
    m_pluginName = QStringLiteral("pellux-windows-%1-%2").arg(pid).arg(instance);
    m_scriptPath = QStringLiteral("%1/pellux-kwin-windows-%2-%3.js")
                       .arg(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                       .arg(pid)
                       .arg(instance);
    if (!m_bus.isConnected())
        log::failure(QStringLiteral("ERROR KWinCaptureBackend: no session bus: %1").arg(m_bus.lastError().message()));
    else if (!m_bus.registerObject(m_reportPath, &m_receiver, QDBusConnection::ExportScriptableSlots))
        log::failure(QStringLiteral("ERROR KWinCaptureBackend: cannot export %1 on the session bus: %2")
                         .arg(m_reportPath, m_bus.lastError().message()));
}

KWinCaptureBackend::~KWinCaptureBackend()
{
    // Before the screencast connection they were made on.
    m_casts.clear();
    QFile::remove(m_scriptPath);
    if (QCoreApplication::instance() && m_bus.isConnected())
        m_bus.unregisterObject(m_reportPath);
}

const DesktopEntryIndex &KWinCaptureBackend::desktopEntries()
{
    if (!m_desktopEntries || m_desktopEntriesAge.elapsed() > desktopEntriesMaxAge_ms) {
        m_desktopEntries = std::make_unique<DesktopEntryIndex>();
        m_desktopEntriesAge.start();
    }
    return *m_desktopEntries;
}

bool KWinCaptureBackend::accessIsFresh() const
{
    return m_access != ScreenShotAccess::unknown && m_accessAge.isValid() && m_accessAge.elapsed() < accessMaxAge_ms;
}

CaptureError KWinCaptureBackend::accessError() const
{
    if (m_access == ScreenShotAccess::refused)
        return CaptureError { QString::fromLatin1(screenCaptureErrorDomain),
            QStringLiteral("KWin refuses Pellux's screenshots (%1). %2").arg(m_accessDetail, refusalAdvice()) };
    return CaptureError { QString::fromLatin1(screenCaptureErrorDomain),
        QStringLiteral("KWin's screenshot interface does not answer on the session bus (%1)").arg(m_accessDetail) };
}

void KWinCaptureBackend::noteAccess(ScreenShotAccess access, const QString &detail)
{
    const bool changed = access != m_access;
    m_access = access;
    m_accessDetail = detail;
    m_accessAge.start();
    if (!changed)
        return;
    switch (access) {
    case ScreenShotAccess::refused:
        log::failure(QStringLiteral("ERROR KWinCaptureBackend: KWin refuses Pellux's screenshots (%1). %2")
                         .arg(detail, refusalAdvice()));
        break;
    case ScreenShotAccess::unavailable:
        log::failure(
            QStringLiteral("ERROR KWinCaptureBackend: KWin's screenshot interface does not answer (%1)").arg(detail));
        break;
    case ScreenShotAccess::granted:
        log::debug(QStringLiteral("DEBUG KWinCaptureBackend: KWin allows Pellux's screenshots"));
        break;
    case ScreenShotAccess::unknown:
        break;
    }
}

ScreenShotAccess KWinCaptureBackend::probeAccessNow()
{
    const Pipe pipe = makePipe();
    if (pipe.error) {
        noteAccess(ScreenShotAccess::unavailable, QStringLiteral("no pipe: %1").arg(strerror(pipe.error)));
        return m_access;
    }
    QDBusMessage reply = m_bus.call(captureWindowMessage(probeUuid, pipe.write), QDBus::Block, call_ms);
    ::close(pipe.write);
    ::close(pipe.read);
    const bool failed = reply.type() == QDBusMessage::ErrorMessage;
    noteAccess(
        screenShotAccessFromProbe(failed ? reply.errorName() : QString()), failed ? errorText(reply) : QString());
    return m_access;
}

QCoro::Task<ScreenShotAccess> KWinCaptureBackend::probeAccess()
{
    const Pipe pipe = makePipe();
    if (pipe.error) {
        noteAccess(ScreenShotAccess::unavailable, QStringLiteral("no pipe: %1").arg(strerror(pipe.error)));
        co_return m_access;
    }
    QDBusPendingCall call = m_bus.asyncCall(captureWindowMessage(probeUuid, pipe.write), call_ms);
    ::close(pipe.write);
    const QDBusMessage reply = co_await call;
    ::close(pipe.read);
    const bool failed = reply.type() == QDBusMessage::ErrorMessage;
    noteAccess(
        screenShotAccessFromProbe(failed ? reply.errorName() : QString()), failed ? errorText(reply) : QString());
    co_return m_access;
}

bool KWinCaptureBackend::preflightScreenCaptureAccess()
{
    if (!accessIsFresh())
        probeAccessNow();
    return m_access == ScreenShotAccess::granted;
}

void KWinCaptureBackend::requestScreenCaptureAccess()
{
    // KWin has no prompt for this: access comes from the installed desktop file alone.
    if (!preflightScreenCaptureAccess())
        log::info(QStringLiteral("KWinCaptureBackend: %1").arg(refusalAdvice()));
}

bool KWinCaptureBackend::ensureScript()
{
    if (QFileInfo::exists(m_scriptPath))
        return true;
    QString error;
    // The script names Pellux's bus connection, which lives as long as this process.
    const QByteArray script
        = windowListScript(m_bus.baseService(), m_reportPath, reportInterface, QStringLiteral("Report"));
    if (!writePrivateFileAtomically(m_scriptPath, script, &error)) {
        log::failure(
            QStringLiteral("ERROR KWinCaptureBackend: cannot write the KWin script %1: %2").arg(m_scriptPath, error));
        return false;
    }
    return true;
}

QCoro::Task<CaptureResult<QString>> KWinCaptureBackend::runWindowScript()
{
    const auto unreachable = [](const QString &what) {
        return CaptureError { QString::fromLatin1(screenCaptureErrorDomain), what };
    };
    const auto failed = [](const QString &what) {
        return CaptureError { QString::fromLatin1(captureFailureDomain), what };
    };
    if (!m_bus.isConnected())
        co_return unreachable(QStringLiteral("No session bus to reach KWin on"));
    if (!ensureScript())
        co_return failed(QStringLiteral("The KWin script could not be written to %1").arg(m_scriptPath));

    QElapsedTimer elapsed;
    elapsed.start();
    // The report must come from KWin itself: anyone on the bus could call the exported method.
    QDBusMessage getOwner = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetNameOwner"));
    getOwner << kwinService;
    const QDBusMessage owner = co_await m_bus.asyncCall(getOwner, call_ms);
    if (owner.type() == QDBusMessage::ErrorMessage)
        co_return unreachable(QStringLiteral("KWin is not on the session bus (%1)").arg(errorText(owner)));
    const QString kwinName = owner.arguments().value(0).toString();

    const auto scripting = [this](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(kwinService, scriptingPath, scriptingInterface, method);
        message.setArguments(arguments);
        return m_bus.asyncCall(message, call_ms);
    };
    m_receiver.clear();
    // Named, not braced in the co_await expressions: GCC 12 cannot keep an initializer list's
    // array across a suspension.
    const QVariantList loadArguments { m_scriptPath, m_pluginName };
    const QVariantList unloadArguments { m_pluginName };
    int scriptId = -1;
    for (int attempt = 0; attempt < 2 && scriptId < 0; ++attempt) {
        const QDBusMessage loaded = co_await scripting(QStringLiteral("loadScript"), loadArguments);
        if (loaded.type() == QDBusMessage::ErrorMessage)
            co_return unreachable(
                QStringLiteral("KWin did not load the window-list script (%1)").arg(errorText(loaded)));
        scriptId = loaded.arguments().value(0).toInt();
        // -1: a script of this name is still loaded (a listing that gave up waiting); unload it and retry.
        if (scriptId < 0)
            co_await scripting(QStringLiteral("unloadScript"), unloadArguments);
    }
    if (scriptId < 0)
        co_return failed(QStringLiteral("KWin refused to load the window-list script %1").arg(m_scriptPath));
    const qint64 loaded_ms = elapsed.elapsed();

    QList<ScriptObjectPaths> styles;
    styles << ScriptObjectPaths::plasma6 << ScriptObjectPaths::plasma5;
    if (m_scriptObjectPaths == ScriptObjectPaths::plasma5)
        styles.swapItemsAt(0, 1);
    QString runError;
    bool ran = false;
    for (ScriptObjectPaths style : styles) {
        const QString path = style == ScriptObjectPaths::plasma6 ? QStringLiteral("/Scripting/Script%1").arg(scriptId)
                                                                 : QStringLiteral("/%1").arg(scriptId);
        const QDBusMessage run = co_await m_bus.asyncCall(
            QDBusMessage::createMethodCall(kwinService, path, scriptInterface, QStringLiteral("run")), call_ms);
        if (run.type() != QDBusMessage::ErrorMessage) {
            m_scriptObjectPaths = style;
            ran = true;
            break;
        }
        runError = errorText(run);
        if (run.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownObject")
            && run.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
            break;
    }
    const qint64 ran_ms = elapsed.elapsed();
    if (ran && !m_receiver.hasReport())
        co_await qCoro(&m_receiver, &WindowReportReceiver::reported, report_timeout);
    // Unloaded whatever happened; the answer is not needed (a later load of the same name comes after
    // it on this connection).
    scripting(QStringLiteral("unloadScript"), unloadArguments);

    if (!ran)
        co_return failed(QStringLiteral("KWin did not run the window-list script (%1)").arg(runError));
    if (!m_receiver.hasReport())
        co_return failed(
            QStringLiteral("KWin's window-list script did not report within %1 ms").arg(report_timeout.count()));
    if (m_receiver.reportSender() != kwinName)
        co_return failed(
            QStringLiteral("A window list came from %1, not from KWin (%2)").arg(m_receiver.reportSender(), kwinName));
    log::debug(QStringLiteral("DEBUG KWinCaptureBackend: window list in %1 ms (loaded after %2 ms, ran after %3 ms)")
                   .arg(elapsed.elapsed())
                   .arg(loaded_ms)
                   .arg(ran_ms));
    co_return m_receiver.reportJson();
}

QCoro::Task<CaptureResult<ShareableContent>> KWinCaptureBackend::listWindows()
{
    if (m_listing) {
        // One listing at a time: a caller arriving meanwhile shares its result.
        co_await qCoro(this, &KWinCaptureBackend::listingFinished, std::chrono::seconds(10));
        co_return m_lastListing;
    }
    m_listing = true;
    const CaptureResult<QString> json = co_await runWindowScript();
    const DesktopEntryLookup lookup = [this](const QString &instance, const QString &windowClass) {
        return desktopEntries().idForWindowClass(instance, windowClass);
    };
    CaptureResult<ShareableContent> result = json
        ? parseWindowReport(json.value().toUtf8(), m_ids, lookup, &m_clientSizes)
        : CaptureResult<ShareableContent>(json.error());
    if (!result) {
        // Once per distinct failure: the capture cycle asks every few seconds.
        if (m_lastListing || m_lastListing.error().localizedDescription != result.error().localizedDescription)
            log::failure(QStringLiteral("ERROR KWinCaptureBackend: %1").arg(result.error().localizedDescription));
    } else {
        log::debug(QStringLiteral("DEBUG KWinCaptureBackend: %1 windows listed").arg(result.value().windows.size()));
        forgetClosedWindows(result.value());
    }
    m_lastListing = result;
    m_listing = false;
    emit listingFinished();
    co_return result;
}

QCoro::Task<CaptureResult<ShareableContent>> KWinCaptureBackend::shareableContent(bool, bool onScreenWindowsOnly)
{
    // Like a session without screen-recording permission, a refused program lists nothing: the
    // capture service then reports the permission problem instead of failing on every window.
    const ScreenShotAccess access = accessIsFresh() ? m_access : co_await probeAccess();
    if (access != ScreenShotAccess::granted)
        co_return accessError();
    // Made while the windows are listed: KWin takes a while to accept a new Wayland client.
    connectScreenCast();
    CaptureResult<ShareableContent> listed = co_await listWindows();
    if (!listed || !onScreenWindowsOnly)
        co_return listed;
    ShareableContent content;
    for (const WindowDescription &window : listed.value().windows) {
        if (!window.isOnScreen)
            continue;
        const std::optional<RunningApplication> &owner = window.owningApplication;
        if (owner
            && std::find(content.applications.begin(), content.applications.end(), *owner)
                == content.applications.end())
            content.applications.push_back(*owner);
        content.windows.push_back(window);
    }
    co_return content;
}

void KWinCaptureBackend::forgetClosedWindows(const ShareableContent &listed)
{
    QSet<QString> present;
    for (const WindowDescription &window : listed.windows)
        if (const std::optional<QString> uuid = m_ids.uuidFor(window.windowID))
            present.insert(*uuid);
    // KWin ends the stream of a window that closed; one that is only no longer listed ends here.
    m_casts.keepOnly([&present](const QString &uuid) { return present.contains(uuid); },
        [](const QString &uuid, const WindowCast &cast) {
            log::debug(QStringLiteral("DEBUG KWinCaptureBackend: the stream of window %1 ended with the window (%2)")
                           .arg(uuid, QLatin1String(cast.isAlive() ? "closed here" : "KWin had ended it")));
        });
    m_castFailed.intersect(present);
}

void KWinCaptureBackend::connectScreenCast()
{
    if (!m_options.useWindowStreams || m_screenCastConnection != ScreenCastConnection::notTried)
        return;
    m_screenCastConnection = ScreenCastConnection::connecting;
    // Runs on by itself; the backend hears of the result through its member and signal.
    connectScreenCastTask();
}

QCoro::Task<> KWinCaptureBackend::connectScreenCastTask()
{
    QPointer<KWinCaptureBackend> self(this);
    ScreenCastClient::Connected connected = co_await ScreenCastClient::connect();
    if (!self)
        co_return;
    m_screenCast = std::move(connected.client);
    m_screenCastConnection = ScreenCastConnection::done;
    if (!m_screenCast && m_loggedPath.isEmpty()) {
        m_loggedPath = connected.why;
        log::debug(
            QStringLiteral("DEBUG KWinCaptureBackend: capturing windows through ScreenShot2: %1").arg(connected.why));
    }
    emit screenCastConnectionFinished();
}

QCoro::Task<ScreenCastClient *> KWinCaptureBackend::screenCastClient()
{
    if (!m_options.useWindowStreams)
        co_return nullptr;
    connectScreenCast();
    if (m_screenCastConnection == ScreenCastConnection::connecting)
        co_await qCoro(this, &KWinCaptureBackend::screenCastConnectionFinished,
            std::chrono::milliseconds(ScreenCastClient::connectTimeout_ms + 1000));
    if (m_screenCast && !m_screenCast->isUsable()) {
        log::debug(QStringLiteral("DEBUG KWinCaptureBackend: capturing windows through ScreenShot2 from now on: "
                                  "window streams do not work here (%1)")
                       .arg(m_screenCast->unusableReason()));
        m_casts.clear();
        m_screenCast.reset();
    }
    if (m_screenCast && m_loggedPath.isEmpty()) {
        m_loggedPath = QStringLiteral("streams");
        log::debug(QStringLiteral("DEBUG KWinCaptureBackend: capturing windows through kept KWin window streams "
                                  "(zkde_screencast_unstable_v1 version %1 on \"%2\", PipeWire)")
                       .arg(m_screenCast->version())
                       .arg(m_screenCast->displayName()));
    }
    co_return m_screenCast.get();
}

size_t KWinCaptureBackend::deliveringStreams() const
{
    return size_t(m_casts.countIf([](const WindowCast &cast) { return cast.hasDelivered(); }));
}

QCoro::Task<std::optional<CaptureResult<QImage>>> KWinCaptureBackend::captureThroughStream(const QString &uuid)
{
    std::shared_ptr<WindowCast> cast = m_casts.use(uuid);
    if (cast && !cast->hasDelivered()) {
        // Still waiting for the window to change: no waiting here, the stream is asked again next time.
        CaptureResult<QImage> frame = co_await cast->frame(std::chrono::milliseconds(0));
        if (frame)
            co_return frame;
        if (cast->isAlive())
            co_return std::nullopt;
        m_casts.remove(uuid);
        cast.reset();
    }
    if (cast) {
        CaptureResult<QImage> frame = co_await cast->frame(frameTimeout);
        if (frame)
            co_return frame;
        // A stream that broke since the last capture is started again once.
        log::debug(QStringLiteral("DEBUG KWinCaptureBackend: kept stream of window %1 failed (%2); starting a new one")
                       .arg(uuid, frame.error().localizedDescription));
        m_casts.remove(uuid);
    }
    if (!co_await screenCastClient())
        co_return CaptureResult<QImage>(CaptureError { QString::fromLatin1(captureFailureDomain), m_loggedPath });
    auto started = co_await WindowCast::start(m_screenCast, uuid, m_options.maxFramesPerSecond);
    if (!started)
        co_return CaptureResult<QImage>(started.error());
    cast = std::move(started).value();
    CaptureResult<QImage> frame = co_await cast->frame(firstFrameTimeout);
    if (!frame && !cast->isAlive())
        co_return frame;
    m_casts.keep(uuid, std::move(cast));
    if (!frame)
        co_return std::nullopt;
    co_return frame;
}

QCoro::Task<CaptureResult<QImage>> KWinCaptureBackend::captureImage(
    const ContentFilter &filter, const StreamConfiguration &)
{
    const WindowDescription window = filter.window();
    const std::optional<QString> uuid = m_ids.uuidFor(window.windowID);
    if (!uuid)
        co_return CaptureError { QString::fromLatin1(captureFailureDomain),
            QStringLiteral("Cannot capture window %1 (\"%2\"): KWin no longer lists it")
                .arg(window.windowID)
                .arg(window.title.value_or(QString())) };
    if (!m_castFailed.contains(*uuid) && co_await screenCastClient()) {
        QElapsedTimer elapsed;
        elapsed.start();
        std::optional<CaptureResult<QImage>> streamed = co_await captureThroughStream(*uuid);
        if (streamed && *streamed) {
            m_castFailuresInARow = 0;
            const QSize clientArea = m_clientSizes.value(window.windowID);
            const QSize frameSize = streamed->value().size();
            // A window that grew no longer fits its stream's buffers: the next capture starts a new
            // stream. A pixel is allowed for the rounding of fractional geometry.
            if (!clientArea.isEmpty()
                && (frameSize.width() + 1 < clientArea.width() || frameSize.height() + 1 < clientArea.height()))
                m_casts.remove(*uuid);
            *streamed = croppedToClientArea(std::move(*streamed).value(), clientArea);
            log::debug(QStringLiteral("DEBUG KWinCaptureBackend: captured window %1 (%2×%3) from its stream in %4 ms")
                           .arg(window.windowID)
                           .arg(streamed->value().width())
                           .arg(streamed->value().height())
                           .arg(elapsed.elapsed()));
            co_return std::move(*streamed);
        }
        if (streamed) {
            m_castFailed.insert(*uuid);
            if (++m_castFailuresInARow >= maxCastFailuresInARow && m_screenCast)
                m_screenCast->markUnusable(QStringLiteral("the streams of %1 windows in a row failed, the last: %2")
                                               .arg(m_castFailuresInARow)
                                               .arg(streamed->error().localizedDescription));
            log::debug(QStringLiteral("DEBUG KWinCaptureBackend: no stream of window %1 (%2); ScreenShot2 captures it")
                           .arg(window.windowID)
                           .arg(streamed->error().localizedDescription));
        } else {
            log::debug(QStringLiteral("DEBUG KWinCaptureBackend: the stream of window %1 has sent no frame yet; "
                                      "ScreenShot2 captures it this time")
                           .arg(window.windowID));
        }
    }
    co_return co_await captureThroughScreenShot(window, *uuid);
}

QCoro::Task<CaptureResult<QImage>> KWinCaptureBackend::captureThroughScreenShot(
    const WindowDescription &window, const QString &uuid)
{
    const auto failed = [&window](const QString &why) {
        return CaptureError { QString::fromLatin1(captureFailureDomain),
            QStringLiteral("Cannot capture window %1 (\"%2\"): %3")
                .arg(window.windowID)
                .arg(window.title.value_or(QString()), why) };
    };
    if (!(m_bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        co_return failed(QStringLiteral("the session bus cannot pass file descriptors"));
    const Pipe pipe = makePipe();
    if (pipe.error)
        co_return failed(QStringLiteral("no pipe: %1").arg(strerror(pipe.error)));
    // A larger pipe means fewer wake-ups for a large window; the default size works too.
    ::fcntl(pipe.read, F_SETPIPE_SZ, 1 << 20);
    // Read from the start: KWin may fill the pipe before its reply is handled here.
    PipeReader reader(pipe.read);

    QElapsedTimer elapsed;
    elapsed.start();
    QDBusMessage reply;
    {
        // The pending call keeps the message it sent, and with it a copy of the write end: it must be
        // gone for the reader to see the end of the data when KWin closes its own copy early.
        QDBusPendingCall call = m_bus.asyncCall(captureWindowMessage(uuid, pipe.write), captureReply_ms);
        ::close(pipe.write);
        reply = co_await call;
    }
    const qint64 reply_ms = elapsed.elapsed();
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString name = reply.errorName();
        if (isRefusal(name)) {
            noteAccess(ScreenShotAccess::refused, errorText(reply));
            co_return accessError();
        }
        if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
            co_return failed(QStringLiteral("KWin did not answer within %1 ms (a minimised window, or one on another "
                                            "desktop, is not drawn)")
                                 .arg(captureReply_ms));
        if (name == QLatin1String("org.kde.KWin.ScreenShot2.Error.InvalidWindow"))
            co_return failed(QStringLiteral("the window has closed"));
        co_return failed(errorText(reply));
    }
    const QVariantMap attributes = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    const std::optional<qsizetype> expected = announcedByteCount(attributes);
    if (!expected) {
        const CaptureResult<QImage> invalid = decodeScreenShot(attributes, QByteArray());
        co_return failed(invalid.error().localizedDescription);
    }
    reader.expect(*expected);
    if (!reader.isFinished())
        co_await qCoro(&reader, &PipeReader::finished, pixels_timeout);
    if (!reader.isFinished())
        co_return failed(QStringLiteral("KWin sent %1 of %2 bytes within %3 ms")
                             .arg(reader.size())
                             .arg(*expected)
                             .arg(pixels_timeout.count()));
    if (reader.error())
        co_return failed(QStringLiteral("reading the pipe failed: %1").arg(strerror(reader.error())));
    CaptureResult<QImage> image = decodeScreenShot(attributes, reader.takeBytes());
    if (!image)
        co_return failed(image.error().localizedDescription);
    log::debug(
        QStringLiteral("DEBUG KWinCaptureBackend: captured window %1 (%2×%3) in %4 ms (KWin's reply after %5 ms)")
            .arg(window.windowID)
            .arg(image.value().width())
            .arg(image.value().height())
            .arg(elapsed.elapsed())
            .arg(reply_ms));
    co_return image;
}

} // namespace pellux::kwin
