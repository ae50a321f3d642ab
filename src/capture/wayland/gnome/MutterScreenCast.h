#pragma once

#include "capture/CaptureBackend.h"
#include "capture/wayland/PipeWireStream.h"

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QObject>

#include <chrono>
#include <memory>
#include <optional>

namespace pellux::wayland {

// One org.gnome.Mutter.ScreenCast session that records one window (RecordWindow, without the
// pointer) and the PipeWire stream that carries it. Mutter draws the window whole, even when it is
// covered, minimised or on another workspace, into a buffer the size of its monitor with the
// window's pixels at the top left. Mutter ends the session when the window closes or when this
// process leaves the bus; `stop()` ends it earlier.
class WindowRecording final : public QObject {
    Q_OBJECT
public:
    // Every call to Mutter and every wait below ends with an error after this long.
    static constexpr std::chrono::milliseconds callTimeout { 5000 };

    // Creates the session, records the window, starts it and opens its stream.
    static QCoro::Task<CaptureResult<std::shared_ptr<WindowRecording>>> start(
        QDBusConnection bus, quint64 windowId, int maxFramesPerSecond);
    ~WindowRecording() override;

    // The window's newest frame, as large as Mutter's buffer (the monitor), unless Mutter states the
    // window's crop region with it.
    QCoro::Task<CaptureResult<QImage>> frame();
    // False once the stream ended (the window closed, Mutter stopped the session).
    bool isAlive() const;
    void stop();

    quint64 windowId() const { return m_windowId; }

private slots:
    void onPipeWireStreamAdded(uint nodeId);
    void onClosed();

signals:
    void streamAdded();

private:
    WindowRecording(QDBusConnection bus, quint64 windowId);
    void subscribeClosed();
    void subscribeStreamAdded();

    QDBusConnection m_bus;
    quint64 m_windowId;
    QString m_sessionPath;
    QString m_streamPath;
    std::optional<quint32> m_nodeId;
    std::unique_ptr<PipeWireStream> m_stream;
    bool m_closed = false;
};

} // namespace pellux::wayland
