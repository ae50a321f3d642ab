#pragma once

#include "capture/CaptureBackend.h"
#include "capture/x11/Xcb.h"

#include <QImage>

#include <xcb/shm.h>

namespace pellux::x11 {

enum class SharedMemory { useWhenAvailable, never };

// Reads the pixels of one window. With XComposite every top-level window is redirected off screen,
// so a window reads back whole even where others cover it; MIT-SHM moves the pixels through a
// shared segment instead of the socket when the server is on this machine. Without either it falls
// back to a plain GetImage of the window (covered parts are then whatever is on screen).
class X11WindowGrabber {
public:
    X11WindowGrabber(xcb::Connection &connection, SharedMemory sharedMemory);
    ~X11WindowGrabber();

    X11WindowGrabber(const X11WindowGrabber &) = delete;
    X11WindowGrabber &operator=(const X11WindowGrabber &) = delete;

    bool usesComposite() const { return m_composite; }
    bool usesSharedMemory() const { return m_shmAllowed; }

    // The window's contents at its own size as Format_RGB32, or why it could not be read.
    CaptureResult<QImage> grab(xcb_window_t window);

private:
    struct Region {
        xcb_drawable_t drawable;
        int x, y, width, height;
        uint8_t depth;
    };

    xcb_window_t topLevelOf(xcb_window_t window);
    bool ensureSegment(size_t bytes);
    void releaseSegment();
    CaptureResult<QImage> read(const Region &region);
    CaptureResult<QImage> readShared(const Region &region);
    CaptureResult<QImage> readPlain(const Region &region);
    CaptureResult<QImage> readFailure() const;
    CaptureResult<QImage> toImage(const uint8_t *pixels, const Region &region) const;
    CaptureError failure(const QString &text) const;

    xcb::Connection &m_connection;
    bool m_composite = false;
    bool m_shmAllowed = false;
    xcb_shm_seg_t m_segment = 0;
    void *m_segmentAddress = nullptr;
    size_t m_segmentSize = 0;
};

} // namespace pellux::x11
