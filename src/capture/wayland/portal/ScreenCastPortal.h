#pragma once

#include "capture/CaptureBackend.h"
#include "capture/wayland/portal/PortalStreams.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QVariantMap>

#include <chrono>

namespace pellux::wayland::portal {

// How a portal request ended.
enum class Outcome {
    granted,
    refused, // the user said no in the desktop's dialog (or closed it)
    failed, // no portal, no ScreenCast, a malformed answer, a timeout
};

struct StartedSession {
    std::vector<PortalStream> streams;
    // To be handed to the next session so that the desktop does not ask again; empty when the
    // portal keeps nothing.
    QString restoreToken;
};

template <typename T> struct PortalAnswer {
    Outcome outcome = Outcome::failed;
    T value {};
    QString error; // one readable sentence when not granted
};

// One session of org.freedesktop.portal.ScreenCast on the session bus: every monitor, kept open
// until closed or the object goes. Each call waits for its answer with a timeout, and closes the
// portal's request when it gives up, which takes a dialog still on screen away.
class ScreenCastPortal final : public QObject {
    Q_OBJECT
public:
    // How long the user may take over the consent dialog.
    static constexpr std::chrono::seconds consentTimeout { 120 };
    // Any other request and call.
    static constexpr std::chrono::seconds requestTimeout { 15 };

    explicit ScreenCastPortal(QDBusConnection bus, QObject *parent = nullptr);
    ~ScreenCastPortal() override;

    // CreateSession, SelectSources (every monitor, persistent, restored from `restoreToken` where
    // one is given) and Start. The desktop shows its dialog unless the token restores the last
    // choice.
    QCoro::Task<PortalAnswer<StartedSession>> start(QString restoreToken);
    // The PipeWire remote of the started session, on which its streams' nodes can be read.
    QCoro::Task<PortalAnswer<QDBusUnixFileDescriptor>> openPipeWireRemote();
    // Ends the session (the streams stop); nothing happens when none is open.
    void close();
    bool isOpen() const { return !m_session.isEmpty(); }

signals:
    // The desktop ended the session (the user stopped sharing, or the portal went away).
    void closed();

private slots:
    void onSessionClosed(const QVariantMap &details);
    void onPortalOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    // Arguments by value: a coroutine may outlive the expression that called it.
    QCoro::Task<PortalAnswer<QVariantMap>> request(
        QString method, QVariantList arguments, QVariantMap options, std::chrono::milliseconds timeout);
    QCoro::Task<PortalAnswer<uint>> readVersion();
    void forgetSession();

    QDBusConnection m_bus;
    QString m_session;
    // Set once Start succeeded: only then is a closed session news.
    bool m_started = false;
    int m_nextToken = 0;
};

// Receives the Response signal of one portal request.
class PortalResponse final : public QObject {
    Q_OBJECT
public:
    bool arrived = false;
    uint code = 2;
    QVariantMap results;

public slots:
    void onResponse(uint response, const QVariantMap &answer);

signals:
    void received();
};

} // namespace pellux::wayland::portal
