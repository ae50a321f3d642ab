#include "capture/wayland/wlroots/WlrootsCaptureBackend.h"

#include "capture/wayland/WaylandBackends.h"
#include "capture/wayland/wlroots/ShmImage.h"
#include "capture/wayland/wlroots/WlrootsScreenCapture.h"
#include "runtime/Log.h"

#include <algorithm>
#include <unordered_set>

namespace pellux::wayland {

namespace {

constexpr qint64 desktopEntriesMaxAge_ms = 5 * 60 * 1000;
const QString swayKeyPrefix = QStringLiteral("sway:");
const QString toplevelKeyPrefix = QStringLiteral("toplevel:");

CaptureError failure(const QString &description)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain), description };
}

CaptureError unreadable(const QString &description)
{
    return CaptureError { QString::fromLatin1(screenCaptureErrorDomain), description };
}

void addApplication(ShareableContent &content, const WindowDescription &window)
{
    if (window.owningApplication
        && std::find(content.applications.begin(), content.applications.end(), *window.owningApplication)
            == content.applications.end())
        content.applications.push_back(*window.owningApplication);
}

} // namespace

WlrootsCaptureBackend::WlrootsCaptureBackend(QString swaySocket, QString waylandDisplay)
    : m_waylandDisplay(std::move(waylandDisplay))
{
    if (swaySocket.isEmpty())
        swaySocket = qEnvironmentVariable("SWAYSOCK");
    if (!swaySocket.isEmpty())
        m_ipc.emplace(swaySocket);
}

WlrootsCaptureBackend::~WlrootsCaptureBackend() = default;

CaptureError WlrootsCaptureBackend::reportFailure(const QString &what, CaptureError error)
{
    QString &reported = m_reportedFailures[what];
    if (reported != error.localizedDescription) {
        reported = error.localizedDescription;
        log::failure(QStringLiteral("ERROR WlrootsCaptureBackend: %1").arg(error.localizedDescription));
    }
    return error;
}

void WlrootsCaptureBackend::noteSuccess(const QString &what) { m_reportedFailures.erase(what); }

std::shared_ptr<WlrootsScreenCapture> WlrootsCaptureBackend::screenCapture()
{
    if (m_screenCapture && m_screenCapture->isAlive())
        return m_screenCapture;
    // A compositor that went away may be back: connect again.
    m_screenCapture.reset();
    QString error;
    auto capture = WlrootsScreenCapture::open(m_waylandDisplay,
        m_ipc ? WlrootsScreenCapture::ToplevelList::notNeeded : WlrootsScreenCapture::ToplevelList::follow, error);
    if (!capture) {
        reportFailure(QStringLiteral("connect"), unreadable(error));
        return nullptr;
    }
    noteSuccess(QStringLiteral("connect"));
    m_screenCapture = std::move(capture);
    return m_screenCapture;
}

bool WlrootsCaptureBackend::preflightScreenCaptureAccess()
{
    const std::shared_ptr<WlrootsScreenCapture> capture = screenCapture();
    if (!capture)
        return false;
    if (!m_ipc)
        return capture->canListToplevels() && capture->canCaptureOutputs();
    QString error;
    if (!m_ipc->canConnect(replyTimeout_ms, error)) {
        reportFailure(QStringLiteral("ipc"), unreadable(error));
        return false;
    }
    return true;
}

void WlrootsCaptureBackend::requestScreenCaptureAccess()
{
    // wlroots compositors let any client copy the screen: there is nothing to ask.
    log::debug(QStringLiteral("DEBUG WlrootsCaptureBackend: screen access on wlroots needs no prompt"));
}

const DesktopEntryIndex &WlrootsCaptureBackend::desktopEntries()
{
    if (!m_desktopEntries || m_desktopEntriesAge.elapsed() > desktopEntriesMaxAge_ms) {
        m_desktopEntries = std::make_unique<DesktopEntryIndex>();
        m_desktopEntriesAge.start();
    }
    return *m_desktopEntries;
}

quint32 WlrootsCaptureBackend::windowIDFor(const QString &key)
{
    const auto found = m_windowIDs.find(key);
    if (found != m_windowIDs.end())
        return found->second;
    const quint32 id = m_nextWindowID++;
    m_windowIDs.emplace(key, id);
    m_windowKeys.emplace(id, key);
    return id;
}

QCoro::Task<CaptureResult<sway::Tree>> WlrootsCaptureBackend::readTree()
{
    CaptureResult<QByteArray> reply = co_await m_ipc->request(sway::MessageType::getTree, replyTimeout_ms);
    if (!reply)
        co_return reportFailure(QStringLiteral("ipc"), unreadable(reply.error().localizedDescription));
    noteSuccess(QStringLiteral("ipc"));
    CaptureResult<sway::Tree> tree = sway::parseTree(reply.value());
    if (!tree)
        co_return reportFailure(QStringLiteral("tree"), tree.error());
    noteSuccess(QStringLiteral("tree"));
    co_return tree;
}

QCoro::Task<CaptureResult<ShareableContent>> WlrootsCaptureBackend::shareableContent(bool, bool onScreenWindowsOnly)
{
    // Desktop windows (layer-shell surfaces) are never listed, so excluding them changes nothing.
    if (!m_ipc) {
        const std::shared_ptr<WlrootsScreenCapture> capture = screenCapture();
        if (!capture)
            co_return unreadable(QStringLiteral("the wlroots compositor cannot be reached"));
        if (!capture->canListToplevels())
            co_return reportFailure(QStringLiteral("list"),
                unreadable(QStringLiteral("SWAYSOCK is not set and the compositor offers no "
                                          "zwlr_foreign_toplevel_manager_v1 to list windows")));
        co_return foreignToplevelContent(*capture, onScreenWindowsOnly);
    }
    CaptureResult<sway::Tree> tree = co_await readTree();
    if (!tree)
        co_return tree.error();
    ShareableContent content;
    std::unordered_set<QString> present;
    const std::vector<sway::Window> windows = sway::frontToBack(tree.value().windows);
    log::debug(QStringLiteral("DEBUG WlrootsCaptureBackend: %1 windows listed by sway").arg(windows.size()));
    for (const sway::Window &window : windows) {
        const QString key = swayKeyPrefix + QString::number(window.id);
        present.insert(key);
        WindowDescription description = sway::describe(window, windowIDFor(key), desktopEntries());
        log::debug(QStringLiteral("DEBUG WlrootsCaptureBackend: window %1 \"%2\" (%3, process %4) %5 at %6,%7 %8x%9")
                       .arg(description.windowID)
                       .arg(window.title.value_or(QString()), window.appId)
                       .arg(window.pid)
                       .arg(QLatin1String(window.visible ? "on screen" : "not on screen"))
                       .arg(window.contentRect.x())
                       .arg(window.contentRect.y())
                       .arg(window.contentRect.width())
                       .arg(window.contentRect.height()));
        if (onScreenWindowsOnly && !description.isOnScreen)
            continue;
        addApplication(content, description);
        content.windows.push_back(std::move(description));
    }
    // Ids of closed windows are dropped; they are never handed out again.
    std::erase_if(m_windowIDs, [&](const auto &entry) {
        if (!entry.first.startsWith(swayKeyPrefix) || present.contains(entry.first))
            return false;
        m_windowKeys.erase(entry.second);
        return true;
    });
    co_return content;
}

ShareableContent WlrootsCaptureBackend::foreignToplevelContent(WlrootsScreenCapture &capture, bool onScreenWindowsOnly)
{
    ShareableContent content;
    std::unordered_set<QString> present;
    std::vector<WlrootsScreenCapture::ForeignToplevel> toplevels = capture.foreignToplevels();
    // The focused window first; the others' order is not known.
    std::stable_partition(toplevels.begin(), toplevels.end(), [](const auto &t) { return t.activated; });
    for (const WlrootsScreenCapture::ForeignToplevel &toplevel : toplevels) {
        const QString key = toplevelKeyPrefix + QString::number(toplevel.serial);
        present.insert(key);
        WindowDescription description;
        description.windowID = windowIDFor(key);
        description.title = toplevel.title;
        // Without geometry only a focused window that fills its output is known to be seen whole.
        const auto output = capture.outputGeometry(toplevel.outputName);
        description.isOnScreen = toplevel.activated && (toplevel.maximized || toplevel.fullscreen) && output;
        if (output)
            description.frame = QRectF(output->rect);
        if (!toplevel.appId.isEmpty())
            description.owningApplication = RunningApplication { toplevel.appId,
                desktopEntries().idForWindowClass(toplevel.appId, toplevel.appId).value_or(toplevel.appId), 0 };
        if (onScreenWindowsOnly && !description.isOnScreen)
            continue;
        addApplication(content, description);
        content.windows.push_back(std::move(description));
    }
    std::erase_if(m_windowIDs, [&](const auto &entry) {
        if (!entry.first.startsWith(toplevelKeyPrefix) || present.contains(entry.first))
            return false;
        m_windowKeys.erase(entry.second);
        return true;
    });
    return content;
}

QCoro::Task<CaptureResult<QImage>> WlrootsCaptureBackend::captureImage(
    const ContentFilter &filter, const StreamConfiguration &)
{
    // Pictures come at the output's pixel size (the window's size times the output's scale).
    const quint32 windowID = filter.window().windowID;
    const auto found = m_windowKeys.find(windowID);
    if (found == m_windowKeys.end())
        co_return failure(QStringLiteral("window %1 is not known (it closed, or was never listed)").arg(windowID));
    const QString key = found->second;
    std::shared_ptr<WlrootsScreenCapture> capture = screenCapture();
    if (!capture)
        co_return unreadable(QStringLiteral("the wlroots compositor cannot be reached"));
    // Not a conditional expression of two co_awaits: GCC 12 miscompiles those.
    CaptureResult<QImage> image;
    if (key.startsWith(swayKeyPrefix))
        image = co_await captureSwayWindow(capture, key.mid(swayKeyPrefix.size()).toLongLong());
    else
        image = co_await captureForeignToplevel(capture, key.mid(toplevelKeyPrefix.size()).toULongLong());
    if (!image)
        log::debug(QStringLiteral("DEBUG WlrootsCaptureBackend: capture of window %1 failed: %2")
                       .arg(windowID)
                       .arg(image.error().localizedDescription));
    co_return image;
}

QCoro::Task<CaptureResult<QImage>> WlrootsCaptureBackend::captureSwayWindow(
    std::shared_ptr<WlrootsScreenCapture> capture, qint64 id)
{
    // The window may have moved, or been hidden, since it was listed.
    CaptureResult<sway::Tree> tree = co_await readTree();
    if (!tree)
        co_return tree.error();
    const auto &windows = tree.value().windows;
    const auto window = std::find_if(windows.begin(), windows.end(), [id](const auto &w) { return w.id == id; });
    if (window == windows.end())
        co_return failure(QStringLiteral("the window closed"));
    if (capture->canCaptureToplevels()) {
        CaptureResult<QImage> image = co_await capture->captureToplevel(
            window->foreignToplevelIdentifier, window->appId, window->title.value_or(QString()), replyTimeout_ms);
        if (image || !window->visible)
            co_return image;
    }
    if (!window->visible)
        co_return failure(QStringLiteral("the window is hidden (another workspace, a tab or the scratchpad) and "
                                         "this compositor copies only what is on screen"));
    const sway::Output *output = sway::outputOf(tree.value(), *window);
    if (!output)
        co_return failure(QStringLiteral("the window is on no output"));
    if (!capture->hasOutput(output->name)) {
        // An output plugged in since the connection was made: its wl_output is on a new connection.
        m_screenCapture.reset();
        capture = screenCapture();
        if (!capture)
            co_return unreadable(QStringLiteral("the wlroots compositor cannot be reached"));
    }
    const QRect region = regionOnOutput(window->contentRect, output->rect);
    CaptureResult<QImage> image = co_await capture->captureOutputRegion(
        output->name, region, output->rect.size(), outputTransformFromName(output->transform), replyTimeout_ms);
    if (!image)
        co_return reportFailure(QStringLiteral("copy"), image.error());
    noteSuccess(QStringLiteral("copy"));
    co_return image;
}

QCoro::Task<CaptureResult<QImage>> WlrootsCaptureBackend::captureForeignToplevel(
    std::shared_ptr<WlrootsScreenCapture> capture, quint64 serial)
{
    const std::vector<WlrootsScreenCapture::ForeignToplevel> toplevels = capture->foreignToplevels();
    const auto toplevel
        = std::find_if(toplevels.begin(), toplevels.end(), [serial](const auto &t) { return t.serial == serial; });
    if (toplevel == toplevels.end())
        co_return failure(QStringLiteral("the window closed"));
    if (capture->canCaptureToplevels()) {
        CaptureResult<QImage> image
            = co_await capture->captureToplevel(QString(), toplevel->appId, toplevel->title, replyTimeout_ms);
        if (image)
            co_return image;
    }
    const auto output = capture->outputGeometry(toplevel->outputName);
    if (!toplevel->activated || !(toplevel->maximized || toplevel->fullscreen) || !output)
        co_return failure(QStringLiteral("without sway's IPC only a focused window that fills its output can be "
                                         "captured on this compositor"));
    CaptureResult<QImage> image = co_await capture->captureOutputRegion(output->name,
        QRect(QPoint(0, 0), output->rect.size()), output->rect.size(), output->transform, replyTimeout_ms);
    if (!image)
        co_return reportFailure(QStringLiteral("copy"), image.error());
    noteSuccess(QStringLiteral("copy"));
    co_return image;
}

std::unique_ptr<CaptureBackend> createWlrootsCaptureBackend() { return std::make_unique<WlrootsCaptureBackend>(); }

} // namespace pellux::wayland
