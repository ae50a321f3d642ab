#include "capture/wayland/kde/KWinScreenCast.h"

#include "capture/wayland/WaylandConnection.h"
#include "runtime/Log.h"

#include "zkde-screencast-unstable-v1-client-protocol.h"

#include <QCoro/QCoroSignal>

namespace pellux::kwin {

namespace {

// The newest version Pellux knows; stream_window, all it uses, is in every version.
constexpr uint32_t screenCastVersion = 3;
// zkde_screencast_unstable_v1.pointer: the pointer is not drawn.
constexpr uint32_t pointerHidden = 1;

CaptureError castError(const QString &uuid, const QString &what)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain),
        QStringLiteral("KWin's screencast of window %1: %2").arg(uuid, what) };
}

} // namespace

QCoro::Task<ScreenCastClient::Connected> ScreenCastClient::connect()
{
    wayland::WaylandConnection::Opened opened
        = co_await wayland::WaylandConnection::openAsync(QString(), connectTimeout_ms);
    std::unique_ptr<wayland::WaylandConnection> connection = std::move(opened.connection);
    if (!connection)
        co_return Connected { nullptr, opened.error };
    if (!connection->hasGlobal(zkde_screencast_unstable_v1_interface))
        co_return Connected { nullptr,
            QStringLiteral("KWin does not offer zkde_screencast_unstable_v1 to Pellux on \"%1\" (its desktop file "
                           "must list it in X-KDE-Wayland-Interfaces)")
                .arg(connection->displayName()) };
    std::shared_ptr<ScreenCastClient> client(new ScreenCastClient);
    client->m_screenCast
        = connection->bind<zkde_screencast_unstable_v1>(zkde_screencast_unstable_v1_interface, screenCastVersion);
    client->m_connection = std::move(connection);
    QObject::connect(client->m_connection.get(), &wayland::WaylandConnection::lost, client.get(),
        [self = client.get()](const QString &reason) {
            self->markUnusable(reason);
            emit self->lost();
        });
    client->m_connection->flush();
    co_return Connected { std::move(client), QString() };
}

ScreenCastClient::~ScreenCastClient()
{
    if (m_screenCast && m_connection->isAlive()) {
        zkde_screencast_unstable_v1_destroy(m_screenCast);
        m_connection->flush();
    } else if (m_screenCast) {
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_screenCast));
    }
}

uint32_t ScreenCastClient::version() const { return zkde_screencast_unstable_v1_get_version(m_screenCast); }

QString ScreenCastClient::displayName() const { return m_connection->displayName(); }

bool ScreenCastClient::isUsable() const { return m_unusableReason.isEmpty() && m_connection->isAlive(); }

void ScreenCastClient::markUnusable(const QString &reason)
{
    if (m_unusableReason.isEmpty())
        m_unusableReason = reason;
}

WindowCast::WindowCast(std::shared_ptr<ScreenCastClient> client, QString uuid)
    : m_client(std::move(client))
    , m_uuid(std::move(uuid))
{
    QObject::connect(m_client.get(), &ScreenCastClient::lost, this, [this] {
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("the connection to KWin was lost");
        emit answered();
    });
}

WindowCast::~WindowCast()
{
    // The PipeWire side first: KWin ends its stream when the Wayland one is closed.
    m_pipeWire.reset();
    if (!m_stream)
        return;
    if (m_client->connection().isAlive()) {
        zkde_screencast_stream_unstable_v1_close(m_stream);
        m_client->connection().flush();
    } else {
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_stream));
    }
}

void WindowCast::onCreated(void *data, zkde_screencast_stream_unstable_v1 *, uint32_t node)
{
    auto *self = static_cast<WindowCast *>(data);
    self->m_node = node;
    emit self->answered();
}

void WindowCast::onFailed(void *data, zkde_screencast_stream_unstable_v1 *, const char *error)
{
    auto *self = static_cast<WindowCast *>(data);
    self->m_failure = QStringLiteral("KWin refused the stream: %1").arg(QString::fromUtf8(error));
    emit self->answered();
}

void WindowCast::onClosed(void *data, zkde_screencast_stream_unstable_v1 *)
{
    auto *self = static_cast<WindowCast *>(data);
    self->m_closed = true;
    emit self->answered();
}

QCoro::Task<CaptureResult<std::shared_ptr<WindowCast>>> WindowCast::start(
    std::shared_ptr<ScreenCastClient> client, QString uuid, int maxFramesPerSecond)
{
    if (!client->isUsable())
        co_return castError(uuid, client->unusableReason());
    std::shared_ptr<WindowCast> self(new WindowCast(client, uuid));
    static const zkde_screencast_stream_unstable_v1_listener listener = {
        .closed = &WindowCast::onClosed,
        .created = &WindowCast::onCreated,
        .failed = &WindowCast::onFailed,
    };
    self->m_stream
        = zkde_screencast_unstable_v1_stream_window(client->screenCast(), uuid.toUtf8().constData(), pointerHidden);
    zkde_screencast_stream_unstable_v1_add_listener(self->m_stream, &listener, self.get());
    client->connection().flush();

    if (!self->m_node && self->m_failure.isEmpty() && !self->m_closed)
        co_await qCoro(self.get(), &WindowCast::answered, startTimeout);
    if (!self->m_failure.isEmpty())
        co_return castError(uuid, self->m_failure);
    if (self->m_closed)
        co_return castError(uuid, QStringLiteral("KWin closed the stream before it started (the window is gone)"));
    if (!self->m_node)
        co_return castError(
            uuid, QStringLiteral("KWin announced no PipeWire node within %1 ms").arg(startTimeout.count()));

    wayland::PipeWireStream::Options options;
    options.maxFramesPerSecond = maxFramesPerSecond;
    options.name = QStringLiteral("pellux-kwin-window");
    auto opened = wayland::PipeWireStream::open(*self->m_node, options);
    if (!opened) {
        // KWin made a node, so PipeWire runs for it; Pellux not reaching that daemon will not change.
        client->markUnusable(opened.error().localizedDescription);
        co_return opened.error();
    }
    self->m_pipeWire = std::move(opened).value();
    log::debug(QStringLiteral("DEBUG WindowCast: window %1 streamed by KWin on PipeWire node %2")
                   .arg(uuid)
                   .arg(*self->m_node));
    co_return self;
}

bool WindowCast::isAlive() const
{
    return !m_closed && m_failure.isEmpty() && m_client->isUsable() && m_pipeWire && m_pipeWire->isAlive();
}

QCoro::Task<CaptureResult<QImage>> WindowCast::frame(std::chrono::milliseconds timeout)
{
    if (!m_pipeWire)
        co_return castError(m_uuid, QStringLiteral("the stream has not started"));
    if (m_closed)
        co_return castError(m_uuid, QStringLiteral("KWin ended the stream (the window closed)"));
    if (!m_failure.isEmpty())
        co_return castError(m_uuid, m_failure);
    CaptureResult<QImage> frame = co_await m_pipeWire->frame(timeout);
    if (frame)
        m_delivered = true;
    co_return frame;
}

} // namespace pellux::kwin
