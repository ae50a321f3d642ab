#pragma once

#include "persistence/AppPreferences.h"

#include <QObject>
#include <QTimer>

#include <qcorotask.h>

#include <chrono>
#include <functional>

namespace pellux {

class CaptureBackend;
class ScreenshotService;

// The state the windows and the tray menu share: whether screenshots are being taken, how many,
// and whether the screen may be read. At construction it checks the permission, starts capture
// when it may (retrying a failed start), and polls for the permission until it is granted.
// Main thread only.
class MainViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(pellux::AppPreferences preferences READ preferences WRITE setPreferences NOTIFY preferencesChanged)
    Q_PROPERTY(bool isCapturingScreenshots READ isCapturingScreenshots NOTIFY isCapturingScreenshotsChanged)
    Q_PROPERTY(int screenshotCount READ screenshotCount NOTIFY screenshotCountChanged)
    Q_PROPERTY(
        bool hasScreenRecordingPermission READ hasScreenRecordingPermission NOTIFY hasScreenRecordingPermissionChanged)
    Q_PROPERTY(bool showPermissionAlert READ showPermissionAlert NOTIFY showPermissionAlertChanged)

public:
    static constexpr int maxStartRetries = 3;
    static constexpr std::chrono::milliseconds retryDelay { 1000 };
    static constexpr std::chrono::milliseconds permissionPollInterval { 2000 };

    // Waits the given time (QCoro::sleepFor in the application).
    using Sleep = std::function<QCoro::Task<>(std::chrono::milliseconds)>;

    struct Components {
        ScreenshotService *screenshotService = nullptr;
        CaptureBackend *backend = nullptr;
        Sleep sleep;
    };

    explicit MainViewModel(Components components, QObject *parent = nullptr);
    ~MainViewModel() override;

    const AppPreferences &preferences() const { return m_preferences; }
    void setPreferences(const AppPreferences &preferences);
    bool isCapturingScreenshots() const { return m_isCapturingScreenshots; }
    int screenshotCount() const { return m_screenshotCount; }
    bool hasScreenRecordingPermission() const { return m_hasScreenRecordingPermission; }
    bool showPermissionAlert() const { return m_showPermissionAlert; }
    ScreenshotService &screenshotService() const { return *m_components.screenshotService; }
    CaptureBackend &backend() const { return *m_components.backend; }
    const QTimer &permissionCheckTimer() const { return m_permissionCheckTimer; }

    // Starts capture, retrying up to three times a second apart while the permission is present;
    // a stop of the service meanwhile ends the retries.
    QCoro::Task<> startScreenshots();
    // The start-up check: starts capture when the screen is readable, else asks for access.
    QCoro::Task<> checkAndRequestPermissions();
    // One permission poll: once access is present, stops polling and starts capture (once).
    QCoro::Task<> recheckPermissions();
    // Whether this process may capture at all (another Pellux process may capture into the same
    // folder). While not allowed, no start happens; allowing it again does not start capture.
    void setCaptureAllowed(bool allowed) { m_captureAllowed = allowed; }
    bool captureAllowed() const { return m_captureAllowed; }
    // The permission alert was answered.
    void dismissPermissionAlert() { setShowPermissionAlert(false); }

signals:
    void preferencesChanged();
    void isCapturingScreenshotsChanged();
    void screenshotCountChanged();
    void hasScreenRecordingPermissionChanged();
    void showPermissionAlertChanged();

private:
    void setupBindings();
    void startPermissionCheckTimer();
    QCoro::Task<bool> probeScreenContent();
    void setIsCapturingScreenshots(bool on);
    void setScreenshotCount(int count);
    void setHasScreenRecordingPermission(bool on);
    void setShowPermissionAlert(bool on);
    template <typename T> void assign(T &field, T value, void (MainViewModel::*changed)());

    Components m_components;
    AppPreferences m_preferences;
    bool m_isCapturingScreenshots = false;
    int m_screenshotCount = 0;
    bool m_hasScreenRecordingPermission = false;
    bool m_showPermissionAlert = false;
    QTimer m_permissionCheckTimer;
    bool m_startInProgress = false;
    bool m_captureAllowed = true;
};

} // namespace pellux
