#pragma once

#include <QCoro/QCoroTask>
#include <QImage>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace pellux {

// The error domain of a failed content query that means the screen cannot be read at all (no
// display server, or one that refuses to list windows): the capture service reports such a failure
// as a permission problem. Other failures carry `captureFailureDomain`.
inline constexpr char screenCaptureErrorDomain[] = "com.pellux.screencapture";
inline constexpr char captureFailureDomain[] = "com.pellux.screencapture.failure";

struct CaptureError {
    QString domain;
    QString localizedDescription;
};

// Either a value or the error that prevented it. Every backend operation answers with exactly one.
template <typename T> class CaptureResult {
public:
    // An error until assigned (default construction only serves containers and waiting helpers).
    CaptureResult()
        : m_state(CaptureError { QString::fromLatin1(captureFailureDomain), QStringLiteral("No result") })
    {
    }
    CaptureResult(T value)
        : m_state(std::move(value))
    {
    }
    CaptureResult(CaptureError error)
        : m_state(std::move(error))
    {
    }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return std::get<T>(m_state); }
    T &&value() && { return std::get<T>(std::move(m_state)); }
    const CaptureError &error() const { return std::get<CaptureError>(m_state); }

private:
    std::variant<T, CaptureError> m_state;
};

// A program that owns windows. On X11 `applicationName` is the WM_CLASS class (or the process
// name), `bundleIdentifier` the desktop-entry id that matches the window (or the WM_CLASS instance)
// and `processID` the window's _NET_WM_PID (0 when unknown).
struct RunningApplication {
    QString applicationName;
    QString bundleIdentifier;
    qint64 processID = 0;

    friend bool operator==(const RunningApplication &, const RunningApplication &) = default;
};

// One application window as the backend lists it. `windowID` stays the same while the window
// exists; `frame` is in screen coordinates, in points (pixels on X11).
struct WindowDescription {
    quint32 windowID = 0;
    QRectF frame;
    bool isOnScreen = false;
    std::optional<QString> title;
    std::optional<RunningApplication> owningApplication;
};

// A snapshot of what can be captured. `windows` lists the application windows front to back;
// panels, docks, desktops, menus, tooltips, notifications and splash screens are never listed.
// `applications` holds each owner of a listed window once.
struct ShareableContent {
    std::vector<WindowDescription> windows;
    std::vector<RunningApplication> applications;
};

// What one capture shows: a single window on its own, whatever covers it.
class ContentFilter {
public:
    static ContentFilter desktopIndependentWindow(const WindowDescription &window) { return ContentFilter(window); }

    const WindowDescription &window() const { return m_window; }

private:
    explicit ContentFilter(WindowDescription window)
        : m_window(std::move(window))
    {
    }

    WindowDescription m_window;
};

enum class CaptureResolution { automatic = 0, best = 1, nominal = 2 };

// The requested image size in points (the window's frame size, truncated). Backends without a
// scale factor deliver the window at its own pixel size.
struct StreamConfiguration {
    int width = 0;
    int height = 0;
    CaptureResolution captureResolution = CaptureResolution::best;
};

// The screen-capture service of the desktop session: the window list, single-window images and the
// screen-recording permission. Backends answer on the thread that called them; the X11 backend is
// used from the main thread.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static CaptureBackend &shared();

    // True when the screen can be read (on X11: the server is reachable and windows can be listed).
    // Never prompts.
    virtual bool preflightScreenCaptureAccess() = 0;
    // Asks the session to grant access where it has such a prompt; the result is not reported.
    virtual void requestScreenCaptureAccess() = 0;

    // Every window, on and off screen.
    QCoro::Task<CaptureResult<ShareableContent>> getShareableContent() { return shareableContent(false, false); }
    QCoro::Task<CaptureResult<ShareableContent>> getShareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly)
    {
        return shareableContent(excludingDesktopWindows, onScreenWindowsOnly);
    }

    // One image of the filter's window (Format_RGB32), or an error with a readable description, for
    // example when the window closed in the meantime.
    virtual QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration)
        = 0;

protected:
    virtual QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly)
        = 0;
};

} // namespace pellux
