#pragma once

#include "capture/CaptureBackend.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QObject>

#include <chrono>
#include <memory>

struct pw_buffer;
struct pw_core;
struct pw_context;
struct pw_registry;
struct pw_stream;
struct spa_dict;
struct pw_thread_loop;
struct spa_pod;

namespace pellux::wayland {

struct PipeWireStreamOptions {
    // A connection the caller opened (the ScreenCast portal's OpenPipeWireRemote), which the
    // stream takes over and closes; -1 connects to the user's PipeWire daemon.
    int remoteFd = -1;
    // Asks the producer for at most this many frames a second (0: as many as it sends), so that
    // a stream kept open costs the compositor little while its window keeps changing.
    int maxFramesPerSecond = 0;
    // The name the stream carries in PipeWire's graph.
    QString name = QStringLiteral("pellux-capture");
};

// One PipeWire video stream read by Pellux: raw video in shared memory (memfd or plain memory;
// BGRx, BGRA, RGBx or RGBA), on a PipeWire loop thread of its own. The stream keeps the newest
// buffer the producer delivered and hands the producer back the one before, so `frame()` always
// copies what the producer last drew: a screen-cast producer only sends a buffer when its content
// changes, and the held one stays current in between.
//
// Created, read and destroyed on one thread that runs a Qt event loop (the main thread); the
// PipeWire callbacks only touch the state below under the loop's lock and wake that thread through
// its event queue. Not to be destroyed while a `frame()` of it is suspended.
class PipeWireStream final : public QObject {
    Q_OBJECT
public:
    using Options = PipeWireStreamOptions;

    // Connects to PipeWire and starts streaming node `nodeId`; fails at once when PipeWire cannot
    // be reached or refuses the stream (a node that does not exist fails later, in `frame()`).
    static CaptureResult<std::unique_ptr<PipeWireStream>> open(quint32 nodeId, const Options &options);
    static CaptureResult<std::unique_ptr<PipeWireStream>> open(quint32 nodeId) { return open(nodeId, Options {}); }
    ~PipeWireStream() override;

    // A copy of the newest frame (Format_RGB32, cropped to the producer's crop region when it sends
    // one), waiting up to `timeout` for the first. An error when the stream failed, the producer
    // went away or no frame came in time.
    QCoro::Task<CaptureResult<QImage>> frame(std::chrono::milliseconds timeout);

    // Opens the node, reads one frame and closes it again.
    static QCoro::Task<CaptureResult<QImage>> grabFrame(
        quint32 nodeId, std::chrono::milliseconds timeout, Options options = {});

    quint32 nodeId() const { return m_nodeId; }
    // False once the stream failed or was closed by the producer: it delivers nothing more.
    bool isAlive() const;

signals:
    // A frame arrived or the stream failed (emitted on the owner's thread).
    void updated();

private:
    explicit PipeWireStream(quint32 nodeId);
    // Empty when connected, else what failed.
    QString connectToNode(const Options &options);
    void close();
    void fail(const QString &reason);
    void wakeOwner();
    void negotiated(const spa_pod *format);
    void process();
    CaptureResult<QImage> copyHeldFrame();

    static void onStateChanged(void *data, int oldState, int state, const char *error);
    static void onParamChanged(void *data, uint32_t id, const struct spa_pod *param);
    static void onProcess(void *data);
    static void onGlobal(
        void *data, uint32_t id, uint32_t permissions, const char *type, uint32_t version, const spa_dict *properties);
    static void onCoreError(void *data, uint32_t id, int seq, int res, const char *message);

    quint32 m_nodeId;
    pw_thread_loop *m_loop = nullptr;
    pw_context *m_context = nullptr;
    pw_core *m_core = nullptr;
    pw_registry *m_registry = nullptr;
    pw_stream *m_stream = nullptr;
    class LoopLock;
    struct Listeners;
    std::unique_ptr<Listeners> m_listeners;

    // Guarded by the loop's lock.
    struct Format {
        int width = 0;
        int height = 0;
        uint32_t spaFormat = 0;
    } m_format;
    pw_buffer *m_held = nullptr;
    int m_bufferCount = 0;
    bool m_reportedFirstFrame = false;
    QString m_error;
    bool m_streaming = false;
};

} // namespace pellux::wayland
