#pragma once

#include "runtime/FileLock.h"

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace pellux {

// One Pellux application per user. The first instance holds the lock file "pellux.lock" in the
// runtime folder ($XDG_RUNTIME_DIR) and listens on the local socket "pellux.socket" beside it
// (0600); a later start asks it to show its window and ends. The lock, not the socket, decides
// who runs: a socket left by an instance that crashed is removed by the next one to take the lock,
// and two instances starting at once cannot both listen. Main thread.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        running, // this is the only instance: it listens now
        handedOver, // another instance runs and confirmed the request
        noAnswer, // another instance holds the lock but does not answer
        failed, // neither (see errorString())
    };
    enum class Request { show, none };

    static constexpr int answerTimeoutMs = 5000;

    // The runtime folder: $XDG_RUNTIME_DIR (Qt falls back to a private folder in /tmp).
    static QString defaultFolder();

    explicit SingleInstance(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Becomes the running instance, or hands `request` to the one running (waiting up to
    // answerTimeoutMs for its answer; with Request::none it only checks that one answers).
    // Blocks: call it at start, before the event loop runs.
    Outcome start(Request request = Request::show);

    const QString &socketPath() const { return m_socketPath; }
    const QString &errorString() const { return m_error; }
    // The process id of the running instance, when another one runs; 0 when unknown.
    pid_t runningPid() const { return m_lock.holderPid(); }

signals:
    // A later start asked for the window.
    void showRequested();

private:
    Outcome handOver(Request request);
    bool listen();
    void serve();

    QString m_socketPath;
    FileLock m_lock;
    std::unique_ptr<QLocalServer> m_server;
    QString m_error;
};

} // namespace pellux
