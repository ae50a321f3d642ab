#pragma once

#include "capture/CaptureBackend.h"
#include "capture/DesktopEntryIndex.h"
#include "capture/x11/X11WindowGrabber.h"
#include "capture/x11/Xcb.h"

#include <QElapsedTimer>

#include <memory>

namespace pellux {

// The capture backend of an X11 session. Access counts as granted while the X server is reachable
// and lists its windows. When the server goes away every operation answers with a failure (logged
// once); the next operation tries to connect again, so a restarted server is picked up.
class X11CaptureBackend final : public CaptureBackend {
public:
    // An empty display name means $DISPLAY.
    explicit X11CaptureBackend(
        QString displayName = {}, x11::SharedMemory sharedMemory = x11::SharedMemory::useWhenAvailable);
    ~X11CaptureBackend() override;

    bool preflightScreenCaptureAccess() override;
    void requestScreenCaptureAccess() override;
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

    // The synchronous forms behind the operations above (the X11 calls never suspend).
    CaptureResult<ShareableContent> readShareableContent(bool onScreenWindowsOnly);
    CaptureResult<QImage> readImage(quint32 windowID);

    bool isConnected() const;
    bool usesSharedMemory() const;

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly) override;

private:
    bool ensureConnected();
    void noteLostConnection();
    const DesktopEntryIndex &desktopEntries();
    CaptureError unreachable() const;

    QString m_displayName;
    x11::SharedMemory m_sharedMemory;
    std::unique_ptr<xcb::Connection> m_connection;
    std::unique_ptr<x11::X11WindowGrabber> m_grabber;
    std::unique_ptr<DesktopEntryIndex> m_desktopEntries;
    QElapsedTimer m_desktopEntriesAge;
    QString m_hostName;
    bool m_reportedUnreachable = false;
};

} // namespace pellux
