#include "capture/wayland/portal/PortalCaptureBackend.h"

#include "capture/wayland/PipeWireStream.h"
#include "runtime/Log.h"
#include "runtime/SignalWait.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace pellux::wayland {

using namespace portal;

namespace {

// Capture runs every second or more: more frames would only cost the compositor.
constexpr int kMaxFramesPerSecond = 2;
// The first frame of a new stream; later ones are already held.
constexpr std::chrono::seconds kFrameTimeout { 5 };

} // namespace

PortalCaptureBackend::PortalCaptureBackend(QDBusConnection bus, RestoreTokenStore tokens)
    : m_bus(std::move(bus))
    , m_tokens(std::move(tokens))
    , m_portal(std::make_unique<ScreenCastPortal>(m_bus))
{
    QObject::connect(m_portal.get(), &ScreenCastPortal::closed, &m_startNotifier, [this] { endSession(); });
}

PortalCaptureBackend::~PortalCaptureBackend() = default;

bool PortalCaptureBackend::preflightScreenCaptureAccess() { return !m_streams.empty(); }

void PortalCaptureBackend::requestScreenCaptureAccess()
{
    if (!m_streams.empty() || m_starting)
        return;
    m_refused = false;
    startSession();
}

CaptureError PortalCaptureBackend::notStarted() const
{
    return CaptureError { QString::fromLatin1(screenCaptureErrorDomain),
        m_lastError.isEmpty()
            ? QStringLiteral("Screen sharing has not been allowed yet: Pellux asks through the desktop's dialog")
            : m_lastError };
}

quint32 PortalCaptureBackend::windowIDFor(const QString &streamKey)
{
    auto it = m_windowIDs.constFind(streamKey);
    if (it == m_windowIDs.cend())
        it = m_windowIDs.insert(streamKey, m_nextWindowID++);
    return *it;
}

void PortalCaptureBackend::endSession()
{
    m_streams.clear();
    ++m_session;
    while (!m_readers.empty())
        retireReader(m_readers.begin()->first);
}

void PortalCaptureBackend::retireReader(quint32 nodeID)
{
    const auto it = m_readers.find(nodeID);
    if (it == m_readers.end())
        return;
    m_retiredReaders.push_back(std::move(it->second));
    m_readers.erase(it);
    if (m_capturesInFlight == 0)
        m_retiredReaders.clear();
}

QCoro::Task<> PortalCaptureBackend::startSession()
{
    m_starting = true;
    m_restoreTried = true;
    const QString token = m_tokens.load ? m_tokens.load() : QString();
    log::debug(QStringLiteral("DEBUG PortalCaptureBackend: starting a screen-cast session%1")
                   .arg(token.isEmpty() ? QStringLiteral(" (the desktop asks the user)")
                                        : QStringLiteral(" with the last session's restore token")));
    QElapsedTimer clock;
    clock.start();
    PortalAnswer<StartedSession> answer = co_await m_portal->start(token);
    switch (answer.outcome) {
    case Outcome::granted:
        endSession();
        m_streams = std::move(answer.value.streams);
        m_lastError.clear();
        if (!answer.value.restoreToken.isEmpty() && answer.value.restoreToken != token && m_tokens.save)
            m_tokens.save(answer.value.restoreToken);
        log::info(QStringLiteral("Screen casting started through the desktop portal: %1 monitor(s) in %2 ms")
                      .arg(m_streams.size())
                      .arg(clock.elapsed()));
        break;
    case Outcome::refused:
        m_refused = true;
        m_lastError = QStringLiteral("Screen sharing was refused in the desktop's dialog");
        // A refused grant is not restored.
        if (!token.isEmpty() && m_tokens.save)
            m_tokens.save(QString());
        log::failure(QStringLiteral("ERROR PortalCaptureBackend: screen sharing was refused in the desktop's dialog; "
                                    "nothing is captured until it is allowed"));
        break;
    case Outcome::failed:
        m_lastError = QStringLiteral("Screen casting through the desktop portal failed: %1").arg(answer.error);
        log::failure(QStringLiteral("ERROR PortalCaptureBackend: cannot start screen casting: %1").arg(answer.error));
        break;
    }
    m_starting = false;
    emit m_startNotifier.finished();
}

QCoro::Task<bool> PortalCaptureBackend::awaitStart()
{
    if (m_starting) {
        // The portal gives up on the dialog first; the margin only covers its other calls.
        co_await nextEmission(&m_startNotifier, &StartNotifier::finished,
            std::chrono::milliseconds(ScreenCastPortal::consentTimeout + 4 * ScreenCastPortal::requestTimeout));
    } else if (m_streams.empty() && !m_refused && !m_restoreTried && m_tokens.load && !m_tokens.load().isEmpty()) {
        // An earlier run's choice restores without a dialog, so listing may start the session itself.
        co_await startSession();
    }
    co_return !m_streams.empty();
}

QCoro::Task<CaptureResult<ShareableContent>> PortalCaptureBackend::shareableContent(bool, bool)
{
    if (!co_await awaitStart())
        co_return notStarted();
    ShareableContent content;
    content.windows = monitorWindows(m_streams, [this](const QString &key) { return windowIDFor(key); });
    if (!content.windows.empty())
        content.applications.push_back(*content.windows.front().owningApplication);
    co_return content;
}

QCoro::Task<CaptureResult<PipeWireStream *>> PortalCaptureBackend::readerFor(const PortalStream &stream)
{
    if (const auto it = m_readers.find(stream.nodeID); it != m_readers.end() && it->second->isAlive())
        co_return it->second.get();
    retireReader(stream.nodeID);
    const quint64 session = m_session;
    // A remote per stream: PipeWire's protocol on one socket belongs to one connection.
    const PortalAnswer<QDBusUnixFileDescriptor> remote = co_await m_portal->openPipeWireRemote();
    if (remote.outcome != Outcome::granted)
        co_return CaptureError { QString::fromLatin1(captureFailureDomain), remote.error };
    // Node ids are reused by PipeWire: a stream of an ended session must not be opened.
    if (session != m_session)
        co_return CaptureError { QString::fromLatin1(captureFailureDomain),
            QStringLiteral("screen sharing ended while the monitor was being opened") };
    const int fd = fcntl(remote.value.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        co_return CaptureError { QString::fromLatin1(captureFailureDomain),
            QStringLiteral("cannot keep the PipeWire remote: %1").arg(QString::fromLocal8Bit(strerror(errno))) };
    PipeWireStreamOptions options;
    options.remoteFd = fd;
    options.maxFramesPerSecond = kMaxFramesPerSecond;
    options.name = QStringLiteral("pellux-portal-capture");
    CaptureResult<std::unique_ptr<PipeWireStream>> opened = PipeWireStream::open(stream.nodeID, options);
    if (!opened.ok())
        co_return opened.error();
    PipeWireStream *reader = opened.value().get();
    m_readers[stream.nodeID] = std::move(opened).value();
    co_return reader;
}

QCoro::Task<CaptureResult<QImage>> PortalCaptureBackend::captureImage(
    const ContentFilter &filter, const StreamConfiguration &)
{
    if (m_streams.empty())
        co_return notStarted();
    const auto stream = std::find_if(m_streams.cbegin(), m_streams.cend(),
        [&](const PortalStream &candidate) { return m_windowIDs.value(candidate.key) == filter.window().windowID; });
    if (stream == m_streams.cend())
        co_return CaptureError { QString::fromLatin1(captureFailureDomain),
            QStringLiteral("Screen %1 is no longer shared").arg(filter.window().windowID) };
    const PortalStream shared = *stream;
    QElapsedTimer clock;
    clock.start();
    ++m_capturesInFlight;
    CaptureResult<QImage> image = CaptureError { QString::fromLatin1(captureFailureDomain), QString() };
    const CaptureResult<PipeWireStream *> reader = co_await readerFor(shared);
    if (reader.ok())
        image = co_await reader.value()->frame(kFrameTimeout);
    else
        image = reader.error();
    if (--m_capturesInFlight == 0)
        m_retiredReaders.clear();
    if (image.ok())
        log::debug(QStringLiteral("DEBUG PortalCaptureBackend: monitor node %1 read in %2 ms")
                       .arg(shared.nodeID)
                       .arg(clock.elapsed()));
    if (!image.ok()) {
        log::debug(QStringLiteral("DEBUG PortalCaptureBackend: capture of monitor node %1 failed: %2")
                       .arg(shared.nodeID)
                       .arg(image.error().localizedDescription));
        // The next capture opens the stream again.
        retireReader(shared.nodeID);
    }
    co_return image;
}

} // namespace pellux::wayland
