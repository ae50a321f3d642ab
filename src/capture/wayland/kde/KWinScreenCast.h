#pragma once

#include "capture/CaptureBackend.h"
#include "capture/wayland/PipeWireStream.h"

#include <QCoro/QCoroTask>
#include <QObject>

#include <chrono>
#include <memory>
#include <optional>

struct zkde_screencast_unstable_v1;
struct zkde_screencast_stream_unstable_v1;

namespace pellux::wayland {
class WaylandConnection;
}

namespace pellux::kwin {

// A Wayland connection of Pellux's own on which KWin offers its screencast protocol
// (zkde_screencast_unstable_v1). KWin offers that global only to a program that an installed
// desktop file names with X-KDE-Wayland-Interfaces=zkde_screencast_unstable_v1; `cmake --install`
// writes it. Events are read from the main thread's event loop.
class ScreenCastClient final : public QObject {
    Q_OBJECT
public:
    // Waits this long at most for KWin to list its globals (it looks up Pellux's desktop file first).
    static constexpr int connectTimeout_ms = 5000;

    struct Connected {
        std::shared_ptr<ScreenCastClient> client;
        // Why there is none: no Wayland display, or KWin does not offer the global here.
        QString why;
    };
    static QCoro::Task<Connected> connect();
    ~ScreenCastClient() override;

    zkde_screencast_unstable_v1 *screenCast() const { return m_screenCast; }
    wayland::WaylandConnection &connection() const { return *m_connection; }
    uint32_t version() const;
    QString displayName() const;

    // False once KWin went away, or once streams turned out not to work in this session at all
    // (PipeWire unreachable): captures then go through ScreenShot2.
    bool isUsable() const;
    QString unusableReason() const { return m_unusableReason; }
    void markUnusable(const QString &reason);

signals:
    // KWin went away or ended the connection.
    void lost();

private:
    ScreenCastClient() = default;

    std::unique_ptr<wayland::WaylandConnection> m_connection;
    zkde_screencast_unstable_v1 *m_screenCast = nullptr;
    QString m_unusableReason;
};

// One window's stream through KWin's screencast protocol (stream_window, pointer hidden): KWin draws
// the window's client area alone, whatever covers it, into a PipeWire stream on the session's
// PipeWire daemon, and sends a frame whenever the window changes. Kept open between captures, a
// capture copies the newest frame. KWin ends the stream when the window closes.
class WindowCast final : public QObject {
    Q_OBJECT
public:
    // Waits for KWin's node at most this long.
    static constexpr std::chrono::milliseconds startTimeout { 2000 };

    // Asks KWin to stream the window `uuid` and opens the stream's PipeWire node; the first frame
    // comes a moment later (frame() waits for it).
    static QCoro::Task<CaptureResult<std::shared_ptr<WindowCast>>> start(
        std::shared_ptr<ScreenCastClient> client, QString uuid, int maxFramesPerSecond);
    ~WindowCast() override;

    // The newest frame, Format_RGB32, as KWin drew it (the window's client area), waiting up to
    // `timeout` for the first one.
    QCoro::Task<CaptureResult<QImage>> frame(std::chrono::milliseconds timeout);
    // Whether a frame came yet. KWin draws one when the stream starts; should that one be lost, the
    // next comes only when the window changes.
    bool hasDelivered() const { return m_delivered; }
    // False once KWin closed the stream (the window closed), the stream failed or KWin went away.
    bool isAlive() const;
    const QString &uuid() const { return m_uuid; }

signals:
    // KWin answered the stream request (node, failure or end).
    void answered();

private:
    WindowCast(std::shared_ptr<ScreenCastClient> client, QString uuid);
    static void onCreated(void *data, zkde_screencast_stream_unstable_v1 *stream, uint32_t node);
    static void onFailed(void *data, zkde_screencast_stream_unstable_v1 *stream, const char *error);
    static void onClosed(void *data, zkde_screencast_stream_unstable_v1 *stream);

    std::shared_ptr<ScreenCastClient> m_client;
    QString m_uuid;
    zkde_screencast_stream_unstable_v1 *m_stream = nullptr;
    std::optional<quint32> m_node;
    QString m_failure;
    bool m_closed = false;
    bool m_delivered = false;
    std::unique_ptr<wayland::PipeWireStream> m_pipeWire;
};

} // namespace pellux::kwin
