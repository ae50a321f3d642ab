#include "ui/MainViewModel.h"

#include "capture/CaptureBackend.h"
#include "capture/ScreenshotService.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"

#include <QCoroTimer>
#include <QPointer>

namespace pellux {

MainViewModel::MainViewModel(Components components, QObject *parent)
    : QObject(parent)
    , m_components(std::move(components))
    , m_preferences(AppPreferences::load())
{
    if (!m_components.sleep)
        m_components.sleep = [](std::chrono::milliseconds delay) { return QCoro::sleepFor(delay); };
    setupBindings();

    postTo(this, [this] { checkAndRequestPermissions(); });
    startPermissionCheckTimer();
}

MainViewModel::~MainViewModel() { m_permissionCheckTimer.stop(); }

void MainViewModel::setupBindings()
{
    ScreenshotService *service = m_components.screenshotService;
    connect(service, &ScreenshotService::isCapturingChanged, this,
        [this, service] { setIsCapturingScreenshots(service->isCapturing()); });
    connect(service, &ScreenshotService::captureCountChanged, this,
        [this, service] { setScreenshotCount(service->captureCount()); });
}

void MainViewModel::setPreferences(const AppPreferences &preferences)
{
    m_preferences = preferences;
    emit preferencesChanged();
}

QCoro::Task<> MainViewModel::startScreenshots()
{
    if (!m_captureAllowed)
        co_return;
    QPointer<MainViewModel> self(this);
    ScreenshotService &service = *m_components.screenshotService;
    m_startInProgress = true;
    // A stop (the user's, or a shutdown) made while this start is under way ends its retries.
    const quint64 stopsBefore = service.stopCount();
    co_await service.startCapturing();
    if (!self)
        co_return;
    if (service.isCapturing() || !m_hasScreenRecordingPermission) {
        m_startInProgress = false;
        co_return;
    }
    for (int attempt = 1; attempt <= maxStartRetries; ++attempt) {
        log::failure(QStringLiteral("Screenshot capture failed, retrying attempt %1...").arg(attempt));
        co_await m_components.sleep(retryDelay);
        if (!self)
            co_return;
        if (service.stopCount() != stopsBefore)
            break;
        co_await service.startCapturing();
        if (!self)
            co_return;
        if (service.isCapturing()) {
            log::info(QStringLiteral("Screenshot capture started successfully on attempt %1").arg(attempt));
            break;
        }
    }
    m_startInProgress = false;
}

QCoro::Task<bool> MainViewModel::probeScreenContent()
{
    const CaptureResult<ShareableContent> content = co_await m_components.backend->getShareableContent();
    co_return content.ok();
}

QCoro::Task<> MainViewModel::checkAndRequestPermissions()
{
    QPointer<MainViewModel> self(this);
    setHasScreenRecordingPermission(m_components.backend->preflightScreenCaptureAccess());
    if (!m_hasScreenRecordingPermission) {
        const bool accessible = co_await probeScreenContent();
        if (!self)
            co_return;
        if (!accessible) {
            m_components.backend->requestScreenCaptureAccess();
            setShowPermissionAlert(true);
            co_return;
        }
        setHasScreenRecordingPermission(true);
    }
    if (!m_captureAllowed)
        co_return;
    setIsCapturingScreenshots(true);
    co_await startScreenshots();
}

void MainViewModel::startPermissionCheckTimer()
{
    m_permissionCheckTimer.stop();
    m_permissionCheckTimer.disconnect(this);
    if (m_hasScreenRecordingPermission)
        return;
    connect(&m_permissionCheckTimer, &QTimer::timeout, this, [this] { recheckPermissions(); });
    m_permissionCheckTimer.start(permissionPollInterval);
}

QCoro::Task<> MainViewModel::recheckPermissions()
{
    QPointer<MainViewModel> self(this);
    setHasScreenRecordingPermission(m_components.backend->preflightScreenCaptureAccess());
    if (!m_hasScreenRecordingPermission) {
        const bool accessible = co_await probeScreenContent();
        if (!self)
            co_return;
        setHasScreenRecordingPermission(accessible);
        if (!accessible)
            co_return;
    }
    setShowPermissionAlert(false);
    m_permissionCheckTimer.stop();
    // A start already under way (its retries included) is left to finish on its own.
    if (m_captureAllowed && !m_isCapturingScreenshots && !m_startInProgress) {
        setIsCapturingScreenshots(true);
        co_await startScreenshots();
    }
}

template <typename T> void MainViewModel::assign(T &field, T value, void (MainViewModel::*changed)())
{
    if (field == value)
        return;
    field = value;
    emit(this->*changed)();
}

void MainViewModel::setIsCapturingScreenshots(bool on)
{
    assign(m_isCapturingScreenshots, on, &MainViewModel::isCapturingScreenshotsChanged);
}

void MainViewModel::setScreenshotCount(int count)
{
    assign(m_screenshotCount, count, &MainViewModel::screenshotCountChanged);
}

void MainViewModel::setHasScreenRecordingPermission(bool on)
{
    assign(m_hasScreenRecordingPermission, on, &MainViewModel::hasScreenRecordingPermissionChanged);
}

void MainViewModel::setShowPermissionAlert(bool on)
{
    assign(m_showPermissionAlert, on, &MainViewModel::showPermissionAlertChanged);
}

} // namespace pellux
