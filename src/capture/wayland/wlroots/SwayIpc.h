#pragma once

#include "capture/CaptureBackend.h"

#include <QByteArray>
#include <QString>

#include <variant>

namespace pellux::wayland::sway {

// The message types of sway's IPC (the i3 IPC) that Pellux sends.
enum class MessageType : quint32 { getOutputs = 3, getTree = 4 };

// One i3-ipc message: the magic "i3-ipc", the payload length and the type (both 32-bit, in the
// machine's byte order), then the payload.
QByteArray encodeMessage(MessageType type, const QByteArray &payload = {});

struct Message {
    quint32 type = 0;
    QByteArray payload;
    // How many bytes of the buffer the message took.
    qsizetype size = 0;
};
struct NeedMoreBytes { };
struct MalformedMessage {
    QString reason;
};
// The first message of `buffer`, or that more bytes are needed, or that the bytes are not i3-ipc.
// Payloads larger than `maxPayloadSize` are refused rather than buffered.
std::variant<Message, NeedMoreBytes, MalformedMessage> decodeMessage(
    const QByteArray &buffer, quint32 maxPayloadSize = 64 * 1024 * 1024);

// A client of sway's IPC socket ($SWAYSOCK): one connection per request, answered within a time
// limit.
class IpcClient {
public:
    explicit IpcClient(QString socketPath);

    const QString &socketPath() const { return m_socketPath; }

    // Whether the socket accepts a connection (blocking, at most `timeout_ms`); `error` says why not.
    bool canConnect(int timeout_ms, QString &error) const;

    // The payload of the reply to one request, or an error when the socket cannot be reached, the
    // reply is malformed or it does not come within `timeout_ms`.
    QCoro::Task<CaptureResult<QByteArray>> request(MessageType type, int timeout_ms) const;

private:
    QString m_socketPath;
};

} // namespace pellux::wayland::sway
