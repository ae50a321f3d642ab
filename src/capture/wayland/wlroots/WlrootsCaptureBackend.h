#pragma once

#include "capture/CaptureBackend.h"
#include "capture/DesktopEntryIndex.h"
#include "capture/wayland/wlroots/SwayIpc.h"
#include "capture/wayland/wlroots/SwayTree.h"

#include <QElapsedTimer>

#include <memory>
#include <optional>
#include <unordered_map>

namespace pellux::wayland {

class WlrootsScreenCapture;

// The capture backend of a wlroots compositor. sway's IPC lists the windows with their geometry;
// a window's pixels are the part of its output it covers, copied with wlr-screencopy, so only shown
// windows can be captured (wlroots 0.15 draws nothing for a hidden one). Where the compositor offers
// ext-image-copy-capture for toplevels, a window is captured on its own instead. Without sway's
// IPC (another wlroots compositor) wlr-foreign-toplevel lists the windows without geometry: only a
// focused fullscreen or maximised one counts as on screen, captured as its whole output.
class WlrootsCaptureBackend final : public CaptureBackend {
public:
    // Empty names mean $SWAYSOCK and $WAYLAND_DISPLAY.
    explicit WlrootsCaptureBackend(QString swaySocket = {}, QString waylandDisplay = {});
    ~WlrootsCaptureBackend() override;

    bool preflightScreenCaptureAccess() override;
    void requestScreenCaptureAccess() override;
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

    // How long one answer of the compositor may take.
    static constexpr int replyTimeout_ms = 2000;

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly) override;

private:
    QCoro::Task<CaptureResult<sway::Tree>> readTree();
    std::shared_ptr<WlrootsScreenCapture> screenCapture();
    ShareableContent foreignToplevelContent(WlrootsScreenCapture &capture, bool onScreenWindowsOnly);
    QCoro::Task<CaptureResult<QImage>> captureSwayWindow(std::shared_ptr<WlrootsScreenCapture> capture, qint64 id);
    QCoro::Task<CaptureResult<QImage>> captureForeignToplevel(
        std::shared_ptr<WlrootsScreenCapture> capture, quint64 serial);
    quint32 windowIDFor(const QString &key);
    const DesktopEntryIndex &desktopEntries();
    CaptureError reportFailure(const QString &what, CaptureError error);
    void noteSuccess(const QString &what);

    std::optional<sway::IpcClient> m_ipc;
    QString m_waylandDisplay;
    std::shared_ptr<WlrootsScreenCapture> m_screenCapture;
    // The compositor's own window keys (sway's container ids, foreign-toplevel handles) and the
    // 32-bit ids handed out for them, both ways.
    std::unordered_map<QString, quint32> m_windowIDs;
    std::unordered_map<quint32, QString> m_windowKeys;
    quint32 m_nextWindowID = 1;
    std::unique_ptr<DesktopEntryIndex> m_desktopEntries;
    QElapsedTimer m_desktopEntriesAge;
    // The failure last logged for each kind of operation, so that a lasting one is logged once.
    std::unordered_map<QString, QString> m_reportedFailures;
};

} // namespace pellux::wayland
