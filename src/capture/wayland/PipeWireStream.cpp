#include "capture/wayland/PipeWireStream.h"

#include "capture/wayland/PipeWireFrame.h"
#include "runtime/Log.h"
#include "runtime/ThreadSanitizer.h"

#include <QCoro/QCoroSignal>
#include <QDeadlineTimer>
#include <QPointer>
#include <QScopeGuard>

#include <mutex>
#include <optional>
#include <utility>

#include <unistd.h>

// The SPA builders are C macros with compound literals, which ISO C++ does not have; GCC and Clang
// accept them, and they are confined to this file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

namespace pellux::wayland {

namespace {

void initialisePipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

constexpr int keptBuffers = 3;

CaptureError streamError(const QString &description)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain), description };
}

// The formats offered to the producer, in order of preference: the first two are what compositors
// render into, so they usually need no conversion on their side.
const spa_pod *buildEnumFormat(spa_pod_builder *builder, int maxFramesPerSecond)
{
    const spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080), minSize = SPA_RECTANGLE(1, 1),
                        maxSize = SPA_RECTANGLE(16384, 16384);
    const spa_fraction noRate = SPA_FRACTION(0, 1), maxRate = SPA_FRACTION(1000, 1);
    spa_pod_frame object;
    spa_pod_builder_push_object(builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
            SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&noRate, &noRate, &maxRate), 0);
    if (maxFramesPerSecond > 0) {
        const spa_fraction most = SPA_FRACTION(uint32_t(maxFramesPerSecond), 1);
        spa_pod_builder_add(
            builder, SPA_FORMAT_VIDEO_maxFramerate, SPA_POD_CHOICE_RANGE_Fraction(&most, &noRate, &most), 0);
    }
    return static_cast<const spa_pod *>(spa_pod_builder_pop(builder, &object));
}

} // namespace

// The loop's lock, taken on the owner's thread. The lock lives in libpipewire, which ThreadSanitizer
// does not see, so the order it gives is stated here and in the callbacks (`CallbackScope`).
class PipeWireStream::LoopLock {
public:
    explicit LoopLock(const PipeWireStream &stream)
        : m_stream(stream)
    {
        pw_thread_loop_lock(m_stream.m_loop);
        tsan::acquire(&m_stream);
    }
    ~LoopLock()
    {
        tsan::release(&m_stream);
        pw_thread_loop_unlock(m_stream.m_loop);
    }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    const PipeWireStream &m_stream;
};

namespace {

// A callback on the loop thread, which holds the lock while it runs.
class CallbackScope {
public:
    explicit CallbackScope(const void *stream)
        : m_stream(stream)
    {
        tsan::acquire(m_stream);
    }
    ~CallbackScope() { tsan::release(m_stream); }
    CallbackScope(const CallbackScope &) = delete;
    CallbackScope &operator=(const CallbackScope &) = delete;

private:
    const void *m_stream;
};

} // namespace

struct PipeWireStream::Listeners {
    spa_hook stream {};
    spa_hook core {};
    spa_hook registry {};
    pw_stream_events streamEvents {};
    pw_core_events coreEvents {};
    pw_registry_events registryEvents {};
};

PipeWireStream::PipeWireStream(quint32 nodeId)
    : m_nodeId(nodeId)
    , m_listeners(std::make_unique<Listeners>())
{
}

PipeWireStream::~PipeWireStream() { close(); }

CaptureResult<std::unique_ptr<PipeWireStream>> PipeWireStream::open(quint32 nodeId, const Options &options)
{
    initialisePipeWire();
    std::unique_ptr<PipeWireStream> self(new PipeWireStream(nodeId));
    const QString problem = self->connectToNode(options);
    if (!problem.isEmpty()) {
        self->close();
        const QString description = QStringLiteral("PipeWire stream of node %1: %2").arg(nodeId).arg(problem);
        log::failure(QStringLiteral("ERROR PipeWireStream: %1").arg(description));
        return streamError(description);
    }
    log::debug(QStringLiteral("DEBUG PipeWireStream: connecting to node %1%2")
                   .arg(nodeId)
                   .arg(options.remoteFd >= 0 ? QStringLiteral(" through the given remote") : QString()));
    return CaptureResult<std::unique_ptr<PipeWireStream>>(std::move(self));
}

QString PipeWireStream::connectToNode(const Options &options)
{
    // From pw_context_connect_fd on, PipeWire owns the descriptor, also when it fails.
    int remoteFd = options.remoteFd;
    const auto closeRemote = qScopeGuard([&] {
        if (remoteFd >= 0)
            ::close(remoteFd);
    });
    m_loop = pw_thread_loop_new("pellux-pipewire", nullptr);
    if (!m_loop)
        return QStringLiteral("cannot create a PipeWire loop");
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
    if (!m_context)
        return QStringLiteral("cannot create a PipeWire context");
    if (pw_thread_loop_start(m_loop) < 0)
        return QStringLiteral("cannot start the PipeWire loop thread");

    const LoopLock lock(*this);
    m_core = remoteFd >= 0 ? pw_context_connect_fd(m_context, std::exchange(remoteFd, -1), nullptr, 0)
                           : pw_context_connect(m_context, nullptr, 0);
    if (!m_core)
        return QStringLiteral("cannot connect to PipeWire (%1)").arg(QString::fromLocal8Bit(spa_strerror(-errno)));
    m_listeners->coreEvents.version = PW_VERSION_CORE_EVENTS;
    m_listeners->coreEvents.error = &PipeWireStream::onCoreError;
    pw_core_add_listener(m_core, &m_listeners->core, &m_listeners->coreEvents, this);
    // The session manager links the stream to the node asked for, or, when that node is gone, to
    // whatever video source it falls back to (a camera): the links into the stream are watched so
    // that a stream fed by another node fails instead.
    m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    if (!m_registry)
        return QStringLiteral("cannot read PipeWire's registry (%1)").arg(QString::fromLocal8Bit(spa_strerror(-errno)));
    m_listeners->registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    m_listeners->registryEvents.global = &PipeWireStream::onGlobal;
    pw_registry_add_listener(m_registry, &m_listeners->registry, &m_listeners->registryEvents, this);

    pw_properties *properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr);
    m_stream = pw_stream_new(m_core, options.name.toUtf8().constData(), properties);
    if (!m_stream)
        return QStringLiteral("cannot create a stream (%1)").arg(QString::fromLocal8Bit(spa_strerror(-errno)));
    m_listeners->streamEvents.version = PW_VERSION_STREAM_EVENTS;
    m_listeners->streamEvents.state_changed = [](void *data, pw_stream_state oldState, pw_stream_state state,
                                                  const char *error) { onStateChanged(data, oldState, state, error); };
    m_listeners->streamEvents.param_changed = &PipeWireStream::onParamChanged;
    m_listeners->streamEvents.process = &PipeWireStream::onProcess;
    m_listeners->streamEvents.add_buffer = [](void *data, pw_buffer *) {
        const CallbackScope scope(data);
        ++static_cast<PipeWireStream *>(data)->m_bufferCount;
    };
    m_listeners->streamEvents.remove_buffer = [](void *data, pw_buffer *buffer) {
        const CallbackScope scope(data);
        auto *self = static_cast<PipeWireStream *>(data);
        --self->m_bufferCount;
        if (self->m_held == buffer)
            self->m_held = nullptr;
    };
    pw_stream_add_listener(m_stream, &m_listeners->stream, &m_listeners->streamEvents, this);

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod *params[] = { buildEnumFormat(&builder, options.maxFramesPerSecond) };
    const int connected = pw_stream_connect(m_stream, PW_DIRECTION_INPUT, m_nodeId,
        pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    if (connected < 0)
        return QStringLiteral("cannot connect the stream (%1)").arg(QString::fromLocal8Bit(spa_strerror(connected)));
    return {};
}

void PipeWireStream::close()
{
    if (m_loop) {
        std::optional<LoopLock> lock(std::in_place, *this);
        if (m_stream) {
            if (m_held)
                pw_stream_queue_buffer(m_stream, m_held);
            m_held = nullptr;
            spa_hook_remove(&m_listeners->stream);
            pw_stream_disconnect(m_stream);
            pw_stream_destroy(m_stream);
            m_stream = nullptr;
        }
        if (m_registry) {
            spa_hook_remove(&m_listeners->registry);
            pw_proxy_destroy(reinterpret_cast<pw_proxy *>(m_registry));
            m_registry = nullptr;
        }
        if (m_core) {
            spa_hook_remove(&m_listeners->core);
            pw_core_disconnect(m_core);
            m_core = nullptr;
        }
        lock.reset();
        pw_thread_loop_stop(m_loop);
    }
    if (m_context) {
        pw_context_destroy(m_context);
        m_context = nullptr;
    }
    if (m_loop) {
        pw_thread_loop_destroy(m_loop);
        m_loop = nullptr;
    }
}

bool PipeWireStream::isAlive() const
{
    if (!m_loop)
        return false;
    const LoopLock lock(*this);
    return m_error.isEmpty();
}

// Loop thread, lock held.
void PipeWireStream::wakeOwner()
{
    // Posted rather than emitted: the owner checks the state and then waits for this signal, and a
    // posted call cannot fall between the two.
    QMetaObject::invokeMethod(this, tsan::handOver([this] { emit updated(); }), Qt::QueuedConnection);
}

// Loop thread, lock held.
void PipeWireStream::fail(const QString &reason)
{
    if (!m_error.isEmpty())
        return;
    m_error = reason;
    wakeOwner();
}

void PipeWireStream::onStateChanged(void *data, int, int state, const char *error)
{
    auto *self = static_cast<PipeWireStream *>(data);
    const CallbackScope scope(self);
    switch (state) {
    case PW_STREAM_STATE_ERROR:
        self->fail(QStringLiteral("the stream failed: %1").arg(QString::fromUtf8(error ? error : "unknown error")));
        break;
    case PW_STREAM_STATE_UNCONNECTED:
        // The producer removed its node (the window closed, the screen cast stopped).
        if (self->m_streaming)
            self->fail(QStringLiteral("the producer closed the stream"));
        break;
    case PW_STREAM_STATE_STREAMING:
        self->m_streaming = true;
        break;
    default:
        break;
    }
}

void PipeWireStream::onCoreError(void *data, uint32_t id, int, int res, const char *message)
{
    auto *self = static_cast<PipeWireStream *>(data);
    const CallbackScope scope(self);
    // Errors of other objects (a failed link attempt) show again as the stream's state.
    if (id != PW_ID_CORE && res != -EPIPE)
        return;
    self->fail(QStringLiteral("PipeWire reported: %1 (%2)")
                   .arg(QString::fromUtf8(message ? message : ""), QString::fromLocal8Bit(spa_strerror(res))));
}

void PipeWireStream::onGlobal(void *data, uint32_t, uint32_t, const char *type, uint32_t, const spa_dict *properties)
{
    if (!properties || qstrcmp(type, PW_TYPE_INTERFACE_Link) != 0)
        return;
    auto *self = static_cast<PipeWireStream *>(data);
    const CallbackScope scope(self);
    const char *input = spa_dict_lookup(properties, PW_KEY_LINK_INPUT_NODE);
    const char *output = spa_dict_lookup(properties, PW_KEY_LINK_OUTPUT_NODE);
    if (!input || !output || !self->m_stream)
        return;
    const uint32_t streamNode = pw_stream_get_node_id(self->m_stream);
    bool numbers = false;
    const uint32_t inputNode = QByteArray(input).toUInt(&numbers);
    const uint32_t outputNode = numbers ? QByteArray(output).toUInt(&numbers) : 0;
    if (numbers && streamNode != SPA_ID_INVALID && inputNode == streamNode && outputNode != self->m_nodeId)
        self->fail(QStringLiteral("PipeWire linked the stream to node %1 instead").arg(outputNode));
}

void PipeWireStream::onParamChanged(void *data, uint32_t id, const spa_pod *param)
{
    const CallbackScope scope(data);
    if (id == SPA_PARAM_Format && param)
        static_cast<PipeWireStream *>(data)->negotiated(param);
}

// Loop thread, lock held.
void PipeWireStream::negotiated(const spa_pod *format)
{
    spa_video_info_raw info {};
    if (spa_format_video_raw_parse(format, &info) < 0 || !pixelLayoutFromSpaFormat(info.format)) {
        fail(QStringLiteral("the producer offered no raw video format Pellux reads"));
        return;
    }
    m_format = Format { int(info.size.width), int(info.size.height), info.format };

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod *params[3];
    // Shared memory only: a DMA-BUF would need a GPU context to read back. Few buffers: each is a
    // whole frame (a monitor's worth for a window recording), and one held plus one being drawn
    // is all a reader of single frames needs.
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamBuffers,
        SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(keptBuffers, 2, keptBuffers),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod *>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod *>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    pw_stream_update_params(m_stream, params, 3);
    log::debug(QStringLiteral("DEBUG PipeWireStream: node %1 negotiated %2 %3x%4, at most %5/%6 frames a second")
                   .arg(m_nodeId)
                   .arg(QString::fromLatin1(pixelLayoutName(*pixelLayoutFromSpaFormat(info.format))))
                   .arg(info.size.width)
                   .arg(info.size.height)
                   .arg(info.max_framerate.num)
                   .arg(info.max_framerate.denom));
}

void PipeWireStream::onProcess(void *data)
{
    const CallbackScope scope(data);
    static_cast<PipeWireStream *>(data)->process();
}

// Loop thread, lock held.
void PipeWireStream::process()
{
    bool replaced = false;
    while (pw_buffer *buffer = pw_stream_dequeue_buffer(m_stream)) {
        const spa_buffer *spaBuffer = buffer->buffer;
        const auto *header = static_cast<const spa_meta_header *>(
            spa_buffer_find_meta_data(spaBuffer, SPA_META_Header, sizeof(spa_meta_header)));
        // Producers send buffers without pixels when only metadata changed (a cursor move).
        const bool hasPixels = spaBuffer->n_datas > 0 && spaBuffer->datas[0].data && spaBuffer->datas[0].chunk
            && spaBuffer->datas[0].chunk->size > 0 && !(spaBuffer->datas[0].chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)
            && !(header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED));
        if (!hasPixels) {
            pw_stream_queue_buffer(m_stream, buffer);
            continue;
        }
        if (m_held)
            pw_stream_queue_buffer(m_stream, m_held);
        m_held = buffer;
        replaced = true;
    }
    if (replaced)
        wakeOwner();
}

CaptureResult<QImage> PipeWireStream::copyHeldFrame()
{
    const spa_buffer *spaBuffer = m_held->buffer;
    const spa_data &plane = spaBuffer->datas[0];
    const spa_chunk &chunk = *plane.chunk;
    FrameView view;
    view.layout = *pixelLayoutFromSpaFormat(m_format.spaFormat);
    view.width = m_format.width;
    view.height = m_format.height;
    view.stride = chunk.stride > 0 ? chunk.stride : m_format.width * 4;
    const qsizetype offset = qMin<qsizetype>(chunk.offset, plane.maxsize);
    view.data = static_cast<const uchar *>(plane.data) + offset;
    view.size = qMin<qsizetype>(chunk.size, plane.maxsize - offset);
    QRect region;
    if (const auto *crop = static_cast<const spa_meta_region *>(
            spa_buffer_find_meta_data(spaBuffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
        crop && spa_meta_region_is_valid(crop))
        region = QRect(crop->region.position.x, crop->region.position.y, int(crop->region.size.width),
            int(crop->region.size.height));
    QImage image = convertFrame(view, region);
    if (!m_reportedFirstFrame) {
        m_reportedFirstFrame = true;
        log::debug(QStringLiteral("DEBUG PipeWireStream: node %1 delivered a %2x%3 frame%4 in one of %5 buffers")
                       .arg(m_nodeId)
                       .arg(view.width)
                       .arg(view.height)
                       .arg(region.isEmpty() ? QString()
                                             : QStringLiteral(" cropped to %1x%2+%3+%4")
                                                   .arg(region.width())
                                                   .arg(region.height())
                                                   .arg(region.x())
                                                   .arg(region.y()))
                       .arg(m_bufferCount));
    }
    if (image.isNull())
        return streamError(QStringLiteral("PipeWire stream of node %1: the buffer (%2x%3, stride %4, %5 bytes) "
                                          "does not hold a frame")
                               .arg(m_nodeId)
                               .arg(view.width)
                               .arg(view.height)
                               .arg(view.stride)
                               .arg(view.size));
    return image;
}

QCoro::Task<CaptureResult<QImage>> PipeWireStream::frame(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    QPointer<PipeWireStream> self(this);
    for (;;) {
        if (!self || !m_loop)
            co_return streamError(QStringLiteral("PipeWire stream of node %1 was closed").arg(m_nodeId));
        std::optional<CaptureResult<QImage>> result;
        {
            const LoopLock lock(*this);
            if (!m_error.isEmpty())
                result = streamError(QStringLiteral("PipeWire stream of node %1: %2").arg(m_nodeId).arg(m_error));
            else if (m_held)
                result = copyHeldFrame();
        }
        if (result)
            co_return std::move(*result);
        const auto remaining = std::chrono::milliseconds(deadline.remainingTime());
        if (remaining.count() <= 0)
            co_return streamError(
                QStringLiteral("PipeWire stream of node %1: no frame within %2 ms").arg(m_nodeId).arg(timeout.count()));
        co_await qCoro(this, &PipeWireStream::updated, remaining);
    }
}

QCoro::Task<CaptureResult<QImage>> PipeWireStream::grabFrame(
    quint32 nodeId, std::chrono::milliseconds timeout, Options options)
{
    auto stream = open(nodeId, options);
    if (!stream)
        co_return stream.error();
    std::unique_ptr<PipeWireStream> owned = std::move(stream).value();
    co_return co_await owned->frame(timeout);
}

} // namespace pellux::wayland

#pragma GCC diagnostic pop
