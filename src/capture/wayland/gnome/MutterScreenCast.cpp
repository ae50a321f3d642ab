#include "capture/wayland/gnome/MutterScreenCast.h"

#include "runtime/Log.h"

#include <QCoro/QCoroDBusPendingCall>
#include <QCoro/QCoroSignal>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPointer>

namespace pellux::wayland {

namespace {

const QString screenCastService = QStringLiteral("org.gnome.Mutter.ScreenCast");
const QString screenCastPath = QStringLiteral("/org/gnome/Mutter/ScreenCast");
const QString screenCastInterface = QStringLiteral("org.gnome.Mutter.ScreenCast");
const QString sessionInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Session");
const QString streamInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Stream");
// RecordWindow's cursor-mode: the pointer is not drawn.
constexpr uint cursorModeHidden = 0;

CaptureError recordingError(quint64 windowId, const QString &what)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain),
        QStringLiteral("Screen cast of window %1: %2").arg(windowId).arg(what) };
}

QVariantMap recordWindowProperties(quint64 windowId)
{
    QVariantMap properties;
    properties.insert(QStringLiteral("window-id"), QVariant::fromValue(qulonglong(windowId)));
    properties.insert(QStringLiteral("cursor-mode"), QVariant::fromValue(cursorModeHidden));
    return properties;
}

// Calls a ScreenCast method and answers its reply, or the error as text.
QCoro::Task<std::variant<QDBusMessage, QString>> callMutter(
    QDBusConnection bus, const QString &path, const QString &interface, const QString &method, QVariantList arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(screenCastService, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = co_await bus.asyncCall(message, int(WindowRecording::callTimeout.count()));
    if (reply.type() == QDBusMessage::ErrorMessage)
        co_return QStringLiteral("%1 failed: %2 (%3)").arg(method, reply.errorMessage(), reply.errorName());
    co_return reply;
}

} // namespace

WindowRecording::WindowRecording(QDBusConnection bus, quint64 windowId)
    : m_bus(std::move(bus))
    , m_windowId(windowId)
{
}

WindowRecording::~WindowRecording() { stop(); }

QCoro::Task<CaptureResult<std::shared_ptr<WindowRecording>>> WindowRecording::start(
    QDBusConnection bus, quint64 windowId, int maxFramesPerSecond)
{
    std::shared_ptr<WindowRecording> self(new WindowRecording(bus, windowId));

    // Argument lists are built before each co_await: GCC 12 cannot keep a braced list's array in a
    // coroutine frame.
    const QVariantList createArguments = QVariantList() << QVariantMap();
    auto created = co_await callMutter(
        bus, screenCastPath, screenCastInterface, QStringLiteral("CreateSession"), createArguments);
    if (auto *problem = std::get_if<QString>(&created))
        co_return recordingError(windowId, *problem);
    const QDBusMessage &createReply = std::get<QDBusMessage>(created);
    self->m_sessionPath = createReply.arguments().value(0).value<QDBusObjectPath>().path();
    if (self->m_sessionPath.isEmpty())
        co_return recordingError(windowId, QStringLiteral("CreateSession answered no session"));
    self->subscribeClosed();

    const QVariantList recordArguments = QVariantList() << recordWindowProperties(windowId);
    auto recorded = co_await callMutter(
        bus, self->m_sessionPath, sessionInterface, QStringLiteral("RecordWindow"), recordArguments);
    if (auto *problem = std::get_if<QString>(&recorded))
        co_return recordingError(windowId, *problem);
    self->m_streamPath = std::get<QDBusMessage>(recorded).arguments().value(0).value<QDBusObjectPath>().path();
    if (self->m_streamPath.isEmpty())
        co_return recordingError(windowId, QStringLiteral("RecordWindow answered no stream"));
    // Subscribed before Start: Mutter announces the PipeWire node once the session runs.
    self->subscribeStreamAdded();

    auto started
        = co_await callMutter(bus, self->m_sessionPath, sessionInterface, QStringLiteral("Start"), QVariantList());
    if (auto *problem = std::get_if<QString>(&started))
        co_return recordingError(windowId, *problem);
    if (!self->m_nodeId && !self->m_closed)
        co_await qCoro(self.get(), &WindowRecording::streamAdded, callTimeout);
    if (self->m_closed)
        co_return recordingError(
            windowId, QStringLiteral("Mutter closed the session before it started (the window is gone)"));
    if (!self->m_nodeId)
        co_return recordingError(
            windowId, QStringLiteral("Mutter announced no PipeWire stream within %1 ms").arg(callTimeout.count()));

    PipeWireStream::Options options;
    options.maxFramesPerSecond = maxFramesPerSecond;
    options.name = QStringLiteral("pellux-window-%1").arg(windowId);
    auto stream = PipeWireStream::open(*self->m_nodeId, options);
    if (!stream)
        co_return stream.error();
    self->m_stream = std::move(stream).value();
    log::debug(QStringLiteral("DEBUG WindowRecording: window %1 recorded by %2 on PipeWire node %3")
                   .arg(windowId)
                   .arg(self->m_sessionPath)
                   .arg(*self->m_nodeId));
    co_return self;
}

void WindowRecording::subscribeClosed()
{
    m_bus.connect(screenCastService, m_sessionPath, sessionInterface, QStringLiteral("Closed"), this, SLOT(onClosed()));
}

void WindowRecording::subscribeStreamAdded()
{
    m_bus.connect(screenCastService, m_streamPath, streamInterface, QStringLiteral("PipeWireStreamAdded"), this,
        SLOT(onPipeWireStreamAdded(uint)));
}

void WindowRecording::onPipeWireStreamAdded(uint nodeId)
{
    m_nodeId = nodeId;
    emit streamAdded();
}

void WindowRecording::onClosed()
{
    m_closed = true;
    emit streamAdded();
}

bool WindowRecording::isAlive() const { return !m_closed && m_stream && m_stream->isAlive(); }

QCoro::Task<CaptureResult<QImage>> WindowRecording::frame()
{
    if (!m_stream)
        co_return recordingError(m_windowId, QStringLiteral("the recording has not started"));
    co_return co_await m_stream->frame(callTimeout);
}

void WindowRecording::stop()
{
    m_stream.reset();
    if (m_sessionPath.isEmpty() || m_closed)
        return;
    m_closed = true;
    // Nobody waits for the answer: a session that is gone already is what was asked for.
    QDBusMessage message
        = QDBusMessage::createMethodCall(screenCastService, m_sessionPath, sessionInterface, QStringLiteral("Stop"));
    m_bus.asyncCall(message, int(callTimeout.count()));
}

} // namespace pellux::wayland
