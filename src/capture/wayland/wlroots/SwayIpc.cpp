#include "capture/wayland/wlroots/SwayIpc.h"

#include "capture/wayland/Waker.h"

#include <QCoro/QCoroSignal>
#include <QDeadlineTimer>
#include <QLocalSocket>

#include <chrono>
#include <cstring>

namespace pellux::wayland::sway {

namespace {

constexpr char magic[] = "i3-ipc";
constexpr qsizetype magicSize = sizeof(magic) - 1;
constexpr qsizetype headerSize = magicSize + 2 * sizeof(quint32);

CaptureError failure(const QString &description)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain), description };
}

QString connectionProblem(const QLocalSocket &socket)
{
    switch (socket.error()) {
    case QLocalSocket::ServerNotFoundError:
        return QStringLiteral("no such socket (is sway running?)");
    case QLocalSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused (sway is gone)");
    case QLocalSocket::SocketAccessError:
        return QStringLiteral("permission denied");
    case QLocalSocket::SocketTimeoutError:
        return QStringLiteral("no answer");
    default:
        return socket.errorString();
    }
}

} // namespace

QByteArray encodeMessage(MessageType type, const QByteArray &payload)
{
    QByteArray message(magic, magicSize);
    const quint32 length = quint32(payload.size());
    const quint32 kind = quint32(type);
    message.append(reinterpret_cast<const char *>(&length), sizeof length);
    message.append(reinterpret_cast<const char *>(&kind), sizeof kind);
    message.append(payload);
    return message;
}

std::variant<Message, NeedMoreBytes, MalformedMessage> decodeMessage(const QByteArray &buffer, quint32 maxPayloadSize)
{
    const qsizetype compared = std::min(buffer.size(), magicSize);
    if (std::memcmp(buffer.constData(), magic, size_t(compared)) != 0)
        return MalformedMessage { QStringLiteral("the reply does not start with \"i3-ipc\"") };
    if (buffer.size() < headerSize)
        return NeedMoreBytes {};
    quint32 length = 0;
    quint32 type = 0;
    std::memcpy(&length, buffer.constData() + magicSize, sizeof length);
    std::memcpy(&type, buffer.constData() + magicSize + sizeof length, sizeof type);
    if (length > maxPayloadSize)
        return MalformedMessage { QStringLiteral("the reply announces %1 bytes").arg(length) };
    if (buffer.size() < headerSize + qsizetype(length))
        return NeedMoreBytes {};
    return Message { type, buffer.mid(headerSize, length), headerSize + qsizetype(length) };
}

IpcClient::IpcClient(QString socketPath)
    : m_socketPath(std::move(socketPath))
{
}

bool IpcClient::canConnect(int timeout_ms, QString &error) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (socket.waitForConnected(timeout_ms))
        return true;
    error = QStringLiteral("cannot connect to sway's IPC socket %1: %2").arg(m_socketPath, connectionProblem(socket));
    return false;
}

QCoro::Task<CaptureResult<QByteArray>> IpcClient::request(MessageType type, int timeout_ms) const
{
    const QString path = m_socketPath;
    const QDeadlineTimer deadline(timeout_ms);
    QLocalSocket socket;
    Waker waker;
    QObject::connect(&socket, &QLocalSocket::connected, &waker, &Waker::woke);
    QObject::connect(&socket, &QLocalSocket::readyRead, &waker, &Waker::woke);
    QObject::connect(&socket, &QLocalSocket::disconnected, &waker, &Waker::woke);
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &waker, &Waker::woke);
    socket.connectToServer(path);
    while (socket.state() == QLocalSocket::ConnectingState && !deadline.hasExpired())
        co_await qCoro(&waker, &Waker::woke, std::chrono::milliseconds(deadline.remainingTime()));
    if (socket.state() != QLocalSocket::ConnectedState)
        co_return failure(
            QStringLiteral("cannot connect to sway's IPC socket %1: %2").arg(path, connectionProblem(socket)));

    socket.write(encodeMessage(type));
    QByteArray buffer;
    while (true) {
        buffer.append(socket.readAll());
        const auto decoded = decodeMessage(buffer);
        if (const auto *message = std::get_if<Message>(&decoded)) {
            if (message->type != quint32(type))
                co_return failure(
                    QStringLiteral("sway answered message type %1 with type %2").arg(quint32(type)).arg(message->type));
            co_return message->payload;
        }
        if (const auto *malformed = std::get_if<MalformedMessage>(&decoded))
            co_return failure(QStringLiteral("sway's IPC reply is malformed: %1").arg(malformed->reason));
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            co_return failure(QStringLiteral("sway closed its IPC socket before answering"));
        if (deadline.hasExpired())
            co_return failure(QStringLiteral("sway did not answer on its IPC socket within %1 ms").arg(timeout_ms));
        if (socket.bytesAvailable() == 0)
            co_await qCoro(&waker, &Waker::woke, std::chrono::milliseconds(deadline.remainingTime()));
    }
}

} // namespace pellux::wayland::sway
