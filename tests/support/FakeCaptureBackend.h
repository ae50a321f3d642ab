#pragma once

#include "capture/ActivitySource.h"
#include "capture/CaptureBackend.h"

#include "support/TestFiles.h"

namespace pellux::test {

// A capture backend whose windows, frames, permission and failures the test sets. Frames are
// returned per window; a queued sequence is consumed one frame per capture, and the last frame
// repeats.
class FakeCaptureBackend final : public CaptureBackend {
public:
    // A window description with an owner (omit the name for a window without one).
    static WindowDescription window(quint32 id, QRectF frame, const QString &title = {},
        const std::optional<QString> &applicationName = QStringLiteral("App"),
        const QString &bundleIdentifier = QStringLiteral("app"), bool isOnScreen = true);

    // Adds (or replaces) a window, listed after the ones already there, with the frame it shows.
    void addWindow(const WindowDescription &window, const QImage &frame = {});
    // The window disappears from the list; capturing it fails like a closed window.
    void removeWindow(quint32 id);
    void setFrame(quint32 id, const QImage &frame);

    void setPermission(bool granted) { m_permission = granted; }
    // Makes content queries fail with this error until cleared with std::nullopt.
    void setContentError(std::optional<CaptureError> error) { m_contentError = std::move(error); }
    void setCaptureError(quint32 id, std::optional<CaptureError> error);
    // Content queries answer only after this delay (so that callers really wait for them).
    void setContentDelay(std::chrono::milliseconds delay) { m_contentDelay = delay; }

    int contentRequests() const { return m_contentRequests; }
    int requestAccessCalls() const { return m_requestAccessCalls; }
    // Window ids in the order they were captured (failed captures included).
    const std::vector<quint32> &captureOrder() const { return m_captureOrder; }

    bool preflightScreenCaptureAccess() override { return m_permission; }
    void requestScreenCaptureAccess() override { ++m_requestAccessCalls; }
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly) override;

private:
    struct Entry {
        WindowDescription window;
        std::vector<QImage> frames;
        std::optional<CaptureError> captureError;
    };

    std::vector<Entry> m_entries;
    bool m_permission = true;
    std::optional<CaptureError> m_contentError;
    std::chrono::milliseconds m_contentDelay { 0 };
    int m_requestAccessCalls = 0, m_contentRequests = 0;
    std::vector<quint32> m_captureOrder;

    Entry *find(quint32 id);
};

// An activity source the test drives by emitting its signals directly.
class FakeActivitySource final : public ActivitySource {
    Q_OBJECT
public:
    using ActivitySource::ActivitySource;

    bool start() override { return ++startCalls > 0; }

    bool reportsInputEvents() const override { return !presenceOnly; }

    // A source that sees only idle and resume, as on Wayland.
    bool presenceOnly = false;
    int startCalls = 0;
};

} // namespace pellux::test
