#pragma once

#include "capture/CaptureBackend.h"
#include "capture/DesktopEntryIndex.h"
#include "capture/wayland/kde/KWinWindowReport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QElapsedTimer>
#include <QObject>

#include <memory>

namespace pellux::kwin {

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
// the windows and reports them back over D-Bus; org.kde.KWin.ScreenShot2 delivers one window's pixels
// through a pipe. KWin allows ScreenShot2 only to a program that an installed desktop file names
// with X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2; `cmake --install` writes it.
// Used from the GUI thread; every D-Bus wait has a time limit.
class KWinCaptureBackend final : public QObject, public CaptureBackend {
    Q_OBJECT
public:
    explicit KWinCaptureBackend(QDBusConnection bus = QDBusConnection::sessionBus());
    ~KWinCaptureBackend() override;

    bool preflightScreenCaptureAccess() override;
    void requestScreenCaptureAccess() override;
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

signals:
    void listingFinished();

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
};

} // namespace pellux::kwin
