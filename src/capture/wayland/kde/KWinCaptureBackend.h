#pragma once

#include "capture/CaptureBackend.h"
#include "capture/DesktopEntryIndex.h"
#include "capture/wayland/KeptStreams.h"
#include "capture/wayland/kde/KWinWindowReport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <memory>

namespace pellux::kwin {

class ScreenCastClient;
class WindowCast;

// Whether KWin lets this program call org.kde.KWin.ScreenShot2, as a probe found out.
enum class ScreenShotAccess { unknown, granted, refused, unavailable };

// The answer to a capture of a window that cannot exist: KWin checks its caller before it looks
// for the window, so "invalid window" means the caller is allowed. `errorName` is empty for a reply
// that is not an error.
ScreenShotAccess screenShotAccessFromProbe(const QString &errorName);

// The object Pellux exports on its session-bus connection for the window-list script's callDBus().
class WindowReportReceiver final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.pellux.KWinWindowReport")
public:
    using QObject::QObject;

    void clear();
    bool hasReport() const { return m_hasReport; }
    QString reportJson() const { return m_json; }
    // The unique bus name the report came from (KWin's, unless someone else called).
    QString reportSender() const { return m_sender; }

public slots:
    Q_SCRIPTABLE void Report(const QString &json);

signals:
    void reported();

private:
    bool m_hasReport = false;
    QString m_json;
    QString m_sender;
};

// The capture backend of a KDE Plasma Wayland session (KWin 5.27 and Plasma 6). A KWin script lists
// the windows and reports them back over D-Bus. The pixels come from a stream per window that KWin
// keeps drawing into PipeWire (zkde_screencast_unstable_v1), kept open between captures so that a
// capture copies the newest frame; where KWin does not offer that protocol or a stream fails,
// org.kde.KWin.ScreenShot2 delivers one window's pixels through a pipe (80-100 ms a window). KWin
// allows ScreenShot2 only to a program that an installed desktop file names with
// X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2, and offers the streams only to one
// named with X-KDE-Wayland-Interfaces=zkde_screencast_unstable_v1; `cmake --install` writes both.
// Used from the GUI thread; every D-Bus, Wayland and PipeWire wait has a time limit.
class KWinCaptureBackend final : public QObject, public CaptureBackend {
    Q_OBJECT
public:
    struct Options {
        // Capture through kept window streams where KWin offers them.
        bool useWindowStreams = true;
        // At most this many streams are kept, the least recently captured closed first.
        int maxKeptStreams = 16;
        // The frame rate asked of KWin for kept streams, which bounds what a window that keeps
        // changing costs the compositor.
        int maxFramesPerSecond = 2;
    };

    explicit KWinCaptureBackend(QDBusConnection bus, Options options);
    explicit KWinCaptureBackend(QDBusConnection bus = QDBusConnection::sessionBus())
        : KWinCaptureBackend(std::move(bus), Options {})
    {
    }
    ~KWinCaptureBackend() override;

    bool preflightScreenCaptureAccess() override;
    void requestScreenCaptureAccess() override;
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

    size_t keptStreams() const { return size_t(m_casts.size()); }
    // Kept streams that have delivered a frame (the others wait for their window to change).
    size_t deliveringStreams() const;

signals:
    void listingFinished();
    void screenCastConnectionFinished();

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly) override;

private:
    QCoro::Task<CaptureResult<ShareableContent>> listWindows();
    QCoro::Task<CaptureResult<QString>> runWindowScript();
    QCoro::Task<ScreenShotAccess> probeAccess();
    ScreenShotAccess probeAccessNow();
    void noteAccess(ScreenShotAccess access, const QString &detail);
    bool accessIsFresh() const;
    CaptureError accessError() const;
    bool ensureScript();
    const DesktopEntryIndex &desktopEntries();
    QCoro::Task<CaptureResult<QImage>> captureThroughScreenShot(const WindowDescription &window, const QString &uuid);
    // Nothing when the window's stream has sent no frame yet (it is kept, and ScreenShot2 captures
    // the window this time).
    QCoro::Task<std::optional<CaptureResult<QImage>>> captureThroughStream(const QString &uuid);
    // Starts connecting to KWin's screencast protocol, once.
    void connectScreenCast();
    QCoro::Task<> connectScreenCastTask();
    // The screencast connection once made; null when KWin does not offer it to Pellux (or streams
    // turned out not to work here).
    QCoro::Task<ScreenCastClient *> screenCastClient();
    void forgetClosedWindows(const ShareableContent &listed);

    QDBusConnection m_bus;
    WindowReportReceiver m_receiver;
    QString m_reportPath;
    QString m_scriptPath;
    QString m_pluginName;
    // Plasma 6 exports a loaded script at /Scripting/Script<id>, KWin 5.27 at /<id>.
    enum class ScriptObjectPaths { unknown, plasma6, plasma5 } m_scriptObjectPaths = ScriptObjectPaths::unknown;

    WindowIdTable m_ids;
    bool m_listing = false;
    CaptureResult<ShareableContent> m_lastListing;

    ScreenShotAccess m_access = ScreenShotAccess::unknown;
    QString m_accessDetail;
    QElapsedTimer m_accessAge;

    std::unique_ptr<DesktopEntryIndex> m_desktopEntries;
    QElapsedTimer m_desktopEntriesAge;

    Options m_options;
    std::shared_ptr<ScreenCastClient> m_screenCast;
    enum class ScreenCastConnection {
        notTried,
        connecting,
        done
    } m_screenCastConnection
        = ScreenCastConnection::notTried;
    // Which way the pixels come, once logged: the stream path, or ScreenShot2 and why.
    QString m_loggedPath;
    wayland::KeptStreams<QString, WindowCast> m_casts;
    // Each listed window's client area, to cut a stream's frame to: a stream's buffers are sized when
    // it starts, and the window may have been resized since.
    QHash<quint32, QSize> m_clientSizes;
    // Windows whose stream failed: captured through ScreenShot2 while they exist.
    QSet<QString> m_castFailed;
    // Streams of different windows that failed with none working between: past a few, streams do
    // not work in this session (no PipeWire for KWin, say) and are not tried again.
    int m_castFailuresInARow = 0;
};

} // namespace pellux::kwin
