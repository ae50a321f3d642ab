#include "capture/wayland/portal/ScreenCastPortal.h"

#include "runtime/Log.h"
#include "runtime/SignalWait.h"

#include <QCoroDBusPendingCall>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QPointer>

#include <memory>

namespace pellux::wayland::portal {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

// Source types and persist modes of the ScreenCast interface.
constexpr uint kMonitorSource = 1;
constexpr uint kHiddenCursor = 1;
constexpr uint kPersistUntilRevoked = 2;
// Restore tokens and persist modes came with version 4 of the interface.
constexpr uint kRestoreTokenVersion = 4;

QString senderPathPart(const QDBusConnection &bus)
{
    // ":1.42" becomes "1_42", as the portal names request objects after the caller.
    QString name = bus.baseService();
    if (name.startsWith(QLatin1Char(':')))
        name.remove(0, 1);
    return name.replace(QLatin1Char('.'), QLatin1Char('_'));
}

template <typename T> PortalAnswer<T> failedWith(QString error) { return { Outcome::failed, T {}, std::move(error) }; }

} // namespace

void PortalResponse::onResponse(uint response, const QVariantMap &answer)
{
    if (arrived)
        return;
    arrived = true;
    code = response;
    results = answer;
    emit received();
}

ScreenCastPortal::ScreenCastPortal(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    auto *watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &ScreenCastPortal::onPortalOwnerChanged);
}

ScreenCastPortal::~ScreenCastPortal() { close(); }

void ScreenCastPortal::close()
{
    if (m_session.isEmpty())
        return;
    // Not waited for: the portal also ends the session when Pellux's connection goes.
    m_bus.asyncCall(QDBusMessage::createMethodCall(kService, m_session, kSession, QStringLiteral("Close")));
    forgetSession();
}

void ScreenCastPortal::forgetSession()
{
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(kService, m_session, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed(QVariantMap)));
    m_session.clear();
    m_started = false;
}

void ScreenCastPortal::onSessionClosed(const QVariantMap &)
{
    // A session that never started closes after a refusal or a failed start, already reported.
    if (!m_started) {
        forgetSession();
        return;
    }
    log::failure(QStringLiteral("ERROR PortalCaptureBackend: the desktop ended the screen-cast session "
                                "(screen sharing was stopped); capture needs a new one"));
    forgetSession();
    emit closed();
}

void ScreenCastPortal::onPortalOwnerChanged(const QString &, const QString &oldOwner, const QString &)
{
    if (oldOwner.isEmpty() || !m_started)
        return;
    log::failure(
        QStringLiteral("ERROR PortalCaptureBackend: the desktop portal went away; its screen-cast session is over"));
    forgetSession();
    emit closed();
}

QCoro::Task<PortalAnswer<uint>> ScreenCastPortal::readVersion()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    get.setArguments(QVariantList() << kScreenCast);
    const QDBusMessage reply = co_await m_bus.asyncCall(get, int(std::chrono::milliseconds(requestTimeout).count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return failedWith<uint>(
            QStringLiteral("the desktop portal offers no screen casting (%1: %2); is xdg-desktop-portal running "
                           "with a backend for this desktop?")
                .arg(reply.errorName(), reply.errorMessage()));
    const QVariantMap properties = plainDBusValue(reply.arguments().constFirst()).toMap();
    if (!properties.contains(QStringLiteral("AvailableSourceTypes")))
        co_return failedWith<uint>(QStringLiteral("the desktop portal offers no screen casting"));
    if (!(properties.value(QStringLiteral("AvailableSourceTypes")).toUInt() & kMonitorSource))
        co_return failedWith<uint>(QStringLiteral("the desktop's screen-cast portal cannot share monitors"));
    co_return PortalAnswer<uint> { Outcome::granted, properties.value(QStringLiteral("version")).toUInt(), {} };
}

QCoro::Task<PortalAnswer<QVariantMap>> ScreenCastPortal::request(
    QString method, QVariantList arguments, QVariantMap options, std::chrono::milliseconds timeout)
{
    const QString token = QStringLiteral("pellux%1").arg(++m_nextToken);
    options.insert(QStringLiteral("handle_token"), token);
    QString handle = QStringLiteral("%1/request/%2/%3").arg(kPath, senderPathPart(m_bus), token);
    // Subscribed before the call, so that an answer given at once is not missed.
    const auto response = std::make_unique<PortalResponse>();
    const auto subscribe = [&](const QString &path) {
        return m_bus.connect(
            kService, path, kRequest, QStringLiteral("Response"), response.get(), SLOT(onResponse(uint, QVariantMap)));
    };
    const auto unsubscribe = [&](const QString &path) {
        m_bus.disconnect(
            kService, path, kRequest, QStringLiteral("Response"), response.get(), SLOT(onResponse(uint, QVariantMap)));
    };
    if (!subscribe(handle))
        co_return failedWith<QVariantMap>(QStringLiteral("cannot listen for the portal's answer to %1").arg(method));

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
    arguments.append(options);
    call.setArguments(arguments);
    const QPointer<ScreenCastPortal> self(this);
    const QDBusMessage reply = co_await m_bus.asyncCall(call, int(std::chrono::milliseconds(requestTimeout).count()));
    if (!self)
        co_return failedWith<QVariantMap>(QStringLiteral("the portal session was discarded"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        unsubscribe(handle);
        co_return failedWith<QVariantMap>(
            QStringLiteral("%1 failed: %2 (%3)").arg(method, reply.errorMessage(), reply.errorName()));
    }
    // Portals before 0.9 chose the request path themselves.
    const QString given = qvariant_cast<QDBusObjectPath>(reply.arguments().constFirst()).path();
    if (!given.isEmpty() && given != handle && !response->arrived) {
        unsubscribe(handle);
        handle = given;
        subscribe(handle);
    }
    bool answered = response->arrived;
    if (!answered)
        answered = co_await nextEmission(response.get(), &PortalResponse::received, timeout);
    if (!self)
        co_return failedWith<QVariantMap>(QStringLiteral("the portal session was discarded"));
    unsubscribe(handle);
    if (!answered) {
        // Takes the dialog away, if there is one.
        m_bus.asyncCall(QDBusMessage::createMethodCall(kService, handle, kRequest, QStringLiteral("Close")));
        co_return failedWith<QVariantMap>(QStringLiteral("the portal did not answer %1 within %2 s")
                                              .arg(method)
                                              .arg(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()));
    }
    QVariantMap results;
    for (auto it = response->results.cbegin(); it != response->results.cend(); ++it)
        results.insert(it.key(), plainDBusValue(it.value()));
    switch (response->code) {
    case 0:
        co_return PortalAnswer<QVariantMap> { Outcome::granted, results, {} };
    case 1:
        co_return PortalAnswer<QVariantMap> { Outcome::refused, {},
            QStringLiteral("screen sharing was refused in the desktop's dialog") };
    default:
        co_return failedWith<QVariantMap>(
            QStringLiteral("the portal ended %1 without an answer (response %2)").arg(method).arg(response->code));
    }
}

QCoro::Task<PortalAnswer<StartedSession>> ScreenCastPortal::start(QString restoreToken)
{
    // The arguments are built as named values, not braced lists inside the awaited calls: GCC 12
    // cannot keep an initializer list alive across a suspension ("array used as initializer").
    close();
    if (!m_bus.isConnected())
        co_return failedWith<StartedSession>(
            QStringLiteral("there is no D-Bus session bus to reach the desktop portal on (%1)")
                .arg(m_bus.lastError().message()));
    const QPointer<ScreenCastPortal> self(this);
    const PortalAnswer<uint> version = co_await readVersion();
    if (!self || version.outcome != Outcome::granted)
        co_return failedWith<StartedSession>(version.error);

    QVariantMap creation;
    creation.insert(QStringLiteral("session_handle_token"), QStringLiteral("pellux_session%1").arg(++m_nextToken));
    PortalAnswer<QVariantMap> created
        = co_await request(QStringLiteral("CreateSession"), QVariantList(), creation, requestTimeout);
    if (!self)
        co_return failedWith<StartedSession>(QStringLiteral("the portal session was discarded"));
    if (created.outcome != Outcome::granted)
        co_return PortalAnswer<StartedSession> { created.outcome, StartedSession(), created.error };
    const QString session = created.value.value(QStringLiteral("session_handle")).toString();
    if (session.isEmpty())
        co_return failedWith<StartedSession>(QStringLiteral("the portal created a session without a handle"));
    m_session = session;
    m_bus.connect(kService, m_session, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed(QVariantMap)));
    QVariantList sessionArgument;
    sessionArgument.append(QVariant::fromValue(QDBusObjectPath(session)));

    QVariantMap selection;
    selection.insert(QStringLiteral("types"), kMonitorSource);
    // One stream per monitor.
    selection.insert(QStringLiteral("multiple"), true);
    // The pointer would only hide text under it.
    selection.insert(QStringLiteral("cursor_mode"), kHiddenCursor);
    if (version.value >= kRestoreTokenVersion) {
        selection.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        if (!restoreToken.isEmpty())
            selection.insert(QStringLiteral("restore_token"), restoreToken);
    }
    PortalAnswer<QVariantMap> selected
        = co_await request(QStringLiteral("SelectSources"), sessionArgument, selection, requestTimeout);
    if (!self)
        co_return failedWith<StartedSession>(QStringLiteral("the portal session was discarded"));
    if (selected.outcome != Outcome::granted) {
        close();
        co_return PortalAnswer<StartedSession> { selected.outcome, StartedSession(), selected.error };
    }

    QVariantList startArguments = sessionArgument;
    startArguments.append(QString()); // no parent window
    PortalAnswer<QVariantMap> started
        = co_await request(QStringLiteral("Start"), startArguments, QVariantMap(), consentTimeout);
    if (!self)
        co_return failedWith<StartedSession>(QStringLiteral("the portal session was discarded"));
    if (started.outcome != Outcome::granted) {
        close();
        co_return PortalAnswer<StartedSession> { started.outcome, StartedSession(), started.error };
    }
    CaptureResult<std::vector<PortalStream>> streams = parseStartStreams(started.value);
    if (!streams.ok()) {
        close();
        co_return failedWith<StartedSession>(streams.error().localizedDescription);
    }
    m_started = true;
    PortalAnswer<StartedSession> answer;
    answer.outcome = Outcome::granted;
    answer.value.streams = std::move(streams).value();
    answer.value.restoreToken = started.value.value(QStringLiteral("restore_token")).toString();
    co_return answer;
}

QCoro::Task<PortalAnswer<QDBusUnixFileDescriptor>> ScreenCastPortal::openPipeWireRemote()
{
    if (m_session.isEmpty())
        co_return failedWith<QDBusUnixFileDescriptor>(QStringLiteral("no screen-cast session is open"));
    QDBusMessage call
        = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, QStringLiteral("OpenPipeWireRemote"));
    call.setArguments({ QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap() });
    const QDBusMessage reply = co_await m_bus.asyncCall(call, int(std::chrono::milliseconds(requestTimeout).count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return failedWith<QDBusUnixFileDescriptor>(
            QStringLiteral("OpenPipeWireRemote failed: %1 (%2)").arg(reply.errorMessage(), reply.errorName()));
    const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
    if (!fd.isValid())
        co_return failedWith<QDBusUnixFileDescriptor>(QStringLiteral("OpenPipeWireRemote gave no file descriptor"));
    co_return PortalAnswer<QDBusUnixFileDescriptor> { Outcome::granted, fd, {} };
}

} // namespace pellux::wayland::portal
