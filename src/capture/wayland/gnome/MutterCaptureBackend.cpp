#include "capture/wayland/gnome/MutterCaptureBackend.h"

#include "capture/wayland/gnome/MutterScreenCast.h"
#include "runtime/Log.h"

#include <QCoro/QCoroDBusPendingCall>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QThread>

namespace pellux::wayland {

namespace {

const QString extensionBusName = QStringLiteral("app.pellux.Shell");
const QString extensionPath = QStringLiteral("/app/pellux/Shell");
const QString extensionInterface = QStringLiteral("app.pellux.Shell.Windows");
const QString shellService = QStringLiteral("org.gnome.Shell");
const QString shellPath = QStringLiteral("/org/gnome/Shell");
const QString shellExtensionsInterface = QStringLiteral("org.gnome.Shell.Extensions");
constexpr int shellCallTimeout_ms = 5000;
// The shell takes the extension's bus name a moment after enabling it.
constexpr int extensionStartTimeout_ms = 3000;
constexpr qint64 desktopEntriesMaxAge_ms = 5 * 60 * 1000;

// ExtensionState in the shell's extensionUtils.js.
enum ExtensionState { enabled = 1, disabled = 2, error = 3, outOfDate = 4, initialized = 6 };

CaptureError accessError(const QString &description)
{
    return CaptureError { QString::fromLatin1(screenCaptureErrorDomain), description };
}

CaptureError failure(const QString &description)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain), description };
}

// Mutter's buffer is as large as the monitor, the window's pixels at its top left. Mutter 43 states
// the window's region with each frame, in the buffer's pixels; without it the window's size from the
// list (in the stage's units, pixels at scale 1) is what is known.
QImage croppedToWindow(QImage image, const WindowRecording &recording, QSize window)
{
    if (recording.lastFrameCropped() || !window.isValid() || window.isEmpty())
        return image;
    if (image.width() <= window.width() && image.height() <= window.height())
        return image;
    return image.copy(0, 0, qMin(image.width(), window.width()), qMin(image.height(), window.height()));
}

} // namespace

MutterCaptureBackend::MutterCaptureBackend(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(options)
    , m_recordings(options.maxKeptRecordings)
{
}

MutterCaptureBackend::~MutterCaptureBackend() = default;

void MutterCaptureBackend::reportOnce(const QString &line)
{
    // Preflight runs after every cycle that found nothing: the same reason is logged once.
    if (line == m_lastReport)
        return;
    m_lastReport = line;
    log::failure(line);
}

bool MutterCaptureBackend::extensionAnswers() const
{
    const QDBusConnectionInterface *bus = m_bus.interface();
    return bus && bus->isServiceRegistered(extensionBusName).value();
}

bool MutterCaptureBackend::screenCastAvailable() const
{
    const QDBusConnectionInterface *bus = m_bus.interface();
    return bus && bus->isServiceRegistered(QStringLiteral("org.gnome.Mutter.ScreenCast")).value();
}

bool MutterCaptureBackend::ensureExtensionEnabled()
{
    if (extensionAnswers())
        return true;
    const QString uuid = QString::fromLatin1(shellExtensionUuid);
    QDBusMessage info = QDBusMessage::createMethodCall(
        shellService, shellPath, shellExtensionsInterface, QStringLiteral("GetExtensionInfo"));
    info.setArguments({ uuid });
    const QDBusMessage infoReply = m_bus.call(info, QDBus::Block, shellCallTimeout_ms);
    if (infoReply.type() == QDBusMessage::ErrorMessage) {
        reportOnce(QStringLiteral("ERROR MutterCaptureBackend: cannot ask GNOME Shell about Pellux's extension %1: %2")
                       .arg(uuid, infoReply.errorMessage()));
        return false;
    }
    const QVariantMap details = qdbus_cast<QVariantMap>(infoReply.arguments().value(0));
    if (details.isEmpty()) {
        reportOnce(QStringLiteral("ERROR MutterCaptureBackend: GNOME Shell does not know Pellux's extension %1: it "
                                  "is not installed in ~/.local/share/gnome-shell/extensions or the system's "
                                  "extensions folder, or was installed during this session (log out and back in)")
                       .arg(uuid));
        return false;
    }
    const int state = details.value(QStringLiteral("state")).toInt();
    if (state == ExtensionState::error || state == ExtensionState::outOfDate) {
        reportOnce(
            QStringLiteral("ERROR MutterCaptureBackend: GNOME Shell cannot run Pellux's extension %1: %2")
                .arg(uuid,
                    state == ExtensionState::outOfDate ? QStringLiteral("it does not support this version of the shell")
                                                       : details.value(QStringLiteral("error")).toString()));
        return false;
    }
    if (state != ExtensionState::enabled) {
        QDBusMessage enable = QDBusMessage::createMethodCall(
            shellService, shellPath, shellExtensionsInterface, QStringLiteral("EnableExtension"));
        enable.setArguments({ uuid });
        const QDBusMessage enableReply = m_bus.call(enable, QDBus::Block, shellCallTimeout_ms);
        if (enableReply.type() == QDBusMessage::ErrorMessage || !enableReply.arguments().value(0).toBool()) {
            reportOnce(QStringLiteral("ERROR MutterCaptureBackend: GNOME Shell did not turn on Pellux's extension "
                                      "%1%2 (are user extensions switched off?)")
                           .arg(uuid,
                               enableReply.type() == QDBusMessage::ErrorMessage
                                   ? QStringLiteral(": ") + enableReply.errorMessage()
                                   : QString()));
            return false;
        }
        log::info(QStringLiteral("MutterCaptureBackend: turned on Pellux's GNOME Shell extension %1").arg(uuid));
    }
    // Only an extension turned on just now is waited for: one that was on already and does not
    // answer will not start to, and preflight must not hold up the caller each time it asks.
    const QDeadlineTimer deadline(state == ExtensionState::enabled ? 0 : extensionStartTimeout_ms);
    while (!extensionAnswers()) {
        if (deadline.hasExpired()) {
            reportOnce(QStringLiteral("ERROR MutterCaptureBackend: Pellux's extension %1 is on but does not answer on "
                                      "the session bus as %2")
                           .arg(uuid, extensionBusName));
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

bool MutterCaptureBackend::preflightScreenCaptureAccess()
{
    if (!ensureExtensionEnabled())
        return false;
    if (!screenCastAvailable()) {
        reportOnce(QStringLiteral("ERROR MutterCaptureBackend: Mutter offers no ScreenCast service "
                                  "(org.gnome.Mutter.ScreenCast) on the session bus"));
        return false;
    }
    m_lastReport.clear();
    return true;
}

void MutterCaptureBackend::requestScreenCaptureAccess()
{
    // GNOME has no prompt for this: turning the extension on is all Pellux can do.
    ensureExtensionEnabled();
}

const DesktopEntryIndex &MutterCaptureBackend::desktopEntries()
{
    if (!m_desktopEntries || m_desktopEntriesAge.elapsed() > desktopEntriesMaxAge_ms) {
        m_desktopEntries = std::make_unique<DesktopEntryIndex>();
        m_desktopEntriesAge.start();
    }
    return *m_desktopEntries;
}

QCoro::Task<CaptureResult<ShareableContent>> MutterCaptureBackend::shareableContent(bool, bool onScreenWindowsOnly)
{
    const QDBusMessage call
        = QDBusMessage::createMethodCall(extensionBusName, extensionPath, extensionInterface, QStringLiteral("List"));
    const QDBusMessage reply = co_await m_bus.asyncCall(call, shellCallTimeout_ms);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString description
            = QStringLiteral("Pellux's GNOME Shell extension did not list the windows: %1").arg(reply.errorMessage());
        log::debug(QStringLiteral("DEBUG MutterCaptureBackend: %1").arg(description));
        co_return accessError(description);
    }
    const auto windows = parseShellWindowList(reply.arguments().value(0).toString().toUtf8());
    if (!windows) {
        log::failure(QStringLiteral("ERROR MutterCaptureBackend: %1").arg(windows.error().localizedDescription));
        co_return windows.error();
    }

    m_bufferSizes.clear();
    for (const ShellWindow &window : windows.value())
        m_bufferSizes.insert(window.id, window.buffer.size());
    // Recordings of windows that closed end here; Mutter ends them too, a moment later.
    m_recordings.keepOnly([this](quint64 id) { return m_bufferSizes.contains(id); }, [](quint64, WindowRecording &) {});
    co_return describeShellWindows(windows.value(), m_ids, desktopEntries(), onScreenWindowsOnly);
}

QCoro::Task<CaptureResult<QImage>> MutterCaptureBackend::captureShellWindow(quint64 shellId)
{
    std::shared_ptr<WindowRecording> recording = m_recordings.use(shellId);
    if (recording) {
        CaptureResult<QImage> frame = co_await recording->frame();
        if (frame)
            co_return croppedToWindow(std::move(frame).value(), *recording, m_bufferSizes.value(shellId));
        // A recording that broke since the last capture is started again once.
        log::debug(QStringLiteral("DEBUG MutterCaptureBackend: kept recording of window %1 failed (%2); starting "
                                  "a new one")
                       .arg(shellId)
                       .arg(frame.error().localizedDescription));
        m_recordings.remove(shellId);
    }

    const int framesPerSecond = m_options.keepRecordings ? m_options.maxFramesPerSecond : 0;
    auto started = co_await WindowRecording::start(m_bus, shellId, framesPerSecond);
    if (!started)
        co_return started.error();
    recording = std::move(started).value();
    CaptureResult<QImage> frame = co_await recording->frame();
    if (frame)
        frame = croppedToWindow(std::move(frame).value(), *recording, m_bufferSizes.value(shellId));
    if (frame && m_options.keepRecordings)
        m_recordings.keep(shellId, recording);
    else
        recording->stop();
    co_return frame;
}

QCoro::Task<CaptureResult<QImage>> MutterCaptureBackend::captureImage(
    const ContentFilter &filter, const StreamConfiguration &)
{
    const quint32 windowID = filter.window().windowID;
    const std::optional<quint64> shellId = m_ids.shellIdFor(windowID);
    if (!shellId)
        co_return failure(QStringLiteral("Window %1 is not among the listed windows (it closed)").arg(windowID));
    CaptureResult<QImage> frame = co_await captureShellWindow(*shellId);
    if (!frame)
        log::debug(QStringLiteral("DEBUG MutterCaptureBackend: capture of window %1 failed: %2")
                       .arg(windowID)
                       .arg(frame.error().localizedDescription));
    co_return frame;
}

} // namespace pellux::wayland
