#include "app/SingleInstance.h"

#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace pellux {

namespace {
const QByteArray kShow = QByteArrayLiteral("show\n");
const QByteArray kPing = QByteArrayLiteral("ping\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
// A request is one short line; a peer that sends more is not a Pellux.
constexpr qint64 kMaxRequestBytes = 64;
// The running instance takes the lock a moment before it listens.
constexpr int kConnectRetryMs = 100;
} // namespace

QString SingleInstance::defaultFolder() { return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation); }

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_socketPath(QDir(folder).filePath(QStringLiteral("pellux.socket")))
    , m_lock(QDir(folder).filePath(QStringLiteral("pellux.lock")))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server) {
        m_server->close();
        m_server.reset();
    }
}

SingleInstance::Outcome SingleInstance::start(Request request)
{
    m_error.clear();
    QString error;
    if (!makePrivatePath(QFileInfo(m_socketPath).path(), &error)) {
        m_error = QStringLiteral("cannot create the runtime folder: %1").arg(error);
        return Outcome::failed;
    }
    switch (m_lock.tryLock(&error)) {
    case FileLock::Result::acquired:
        return listen() ? Outcome::running : Outcome::failed;
    case FileLock::Result::heldElsewhere:
        return handOver(request);
    case FileLock::Result::failed:
        m_error = error;
        return Outcome::failed;
    }
    return Outcome::failed;
}

SingleInstance::Outcome SingleInstance::handOver(Request request)
{
    const QDeadlineTimer deadline(answerTimeoutMs);
    QLocalSocket socket;
    while (true) {
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
            break;
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("the running Pellux does not accept connections: %1").arg(socket.errorString());
            return Outcome::noAnswer;
        }
        QThread::msleep(kConnectRetryMs);
    }
    socket.write(request == Request::show ? kShow : kPing);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        m_error = QStringLiteral("cannot reach the running Pellux: %1").arg(socket.errorString());
        return Outcome::noAnswer;
    }
    QByteArray answer;
    while (!answer.endsWith('\n') && answer.size() < kMaxRequestBytes) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        answer += socket.readAll();
    }
    if (answer != kAnswer) {
        m_error = QStringLiteral("the running Pellux did not answer in time");
        return Outcome::noAnswer;
    }
    return Outcome::handedOver;
}

bool SingleInstance::listen()
{
    // Holding the lock, any socket file is what a crashed instance left.
    if (QFile::exists(m_socketPath) && !QLocalServer::removeServer(m_socketPath)) {
        m_error = QStringLiteral("cannot remove the stale socket %1").arg(m_socketPath);
        m_lock.release();
        return false;
    }
    m_server = std::make_unique<QLocalServer>();
    if (!m_server->listen(m_socketPath)) {
        m_error = QStringLiteral("cannot listen on %1: %2").arg(m_socketPath, m_server->errorString());
        m_server.reset();
        m_lock.release();
        return false;
    }
    // The runtime folder is already private; the socket is too.
    if (!QFile::setPermissions(m_socketPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        log::failure(QStringLiteral("Pellux: cannot make %1 private").arg(m_socketPath));
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::serve);
    return true;
}

void SingleInstance::serve()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequestBytes) {
                    log::failure(QStringLiteral("Pellux: ignoring an oversized request on the instance socket"));
                    socket->abort();
                    socket->deleteLater();
                }
                return;
            }
            const QByteArray line = socket->readLine(kMaxRequestBytes + 1);
            if (line == kShow) {
                emit showRequested();
            } else if (line != kPing) {
                log::failure(QStringLiteral("Pellux: ignoring an unknown request on the instance socket: %1")
                                 .arg(QString::fromUtf8(line.trimmed().left(32))));
                socket->abort();
                socket->deleteLater();
                return;
            }
            socket->write(kAnswer);
            socket->disconnectFromServer();
        });
    }
}

} // namespace pellux
