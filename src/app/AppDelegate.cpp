#include "app/AppDelegate.h"

#include "app/CaptureLock.h"
#include "app/MainViewModel.h"
#include "app/SymbolIcons.h"
#include "app/UpdateChecker.h"
#include "app/UpdateDialog.h"
#include "capture/ScreenshotService.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"
#include "storage/StorageManager.h"
#include "ui/SearchWindow.h"

#include <QApplication>
#include <QTimer>

#include <qcorotask.h>

namespace pellux {

namespace {
const QString kStatusSymbol = QStringLiteral("mail.and.text.magnifyingglass");
// The model is created this long after launch, once the event loop runs.
constexpr int kViewModelDelayMs = 100;
} // namespace

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
{
}

AppDelegate::~AppDelegate()
{
    // The window shows the model: it goes first.
    m_searchWindow.reset();
}

void AppDelegate::applicationDidFinishLaunching(bool showWindowAtLaunch)
{
    m_showWindowWhenReady = showWindowAtLaunch;
    // Re-compression of old screenshots: a pass now, then hourly.
    ScreenshotOptimizationService::shared();
    m_statusItem.setIcon(symbolIcon(kStatusSymbol));
    m_statusItem.setToolTip(QStringLiteral("Pellux"));
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        log::failure(QStringLiteral("Pellux: no system tray is available; capturing without a tray icon"));
    constructMenu();
    m_statusItem.show();

    QTimer::singleShot(kViewModelDelayMs, this, [this] {
        m_viewModel = std::make_unique<MainViewModel>();
        m_viewModel->setCaptureAllowed(!m_captureLock || m_captureLock->isHeld());
        const auto refresh = [this] {
            updateStatusIcon();
            constructMenu();
        };
        connect(m_viewModel.get(), &MainViewModel::isCapturingScreenshotsChanged, this, refresh);
        connect(m_viewModel.get(), &MainViewModel::hasScreenRecordingPermissionChanged, this, refresh);
        constructMenu();
        updateStatusIcon();
        if (m_showWindowWhenReady)
            showMainWindow();
    });
}

void AppDelegate::showMainWindow()
{
    if (!m_viewModel) {
        // Asked for before the model exists: it opens once the model is there.
        m_showWindowWhenReady = true;
        return;
    }
    if (!m_searchWindow) {
        m_searchWindow = std::make_unique<SearchWindow>(SearchWindow::Components { m_viewModel.get(),
            &StorageManager::shared(), &SimpleDatabaseManager::shared(), &ScreenshotOptimizationService::shared() });
    }
    m_searchWindow->show();
}

void AppDelegate::checkForUpdates()
{
    if (!m_updateChecker) {
        m_updateChecker = std::make_unique<UpdateChecker>(UpdateChecker::configuredFeedUrl());
        connect(m_updateChecker.get(), &UpdateChecker::finished, this,
            [](const UpdateCheckResult &result) { showUpdateResult(result); });
    }
    m_updateChecker->checkForUpdates();
}

void AppDelegate::pauseScreenshots()
{
    if (!m_viewModel)
        return;
    m_viewModel->screenshotService().stopCapturing();
    QTimer::singleShot(0, this, [this] {
        updateStatusIcon();
        constructMenu();
    });
}

void AppDelegate::resumeScreenshots()
{
    if (!m_viewModel)
        return;
    if (!m_viewModel->captureAllowed()) {
        // The process that held the lock may have ended since.
        if (m_captureLock && !m_captureLock->tryAcquire()) {
            log::failure(QStringLiteral("Pellux: not capturing: %1").arg(m_captureLock->refusal()));
            return;
        }
        m_viewModel->setCaptureAllowed(true);
    }
    QPointer<AppDelegate> self(this);
    m_viewModel->startScreenshots().then([self] {
        if (!self)
            return;
        self->updateStatusIcon();
        self->constructMenu();
    });
}

void AppDelegate::constructMenu()
{
    auto menu = std::make_unique<QMenu>();
    if (m_viewModel) {
        if (m_viewModel->hasScreenRecordingPermission()) {
            const bool capturing = m_viewModel->isCapturingScreenshots();
            const QString state = capturing     ? QStringLiteral("✓ Capturing Screenshots")
                : m_viewModel->captureAllowed() ? QStringLiteral("Screenshots Paused")
                                                : QStringLiteral("Another Pellux Process Is Capturing");
            menu->addAction(state)->setEnabled(false);
            menu->addSeparator();
            if (capturing)
                menu->addAction(QStringLiteral("Pause Screenshots"), this, &AppDelegate::pauseScreenshots);
            else
                menu->addAction(QStringLiteral("Resume Screenshots"), this, &AppDelegate::resumeScreenshots);
        } else {
            menu->addAction(QStringLiteral("\u26A0\uFE0F Screen Recording Permission Required"))->setEnabled(false);
        }
    }
    menu->addSeparator();
    menu->addAction(
        QStringLiteral("Open Timeline"), QKeySequence(QStringLiteral("Ctrl+T")), this, &AppDelegate::showMainWindow);
    menu->addAction(QStringLiteral("Check for Updates..."), this, &AppDelegate::checkForUpdates);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit"), QKeySequence(QStringLiteral("Ctrl+Q")), this, [this] {
        if (m_quitHandler)
            m_quitHandler();
        else
            QCoreApplication::quit();
    });
    m_statusItem.setContextMenu(menu.get());
    // The old menu may be open right now: let it close before it goes.
    if (m_menu)
        m_menu.release()->deleteLater();
    m_menu = std::move(menu);
}

void AppDelegate::updateStatusIcon()
{
    if (!m_viewModel)
        return;
    const QIcon icon = symbolIcon(kStatusSymbol);
    if (m_viewModel->isCapturingScreenshots()) {
        m_statusItem.setIcon(tintedIcon(icon, QColor(0x34, 0xC7, 0x59)));
        m_statusItem.setToolTip(QStringLiteral("Pellux - Capturing"));
    } else {
        m_statusItem.setIcon(icon);
        m_statusItem.setToolTip(QStringLiteral("Pellux"));
    }
}

} // namespace pellux
