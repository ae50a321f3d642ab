#include "support/FakeCaptureBackend.h"

#include <QCoroTimer>

namespace pellux::test {

WindowDescription FakeCaptureBackend::window(quint32 id, QRectF frame, const QString &title,
    const std::optional<QString> &applicationName, const QString &bundleIdentifier, bool isOnScreen)
{
    WindowDescription w;
    w.windowID = id;
    w.frame = frame;
    w.isOnScreen = isOnScreen;
    if (!title.isEmpty())
        w.title = title;
    // Owned by a process that cannot exist (Linux hands out ids below 2^22): an id that
    // could be the test's own would make its windows Pellux's own, which are never captured.
    constexpr qint64 kFirstImpossiblePid = qint64(1) << 22;
    if (applicationName)
        w.owningApplication = RunningApplication { *applicationName, bundleIdentifier, kFirstImpossiblePid + id };
    return w;
}

FakeCaptureBackend::Entry *FakeCaptureBackend::find(quint32 id)
{
    auto it
        = std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry &e) { return e.window.windowID == id; });
    return it == m_entries.end() ? nullptr : &*it;
}

void FakeCaptureBackend::addWindow(const WindowDescription &window, const QImage &frame)
{
    removeWindow(window.windowID);
    m_entries.push_back({ window, frame.isNull() ? std::vector<QImage> {} : std::vector { frame }, std::nullopt });
}

void FakeCaptureBackend::removeWindow(quint32 id)
{
    std::erase_if(m_entries, [id](const Entry &e) { return e.window.windowID == id; });
}

void FakeCaptureBackend::setFrame(quint32 id, const QImage &frame)
{
    if (Entry *e = find(id))
        e->frames = { frame };
}

void FakeCaptureBackend::setCaptureError(quint32 id, std::optional<CaptureError> error)
{
    if (Entry *e = find(id))
        e->captureError = std::move(error);
}

QCoro::Task<CaptureResult<QImage>> FakeCaptureBackend::captureImage(
    const ContentFilter &filter, const StreamConfiguration &)
{
    const quint32 id = filter.window().windowID;
    m_captureOrder.push_back(id);
    Entry *e = find(id);
    if (e && e->captureError)
        co_return *e->captureError;
    if (!e || e->frames.empty())
        co_return CaptureError { QString::fromLatin1(captureFailureDomain),
            QString::fromLatin1(e ? "The window %1 has no contents" : "The window %1 no longer exists").arg(id) };
    QImage frame = e->frames.front();
    if (e->frames.size() > 1)
        e->frames.erase(e->frames.begin());
    co_return frame;
}

QCoro::Task<CaptureResult<ShareableContent>> FakeCaptureBackend::shareableContent(bool, bool onScreenWindowsOnly)
{
    ++m_contentRequests;
    if (m_contentDelay.count() > 0)
        co_await QCoro::sleepFor(m_contentDelay);
    if (m_contentError)
        co_return *m_contentError;
    if (!m_permission)
        co_return CaptureError { QString::fromLatin1(screenCaptureErrorDomain),
            QStringLiteral("Screen capture is not permitted") };
    ShareableContent content;
    for (const Entry &e : m_entries) {
        if (onScreenWindowsOnly && !e.window.isOnScreen)
            continue;
        content.windows.push_back(e.window);
        if (e.window.owningApplication
            && std::find(content.applications.begin(), content.applications.end(), *e.window.owningApplication)
                == content.applications.end())
            content.applications.push_back(*e.window.owningApplication);
    }
    co_return content;
}

} // namespace pellux::test
