#include "capture/wayland/wlroots/WlrootsScreenCapture.h"

#include "capture/wayland/Waker.h"
#include "capture/wayland/wlroots/ShmImage.h"

#include "ext-foreign-toplevel-list-v1-client-protocol.h"
#include "ext-image-capture-source-v1-client-protocol.h"
#include "ext-image-copy-capture-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <QCoro/QCoroSignal>
#include <QDeadlineTimer>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace pellux::wayland {

namespace {

constexpr int connectTimeout_ms = 2000;

CaptureError failure(const QString &description)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain), description };
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// A wl_buffer over anonymous shared memory (a memfd: no file holds the pixels, and no other
// process can open it).
class ShmBuffer {
public:
    static std::unique_ptr<ShmBuffer> create(
        wl_shm *shm, int width, int height, int stride, uint32_t format, QString &error)
    {
        if (width <= 0 || height <= 0 || stride < width * 4 || height > (1 << 14) || stride > (1 << 16)) {
            error = QStringLiteral("the compositor asked for a %1×%2 buffer with %3-byte rows")
                        .arg(width)
                        .arg(height)
                        .arg(stride);
            return nullptr;
        }
        auto buffer = std::unique_ptr<ShmBuffer>(new ShmBuffer);
        buffer->m_size = size_t(stride) * size_t(height);
        buffer->m_fd = memfd_create("pellux-capture", MFD_CLOEXEC);
        if (buffer->m_fd < 0 || ftruncate(buffer->m_fd, off_t(buffer->m_size)) != 0) {
            error = QStringLiteral("cannot create shared memory for the picture: %1").arg(systemError());
            return nullptr;
        }
        void *data = mmap(nullptr, buffer->m_size, PROT_READ | PROT_WRITE, MAP_SHARED, buffer->m_fd, 0);
        if (data == MAP_FAILED) {
            error = QStringLiteral("cannot map shared memory for the picture: %1").arg(systemError());
            return nullptr;
        }
        buffer->m_data = static_cast<uchar *>(data);
        wl_shm_pool *pool = wl_shm_create_pool(shm, buffer->m_fd, int32_t(buffer->m_size));
        buffer->m_buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
        wl_shm_pool_destroy(pool);
        buffer->m_width = width;
        buffer->m_height = height;
        buffer->m_stride = stride;
        buffer->m_format = format;
        return buffer;
    }

    ~ShmBuffer()
    {
        if (m_buffer)
            wl_buffer_destroy(m_buffer);
        if (m_data)
            munmap(m_data, m_size);
        if (m_fd >= 0)
            close(m_fd);
    }

    wl_buffer *buffer() const { return m_buffer; }
    std::optional<QImage> image(bool yInvert, int transform) const
    {
        return imageFromShm(m_data, m_width, m_height, m_stride, m_format, yInvert, transform);
    }

private:
    ShmBuffer() = default;
    int m_fd = -1;
    uchar *m_data = nullptr;
    size_t m_size = 0;
    wl_buffer *m_buffer = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_stride = 0;
    uint32_t m_format = 0;
};

// What a capture in flight has learnt so far; the listeners fill it, the waiting coroutine reads it.
struct PendingFrame {
    wl_shm *shm = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    uint32_t format = 0;
    bool formatOffered = false;
    std::unique_ptr<ShmBuffer> buffer;
    bool yInvert = false;
    int transform = WL_OUTPUT_TRANSFORM_NORMAL;
    bool done = false;
    QString error;
    Waker waker;

    void offer(uint32_t offeredFormat, int offeredWidth, int offeredHeight, int offeredStride)
    {
        if (formatOffered || !isReadableShmFormat(offeredFormat))
            return;
        format = offeredFormat;
        width = offeredWidth;
        height = offeredHeight;
        stride = offeredStride;
        formatOffered = true;
    }
    // False (and finished with an error) when no buffer could be made.
    bool makeBuffer()
    {
        if (!formatOffered) {
            finish(QStringLiteral("the compositor offers no shared-memory format Pellux reads"));
            return false;
        }
        QString error;
        buffer = ShmBuffer::create(shm, width, height, stride, format, error);
        if (!buffer) {
            finish(error);
            return false;
        }
        return true;
    }
    void finish(const QString &failure = {})
    {
        if (done)
            return;
        done = true;
        error = failure;
        emit waker.woke();
    }
};

template <typename T> T *self(void *data) { return static_cast<T *>(data); }

struct ScreencopyFrame : PendingFrame {
    zwlr_screencopy_frame_v1 *frame = nullptr;
    uint32_t version = 1;

    void copy()
    {
        if (makeBuffer())
            zwlr_screencopy_frame_v1_copy(frame, buffer->buffer());
    }
};

const zwlr_screencopy_frame_v1_listener screencopyListener = {
    .buffer =
        [](void *data, zwlr_screencopy_frame_v1 *, uint32_t format, uint32_t width, uint32_t height, uint32_t stride) {
            auto *f = self<ScreencopyFrame>(data);
            f->offer(format, int(width), int(height), int(stride));
            // Before version 3 the shared-memory offer is the only one, and buffer_done never comes.
            if (f->version < 3 && !f->buffer)
                f->copy();
        },
    .flags
    = [](void *data, zwlr_screencopy_frame_v1 *,
          uint32_t flags) { self<ScreencopyFrame>(data)->yInvert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT; },
    .ready = [](void *data, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t,
                 uint32_t) { self<ScreencopyFrame>(data)->finish(); },
    .failed =
        [](void *data, zwlr_screencopy_frame_v1 *) {
            self<ScreencopyFrame>(data)->finish(QStringLiteral("the compositor could not copy the output"));
        },
    .damage = [](void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t, uint32_t) {},
    .linux_dmabuf = [](void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t) {},
    .buffer_done =
        [](void *data, zwlr_screencopy_frame_v1 *) {
            auto *f = self<ScreencopyFrame>(data);
            if (!f->buffer)
                f->copy();
        },
};

struct ImageCopyFrame : PendingFrame {
    ext_image_copy_capture_session_v1 *session = nullptr;
    ext_image_copy_capture_frame_v1 *frame = nullptr;
};

const ext_image_copy_capture_session_v1_listener imageCopySessionListener = {
    .buffer_size =
        [](void *data, ext_image_copy_capture_session_v1 *, uint32_t width, uint32_t height) {
            auto *f = self<ImageCopyFrame>(data);
            f->width = int(width);
            f->height = int(height);
            f->stride = int(width) * 4;
        },
    .shm_format =
        [](void *data, ext_image_copy_capture_session_v1 *, uint32_t format) {
            auto *f = self<ImageCopyFrame>(data);
            if (!f->formatOffered && isReadableShmFormat(format)) {
                f->format = format;
                f->formatOffered = true;
            }
        },
    .dmabuf_device = [](void *, ext_image_copy_capture_session_v1 *, wl_array *) {},
    .dmabuf_format = [](void *, ext_image_copy_capture_session_v1 *, uint32_t, wl_array *) {},
    .done =
        [](void *data, ext_image_copy_capture_session_v1 *session) {
            // Sent again whenever the constraints change: one frame is enough.
            auto *f = self<ImageCopyFrame>(data);
            if (f->frame || f->done || !f->makeBuffer())
                return;
            f->frame = ext_image_copy_capture_session_v1_create_frame(session);
            static const ext_image_copy_capture_frame_v1_listener frameListener = {
                .transform = [](void *data, ext_image_copy_capture_frame_v1 *,
                                 uint32_t transform) { self<ImageCopyFrame>(data)->transform = int(transform); },
                .damage = [](void *, ext_image_copy_capture_frame_v1 *, int32_t, int32_t, int32_t, int32_t) {},
                .presentation_time = [](void *, ext_image_copy_capture_frame_v1 *, uint32_t, uint32_t, uint32_t) {},
                .ready = [](void *data, ext_image_copy_capture_frame_v1 *) { self<ImageCopyFrame>(data)->finish(); },
                .failed =
                    [](void *data, ext_image_copy_capture_frame_v1 *, uint32_t reason) {
                        self<ImageCopyFrame>(data)->finish(
                            reason == EXT_IMAGE_COPY_CAPTURE_FRAME_V1_FAILURE_REASON_STOPPED
                                ? QStringLiteral("the window closed")
                                : QStringLiteral("the compositor could not copy the window (reason %1)").arg(reason));
                    },
            };
            ext_image_copy_capture_frame_v1_add_listener(f->frame, &frameListener, f);
            ext_image_copy_capture_frame_v1_attach_buffer(f->frame, f->buffer->buffer());
            ext_image_copy_capture_frame_v1_damage_buffer(f->frame, 0, 0, f->width, f->height);
            ext_image_copy_capture_frame_v1_capture(f->frame);
        },
    .stopped =
        [](void *data, ext_image_copy_capture_session_v1 *) {
            self<ImageCopyFrame>(data)->finish(QStringLiteral("the window closed"));
        },
};

} // namespace

struct WlrootsScreenCapture::OutputEntry {
    ProxyPtr<wl_output, wl_output_destroy> output;
    QString name;
    QPoint position;
    QSize modeSize;
    int scale = 1;
    int transform = WL_OUTPUT_TRANSFORM_NORMAL;

    QRect logicalRect() const
    {
        QSize size = modeSize / std::max(1, scale);
        if (transform % 2 == 1)
            size.transpose();
        return QRect(position, size);
    }
};

struct WlrootsScreenCapture::WlrToplevelEntry {
    WlrootsScreenCapture *owner = nullptr;
    ProxyPtr<zwlr_foreign_toplevel_handle_v1, zwlr_foreign_toplevel_handle_v1_destroy> handle;
    ForeignToplevel toplevel;
    bool closed = false;
};

struct WlrootsScreenCapture::ToplevelEntry {
    ProxyPtr<ext_foreign_toplevel_handle_v1, ext_foreign_toplevel_handle_v1_destroy> handle;
    QString identifier;
    QString appId;
    QString title;
    bool closed = false;
};

std::unique_ptr<WlrootsScreenCapture> WlrootsScreenCapture::open(
    const QString &displayName, ToplevelList toplevelList, QString &error)
{
    auto connection = WaylandConnection::open(displayName, connectTimeout_ms, error);
    if (!connection)
        return nullptr;
    const bool screencopy = connection->hasGlobal(zwlr_screencopy_manager_v1_interface);
    const bool toplevelCopy = connection->hasGlobal(ext_image_copy_capture_manager_v1_interface)
        && connection->hasGlobal(ext_foreign_toplevel_image_capture_source_manager_v1_interface)
        && connection->hasGlobal(ext_foreign_toplevel_list_v1_interface);
    if (!connection->hasGlobal(wl_shm_interface) || (!screencopy && !toplevelCopy)) {
        error = QStringLiteral("the compositor offers neither zwlr_screencopy_manager_v1 nor "
                               "ext_image_copy_capture_manager_v1 for toplevels");
        return nullptr;
    }
    std::unique_ptr<WlrootsScreenCapture> capture(new WlrootsScreenCapture(std::move(connection)));
    if (toplevelList == ToplevelList::follow)
        capture->followToplevels();
    // Twice: the first answer brings the outputs and toplevels, the second their descriptions.
    if (!capture->m_connection->roundtrip(connectTimeout_ms) || !capture->m_connection->roundtrip(connectTimeout_ms)) {
        error = QStringLiteral("the compositor did not describe its outputs");
        return nullptr;
    }
    return capture;
}

WlrootsScreenCapture::WlrootsScreenCapture(std::unique_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    WaylandConnection &c = *m_connection;
    m_shm = c.bind<wl_shm>(wl_shm_interface, 1);
    m_screencopy = c.bind<zwlr_screencopy_manager_v1>(zwlr_screencopy_manager_v1_interface, 3);
    m_screencopyVersion = std::min<uint32_t>(3, c.version(zwlr_screencopy_manager_v1_interface));
    if (c.hasGlobal(ext_image_copy_capture_manager_v1_interface)
        && c.hasGlobal(ext_foreign_toplevel_image_capture_source_manager_v1_interface)
        && c.hasGlobal(ext_foreign_toplevel_list_v1_interface)) {
        m_imageCopy = c.bind<ext_image_copy_capture_manager_v1>(ext_image_copy_capture_manager_v1_interface, 1);
        m_toplevelSources = c.bind<ext_foreign_toplevel_image_capture_source_manager_v1>(
            ext_foreign_toplevel_image_capture_source_manager_v1_interface, 1);
        m_toplevelList = c.bind<ext_foreign_toplevel_list_v1>(ext_foreign_toplevel_list_v1_interface, 1);
        static const ext_foreign_toplevel_handle_v1_listener handleListener = {
            .closed = [](void *data, ext_foreign_toplevel_handle_v1 *) { self<ToplevelEntry>(data)->closed = true; },
            .done = [](void *, ext_foreign_toplevel_handle_v1 *) {},
            .title = [](void *data, ext_foreign_toplevel_handle_v1 *,
                         const char *title) { self<ToplevelEntry>(data)->title = QString::fromUtf8(title); },
            .app_id = [](void *data, ext_foreign_toplevel_handle_v1 *,
                          const char *appId) { self<ToplevelEntry>(data)->appId = QString::fromUtf8(appId); },
            .identifier = [](void *data, ext_foreign_toplevel_handle_v1 *,
                              const char *id) { self<ToplevelEntry>(data)->identifier = QString::fromUtf8(id); },
        };
        static const ext_foreign_toplevel_list_v1_listener listListener = {
            .toplevel =
                [](void *data, ext_foreign_toplevel_list_v1 *, ext_foreign_toplevel_handle_v1 *handle) {
                    auto &toplevels = self<WlrootsScreenCapture>(data)->m_toplevels;
                    // Closed handles are let go of here, while no listener runs on them.
                    std::erase_if(toplevels, [](const std::unique_ptr<ToplevelEntry> &t) { return t->closed; });
                    auto entry = std::make_unique<ToplevelEntry>();
                    entry->handle.reset(handle);
                    ext_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, entry.get());
                    toplevels.push_back(std::move(entry));
                },
            .finished = [](void *, ext_foreign_toplevel_list_v1 *) {},
        };
        ext_foreign_toplevel_list_v1_add_listener(m_toplevelList, &listListener, this);
    }

    static const wl_output_listener outputListener = {
        .geometry =
            [](void *data, wl_output *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *, const char *,
                int32_t transform) {
                self<OutputEntry>(data)->position = QPoint(x, y);
                self<OutputEntry>(data)->transform = transform;
            },
        .mode =
            [](void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t) {
                if (flags & WL_OUTPUT_MODE_CURRENT)
                    self<OutputEntry>(data)->modeSize = QSize(width, height);
            },
        .done = [](void *, wl_output *) {},
        .scale = [](void *data, wl_output *, int32_t scale) { self<OutputEntry>(data)->scale = scale; },
        .name
        = [](void *data, wl_output *, const char *name) { self<OutputEntry>(data)->name = QString::fromUtf8(name); },
        .description = [](void *, wl_output *, const char *) {},
    };
    for (const WaylandConnection::Global &global : c.globals()) {
        if (global.interface != wl_output_interface.name)
            continue;
        auto entry = std::make_unique<OutputEntry>();
        entry->output.reset(static_cast<wl_output *>(c.bindName(global, wl_output_interface, 4)));
        wl_output_add_listener(entry->output.get(), &outputListener, entry.get());
        m_outputs.push_back(std::move(entry));
    }
    c.flush();
}

void WlrootsScreenCapture::followToplevels()
{
    m_wlrToplevels
        = m_connection->bind<zwlr_foreign_toplevel_manager_v1>(zwlr_foreign_toplevel_manager_v1_interface, 3);
    if (!m_wlrToplevels)
        return;
    static const zwlr_foreign_toplevel_handle_v1_listener handleListener = {
        .title = [](void *data, zwlr_foreign_toplevel_handle_v1 *,
                     const char *title) { self<WlrToplevelEntry>(data)->toplevel.title = QString::fromUtf8(title); },
        .app_id = [](void *data, zwlr_foreign_toplevel_handle_v1 *,
                      const char *appId) { self<WlrToplevelEntry>(data)->toplevel.appId = QString::fromUtf8(appId); },
        .output_enter =
            [](void *data, zwlr_foreign_toplevel_handle_v1 *, wl_output *output) {
                auto *entry = self<WlrToplevelEntry>(data);
                for (const auto &o : entry->owner->m_outputs) {
                    if (o->output.get() == output)
                        entry->toplevel.outputName = o->name;
                }
            },
        .output_leave = [](void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {},
        .state =
            [](void *data, zwlr_foreign_toplevel_handle_v1 *, wl_array *states) {
                ForeignToplevel &t = self<WlrToplevelEntry>(data)->toplevel;
                t.activated = t.maximized = t.fullscreen = false;
                const auto *state = static_cast<const uint32_t *>(states->data);
                for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
                    t.activated |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
                    t.maximized |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED;
                    t.fullscreen |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN;
                }
            },
        .done = [](void *, zwlr_foreign_toplevel_handle_v1 *) {},
        .closed = [](void *data, zwlr_foreign_toplevel_handle_v1 *) { self<WlrToplevelEntry>(data)->closed = true; },
        .parent = [](void *, zwlr_foreign_toplevel_handle_v1 *, zwlr_foreign_toplevel_handle_v1 *) {},
    };
    static const zwlr_foreign_toplevel_manager_v1_listener managerListener = {
        .toplevel =
            [](void *data, zwlr_foreign_toplevel_manager_v1 *, zwlr_foreign_toplevel_handle_v1 *handle) {
                auto *capture = self<WlrootsScreenCapture>(data);
                std::erase_if(capture->m_wlrToplevelEntries, [](const auto &t) { return t->closed; });
                auto entry = std::make_unique<WlrToplevelEntry>();
                entry->owner = capture;
                entry->handle.reset(handle);
                entry->toplevel.serial = capture->m_nextToplevelSerial++;
                zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, entry.get());
                capture->m_wlrToplevelEntries.push_back(std::move(entry));
            },
        .finished = [](void *, zwlr_foreign_toplevel_manager_v1 *) {},
    };
    zwlr_foreign_toplevel_manager_v1_add_listener(m_wlrToplevels, &managerListener, this);
}

std::vector<WlrootsScreenCapture::ForeignToplevel> WlrootsScreenCapture::foreignToplevels() const
{
    std::vector<ForeignToplevel> toplevels;
    for (const auto &entry : m_wlrToplevelEntries) {
        if (!entry->closed)
            toplevels.push_back(entry->toplevel);
    }
    return toplevels;
}

std::optional<WlrootsScreenCapture::OutputGeometry> WlrootsScreenCapture::outputGeometry(const QString &name) const
{
    for (const auto &o : m_outputs) {
        if (o->name == name)
            return OutputGeometry { o->name, o->logicalRect(), o->transform };
    }
    return std::nullopt;
}

WlrootsScreenCapture::~WlrootsScreenCapture()
{
    m_wlrToplevelEntries.clear();
    if (m_wlrToplevels)
        zwlr_foreign_toplevel_manager_v1_destroy(m_wlrToplevels);
    m_toplevels.clear();
    m_outputs.clear();
    if (m_toplevelList)
        ext_foreign_toplevel_list_v1_destroy(m_toplevelList);
    if (m_toplevelSources)
        ext_foreign_toplevel_image_capture_source_manager_v1_destroy(m_toplevelSources);
    if (m_imageCopy)
        ext_image_copy_capture_manager_v1_destroy(m_imageCopy);
    if (m_screencopy)
        zwlr_screencopy_manager_v1_destroy(m_screencopy);
    if (m_shm)
        wl_shm_destroy(m_shm);
    m_connection->flush();
}

bool WlrootsScreenCapture::canCaptureToplevels() const { return m_imageCopy && m_toplevelSources && m_toplevelList; }

bool WlrootsScreenCapture::hasOutput(const QString &name) const
{
    // An output without a name (wl_output before version 4) can only be told apart when it is alone.
    if (m_outputs.size() == 1 && m_outputs.front()->name.isEmpty())
        return true;
    return std::any_of(m_outputs.begin(), m_outputs.end(), [&name](const auto &o) { return o->name == name; });
}

QCoro::Task<CaptureResult<QImage>> WlrootsScreenCapture::captureOutputRegion(
    QString outputName, QRect region, QSize outputSize, int outputTransform, int timeout_ms)
{
    if (!m_screencopy)
        co_return failure(QStringLiteral("the compositor offers no wlr-screencopy"));
    wl_output *output = nullptr;
    for (const auto &entry : m_outputs) {
        if (entry->name == outputName || (m_outputs.size() == 1 && entry->name.isEmpty()))
            output = entry->output.get();
    }
    if (!output)
        co_return failure(QStringLiteral("the compositor lists no output named %1").arg(outputName));
    if (region.isEmpty())
        co_return failure(QStringLiteral("the window is not on output %1").arg(outputName));

    auto pending = std::make_unique<ScreencopyFrame>();
    pending->shm = m_shm;
    pending->version = m_screencopyVersion;
    const bool wholeOutput = outputTransform != WL_OUTPUT_TRANSFORM_NORMAL;
    pending->frame = wholeOutput ? zwlr_screencopy_manager_v1_capture_output(m_screencopy, 0, output)
                                 : zwlr_screencopy_manager_v1_capture_output_region(
                                     m_screencopy, 0, output, region.x(), region.y(), region.width(), region.height());
    zwlr_screencopy_frame_v1_add_listener(pending->frame, &screencopyListener, pending.get());
    QObject::connect(m_connection.get(), &WaylandConnection::lost, &pending->waker, &Waker::woke);
    m_connection->flush();
    const QDeadlineTimer deadline(timeout_ms);
    while (!pending->done && m_connection->isAlive() && !deadline.hasExpired())
        co_await qCoro(&pending->waker, &Waker::woke, std::chrono::milliseconds(deadline.remainingTime()));
    // No more events reach the listener once the frame is destroyed.
    zwlr_screencopy_frame_v1_destroy(pending->frame);
    m_connection->flush();
    if (!m_connection->isAlive())
        co_return failure(QStringLiteral("the compositor went away during the capture"));
    if (!pending->done)
        co_return failure(QStringLiteral("no frame came from the compositor within %1 ms").arg(timeout_ms));
    if (!pending->error.isEmpty())
        co_return failure(pending->error);
    std::optional<QImage> image = pending->buffer->image(pending->yInvert, outputTransform);
    if (!image)
        co_return failure(QStringLiteral("the compositor's picture could not be read"));
    if (wholeOutput)
        co_return cropToRegion(*image, region, outputSize);
    co_return std::move(*image);
}

ext_foreign_toplevel_handle_v1 *WlrootsScreenCapture::findToplevel(
    const QString &identifier, const QString &appId, const QString &title) const
{
    ext_foreign_toplevel_handle_v1 *found = nullptr;
    for (const auto &t : m_toplevels) {
        if (t->closed)
            continue;
        if (!identifier.isEmpty()) {
            if (t->identifier == identifier)
                return t->handle.get();
            continue;
        }
        if (t->appId == appId && t->title == title) {
            if (found)
                return nullptr; // two alike: neither can be told to be the one
            found = t->handle.get();
        }
    }
    return found;
}

QCoro::Task<CaptureResult<QImage>> WlrootsScreenCapture::captureToplevel(
    QString identifier, QString appId, QString title, int timeout_ms)
{
    if (!canCaptureToplevels())
        co_return failure(QStringLiteral("the compositor cannot capture windows on their own"));
    ext_foreign_toplevel_handle_v1 *handle = findToplevel(identifier, appId, title);
    if (!handle)
        co_return failure(QStringLiteral("the compositor lists no single toplevel for the window"));

    auto pending = std::make_unique<ImageCopyFrame>();
    pending->shm = m_shm;
    ext_image_capture_source_v1 *source
        = ext_foreign_toplevel_image_capture_source_manager_v1_create_source(m_toplevelSources, handle);
    pending->session = ext_image_copy_capture_manager_v1_create_session(m_imageCopy, source, 0);
    ext_image_copy_capture_session_v1_add_listener(pending->session, &imageCopySessionListener, pending.get());
    QObject::connect(m_connection.get(), &WaylandConnection::lost, &pending->waker, &Waker::woke);
    m_connection->flush();
    const QDeadlineTimer deadline(timeout_ms);
    while (!pending->done && m_connection->isAlive() && !deadline.hasExpired())
        co_await qCoro(&pending->waker, &Waker::woke, std::chrono::milliseconds(deadline.remainingTime()));
    if (pending->frame)
        ext_image_copy_capture_frame_v1_destroy(pending->frame);
    ext_image_copy_capture_session_v1_destroy(pending->session);
    ext_image_capture_source_v1_destroy(source);
    m_connection->flush();
    if (!m_connection->isAlive())
        co_return failure(QStringLiteral("the compositor went away during the capture"));
    if (!pending->done)
        co_return failure(QStringLiteral("no frame came from the compositor within %1 ms").arg(timeout_ms));
    if (!pending->error.isEmpty())
        co_return failure(pending->error);
    std::optional<QImage> image = pending->buffer->image(false, pending->transform);
    if (!image)
        co_return failure(QStringLiteral("the compositor's picture could not be read"));
    co_return std::move(*image);
}

} // namespace pellux::wayland
