#pragma once

#include "capture/CaptureBackend.h"
#include "capture/wayland/portal/PortalStreams.h"
#include "capture/wayland/portal/RestoreToken.h"
#include "capture/wayland/portal/ScreenCastPortal.h"

#include <QHash>
#include <QObject>

#include <map>
#include <memory>
#include <vector>

namespace pellux::wayland {

class PipeWireStream;

namespace portal {

// Tells waiters that a session start under way has ended, however it ended.
class StartNotifier final : public QObject {
    Q_OBJECT
signals:
    void finished();
};

} // namespace portal

// The backend of a Wayland desktop Pellux has no closer way into: the ScreenCast portal shares
// every monitor, once the user has agreed in the desktop's dialog, and each monitor is listed as
// one window ("Screen 1", ...). The portal's restore token is kept between runs, so the dialog
// comes once and later runs start without asking.
//
// A monitor stream shows whatever is on it, Pellux's own windows included: the portal offers no
// way to leave windows out, so on such a desktop Pellux's search window is captured when it is
// open (the capture service can only skip windows it lists on their own).
class PortalCaptureBackend final : public CaptureBackend {
public:
    PortalCaptureBackend(QDBusConnection bus, portal::RestoreTokenStore tokens);
    ~PortalCaptureBackend() override;

    // True while a screen-cast session runs (the user agreed, now or in an earlier run).
    bool preflightScreenCaptureAccess() override;
    // Starts the session: the desktop's dialog, unless the stored token restores the last choice.
    void requestScreenCaptureAccess() override;
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly) override;

private:
    QCoro::Task<> startSession();
    QCoro::Task<CaptureResult<PipeWireStream *>> readerFor(const portal::PortalStream &stream);
    QCoro::Task<bool> awaitStart();
    void endSession();
    void retireReader(quint32 nodeID);
    quint32 windowIDFor(const QString &streamKey);
    CaptureError notStarted() const;

    QDBusConnection m_bus;
    portal::RestoreTokenStore m_tokens;
    std::unique_ptr<portal::ScreenCastPortal> m_portal;
    portal::StartNotifier m_startNotifier;
    std::vector<portal::PortalStream> m_streams;
    // One reader per monitor, each on a remote of its own, opened at the monitor's first capture
    // and kept for the session: the stream is negotiated once, and each capture copies its newest
    // frame.
    std::map<quint32, std::unique_ptr<PipeWireStream>> m_readers;
    // Readers taken out of use, kept until no capture may still be reading one of them.
    std::vector<std::unique_ptr<PipeWireStream>> m_retiredReaders;
    int m_capturesInFlight = 0;
    // Counts sessions, so that a capture can tell that its session ended while it waited.
    quint64 m_session = 0;
    QHash<QString, quint32> m_windowIDs;
    quint32 m_nextWindowID = 1;
    bool m_starting = false;
    // Set when the user said no: nothing asks again until requestScreenCaptureAccess.
    bool m_refused = false;
    // A stored token is tried once by itself; after that only a request starts a session.
    bool m_restoreTried = false;
    QString m_lastError;
};

} // namespace pellux::wayland
