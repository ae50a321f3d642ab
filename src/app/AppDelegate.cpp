#include "app/AppDelegate.h"

#include "app/AppComponents.h"
#include "app/CaptureLock.h"
#include "app/UpdateChecker.h"
#include "app/UpdateDialog.h"
#include "capture/ScreenshotService.h"
#include "diagnostics/DebugManager.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "storage/StorageManager.h"
#include "ui/AlertDialog.h"
#include "ui/DebugWindow.h"
#include "ui/FirstRun.h"
#include "ui/SearchWindow.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"
#include "ui/SymbolIcons.h"
#include "ui/WindowActions.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>

#include <qcorofuture.h>
#include <qcorotimer.h>

namespace pellux {

namespace {
const QString kStatusSymbol = QStringLiteral("mail.and.text.magnifyingglass");
const QColor kCapturingGreen(0x34, 0xC7, 0x59);
// The model is created this long after launch, once the event loop runs.
constexpr int kViewModelDelayMs = 100;
// Started with the session, Pellux may be up before the panel that hosts tray icons.
constexpr int kTrayGraceMs = 5000;
constexpr std::chrono::milliseconds kResetPause { 500 };
// Set in the settings file once the user was told that the desktop has no tray.
constexpr char kMissingTrayNoticeKey[] = "notices/missingSystemTray";
} // namespace

AppDelegate::AppDelegate(AppComponents &components, QObject *parent)
    : AppDelegate(
        Components {
            [&components] {
                return std::make_unique<MainViewModel>(
                    MainViewModel::Components { &components.capture(), &components.captureBackend(), {} });
            },
            &components.storage(),
            &components.database(),
            // Re-compression of old screenshots: a pass now, then hourly.
            &components.recompression(),
            &components.debug(),
            {},
            &components.recordingTexts(),
        },
        parent)
{
}

AppDelegate::AppDelegate(Components components, QObject *parent)
    : QObject(parent)
    , m_components(std::move(components))
{
    if (!m_components.sleep)
        m_components.sleep = [](std::chrono::milliseconds delay) { return QCoro::sleepFor(delay); };
    m_controls = std::make_unique<AppControls>(AppControls::Handlers {
        [this] { showPreferences(); },
        [this] { showDebugWindow(); },
        [this] { showAboutWindow(); },
        [this] {
            if (m_quitHandler)
                m_quitHandler();
            else
                QCoreApplication::quit();
        },
        [this](std::optional<TimePoint> until) { pauseUntil(until); },
        [this] { resumeScreenshots(); },
        [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
        [this] { showPrivacySettings(); },
    });
    m_resumeTimer.setSingleShot(true);
    connect(&m_resumeTimer, &QTimer::timeout, this, [this] {
        // A timer may fire early after a suspend: wait on until the pause's end has come.
        if (m_pausedUntil && Clock::system().now() < *m_pausedUntil) {
            pauseUntil(m_pausedUntil);
            return;
        }
        resumeScreenshots();
    });
}

AppDelegate::~AppDelegate()
{
    // The windows show the model: they go first.
    m_searchWindow.reset();
    m_debugWindow.reset();
    m_settingsWindow.reset();
    delete m_aboutBox.data();
}

void AppDelegate::applicationDidFinishLaunching(bool showWindowAtLaunch)
{
    m_showWindowWhenReady = showWindowAtLaunch;
    m_statusItem.setIcon(symbolIcon(kStatusSymbol));
    m_statusItem.setToolTip(QStringLiteral("Pellux"));
    m_statusItem.show();
    // A left click opens the window; the menu is on the right button (which the tray shows by itself).
    connect(&m_statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showMainWindow();
    });
    QTimer::singleShot(kViewModelDelayMs, this, [this] { createViewModel(); });
}

void AppDelegate::createViewModel()
{
    m_viewModel = m_components.makeViewModel();
    m_viewModel->setCaptureAllowed(!m_captureLock || m_captureLock->isHeld());
    const auto refresh = [this] {
        updateStatusIcon();
        constructMenu();
    };
    connect(m_viewModel.get(), &MainViewModel::isCapturingScreenshotsChanged, this, refresh);
    connect(m_viewModel.get(), &MainViewModel::hasScreenRecordingPermissionChanged, this, refresh);
    ScreenshotService *service = &m_viewModel->screenshotService();
    connect(service, &ScreenshotService::cycleFinished, this,
        [this, service] { m_controls->setInterval(service->currentInterval()); });
    connect(service, &ScreenshotService::recognitionDeferredChanged, this,
        [this, service] { m_controls->setRecognitionDeferred(service->recognitionDeferred()); });
    constructMenu();
    updateStatusIcon();
    // The first start explains itself in the window, even when started in the background.
    if (m_showWindowWhenReady || FirstRun::isPending()) {
        showMainWindow();
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            noteMissingTray();
    } else if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Without a tray nothing would show that Pellux runs, nor let the user reach it.
        QTimer::singleShot(kTrayGraceMs, this, [this] {
            if (QSystemTrayIcon::isSystemTrayAvailable())
                return;
            showMainWindow();
            noteMissingTray();
        });
    }
}

void AppDelegate::noteMissingTray()
{
    log::failure(QStringLiteral("Pellux: this desktop has no system tray; capturing without a tray icon"));
    if (AppPreferences::storedValue(QLatin1String(kMissingTrayNoticeKey)).toBool())
        return;
    if (const std::optional<QString> error = AppPreferences::storeValue(QLatin1String(kMissingTrayNoticeKey), true))
        log::failure(QStringLiteral("Pellux: cannot note that the missing tray was explained: %1").arg(*error));

    // In the window rather than an alert of its own, which would take the keyboard from the
    // search field.
    if (m_searchWindow)
        m_searchWindow->showNotice(QStringLiteral("This desktop shows no system tray, so Pellux has no icon or menu "
                                                  "here. It keeps capturing; start Pellux again to open this window."));
}

void AppDelegate::showMainWindow()
{
    if (!m_viewModel) {
        // Asked for before the model exists: it opens once the model is there.
        m_showWindowWhenReady = true;
        return;
    }
    if (!m_searchWindow) {
        SearchWindow::Components parts { m_viewModel.get(), &storage(), &database(), m_components.recompression };
        parts.texts = m_components.recordingTexts;
        parts.controls = m_controls.get();
        m_searchWindow = std::make_unique<SearchWindow>(parts);
    }
    m_searchWindow->show();
}

void AppDelegate::showDebugWindow()
{
    if (!m_viewModel)
        return;
    if (!m_debugWindow) {
        m_debugWindow = std::make_unique<DebugWindow>(
            DebugWindow::Components { m_viewModel.get(), m_components.debug, &storage(), &database() });
    }
    m_debugWindow->show();
}

void AppDelegate::showPreferences()
{
    if (!m_viewModel)
        return;
    if (!m_settingsWindow) {
        m_settingsWindow = std::make_unique<SettingsWindow>(
            SettingsWindow::Components { m_viewModel.get(), &storage(), &database(), &m_viewModel->backend() });
    }
    m_settingsWindow->show();
}

void AppDelegate::showPrivacySettings()
{
    showPreferences();
    if (m_settingsWindow)
        m_settingsWindow->model()->setSelectedSection(int(SettingsModel::Section::privacy));
}

void AppDelegate::showAboutWindow()
{
    if (!m_aboutBox) {
        m_aboutBox = new AlertDialog(QMessageBox::NoIcon, QStringLiteral("Pellux"),
            QStringLiteral("%1\n\nA searchable history of what was on your screen. Screenshots and their text stay on "
                           "this computer; only the update check goes online.")
                .arg(SettingsModel::applicationVersionText()),
            { { QStringLiteral("OK"), QMessageBox::AcceptRole } }, 0, 0);
        m_aboutBox->setWindowTitle(QStringLiteral("About Pellux"));
        m_aboutBox->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_aboutBox->show();
    m_aboutBox->raise();
    m_aboutBox->activateWindow();
}

void AppDelegate::openPermissionSettings()
{
    if (!QDesktopServices::openUrl(WindowActions::privacySettingsUrl()))
        log::failure(QStringLiteral("Pellux: cannot open %1").arg(WindowActions::privacySettingsUrl().toString()));
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

void AppDelegate::pauseUntil(std::optional<TimePoint> until)
{
    m_pausedUntil = until;
    m_resumeTimer.stop();
    if (until) {
        const double seconds = secondsSince1970(*until) - secondsSince1970(Clock::system().now());
        // QTimer takes an int of milliseconds: a long pause is waited for in steps of a day.
        m_resumeTimer.start(int(std::clamp(seconds * 1000.0, 0.0, 86'400'000.0)));
    }
    if (m_viewModel && m_viewModel->isCapturingScreenshots())
        pauseScreenshots();
    else
        updateStatusIcon();
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
    m_pausedUntil.reset();
    m_resumeTimer.stop();
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

void AppDelegate::resetDatabase()
{
    if (m_resetting)
        return;
    const int choice = runAlert(nullptr, QMessageBox::Warning, QStringLiteral("Reset Database?"),
        QStringLiteral("This will delete all screenshots and OCR data. This action cannot be undone."),
        { { QStringLiteral("Reset"), QMessageBox::DestructiveRole },
            { QStringLiteral("Cancel"), QMessageBox::RejectRole } },
        1, 1);
    if (choice == 0)
        resetEverything();
}

QCoro::Task<> AppDelegate::resetEverything()
{
    QPointer<AppDelegate> self(this);
    m_resetting = true;
    if (m_viewModel) {
        ScreenshotService &service = m_viewModel->screenshotService();
        service.stopCapturing();
        // The window being stored finishes before its files and rows go.
        QCoro::Task<> finishing = service.waitForCycle();
        co_await finishing;
        if (!self)
            co_return;
    }
    QCoro::Task<> pausing = m_components.sleep(kResetPause);
    co_await pausing;
    if (!self)
        co_return;
    // Everything the alert promised: the screenshot files with their list, then the database.
    QCoro::Task<bool> deleting = storage().deleteAllRecordings();
    const bool filesDeleted = co_await deleting;
    if (!self)
        co_return;
    auto [resetting, completion] = completionFuture(false);
    database().resetDatabase(std::move(completion));
    const bool databaseReset = co_await resetting;
    if (!self)
        co_return;
    storage().databaseCleared();
    QCoro::Task<> settling = m_components.sleep(kResetPause);
    co_await settling;
    if (!self)
        co_return;
    if (m_viewModel) {
        QCoro::Task<> starting = m_viewModel->startScreenshots();
        co_await starting;
        if (!self)
            co_return;
    }
    m_resetting = false;
    updateStatusIcon();
    constructMenu();
    if (!filesDeleted || !databaseReset)
        runAlert(nullptr, QMessageBox::Warning, QStringLiteral("Reset Database Failed"),
            QStringLiteral("Some screenshots or the database could not be deleted. The log names what failed."),
            { { QStringLiteral("OK"), QMessageBox::AcceptRole } }, 0, 0);
    emit resetFinished();
}

void AppDelegate::constructMenu()
{
    if (m_menu && m_menu->isVisible()) {
        // Replacing the menu would close it under the user's pointer: it is rebuilt once it closes.
        m_menuOutdated = true;
        return;
    }
    m_menuOutdated = false;
    auto menu = std::make_unique<QMenu>();
    if (m_viewModel) {
        if (m_viewModel->hasScreenRecordingPermission()) {
            const bool capturing = m_viewModel->isCapturingScreenshots();
            const QString state = capturing ? QStringLiteral("✓ Capturing Screenshots")
                : m_viewModel->captureAllowed()
                ? (m_pausedUntil ? m_controls->stateText() : QStringLiteral("Screenshots Paused"))
                : QStringLiteral("Another Pellux Process Is Capturing");
            menu->addAction(state)->setEnabled(false);
            menu->addSeparator();
            if (capturing) {
                menu->addAction(QStringLiteral("Pause Screenshots"), this, [this] { pauseUntil(std::nullopt); });
                QMenu *pauseFor = menu->addMenu(QStringLiteral("Pause For"));
                const std::pair<const char *, int> spans[]
                    = { { "30 Minutes", 30 }, { "1 Hour", 60 }, { "Until Tomorrow", -1 } };
                for (const auto &[title, minutes] : spans) {
                    pauseFor->addAction(QString::fromLatin1(title), this, [this, minutes = minutes] {
                        pauseUntil(AppControls::pauseEnd(minutes, Clock::system().now()));
                    });
                }
            } else {
                menu->addAction(QStringLiteral("Resume Screenshots"), this, &AppDelegate::resumeScreenshots);
            }
        } else {
            menu->addAction(QStringLiteral("\u26A0\uFE0F Screen Recording Permission Required"))->setEnabled(false);
            menu->addSeparator();
            menu->addAction(QStringLiteral("Grant Permission..."), this, &AppDelegate::openPermissionSettings);
        }
    }
    menu->addSeparator();
    menu->addAction(
        QStringLiteral("Open Timeline"), QKeySequence(QStringLiteral("Ctrl+T")), this, &AppDelegate::showMainWindow);
    menu->addAction(
        QStringLiteral("Debug View"), QKeySequence(QStringLiteral("Ctrl+D")), this, &AppDelegate::showDebugWindow);
    menu->addSeparator();
    menu->addAction(
        QStringLiteral("Preferences..."), QKeySequence(QStringLiteral("Ctrl+,")), this, &AppDelegate::showPreferences);
    menu->addAction(QStringLiteral("Check for Updates..."), this, &AppDelegate::checkForUpdates);
    menu->addAction(QStringLiteral("About Pellux"), this, &AppDelegate::showAboutWindow);
    QMenu *debug = menu->addMenu(QStringLiteral("Debug"));
    debug->addAction(QStringLiteral("Reset Database"), this, &AppDelegate::resetDatabase)->setEnabled(!m_resetting);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit"), QKeySequence(QStringLiteral("Ctrl+Q")), this, [this] {
        if (m_quitHandler)
            m_quitHandler();
        else
            QCoreApplication::quit();
    });
    // Which rows a user sees, for those who run Pellux with --verbose.
    connect(menu.get(), &QMenu::aboutToShow, this, [raw = menu.get()] {
        QStringList rows;
        for (QAction *action : raw->actions())
            rows << (action->isSeparator() ? QStringLiteral("-") : action->text());
        log::debug(QStringLiteral("DEBUG AppDelegate: Status menu shown: %1").arg(rows.join(QStringLiteral(" | "))));
    });
    connect(menu.get(), &QMenu::aboutToHide, this, [this] {
        if (m_menuOutdated)
            QTimer::singleShot(0, this, [this] { constructMenu(); });
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
    m_controls->setState(m_viewModel->isCapturingScreenshots(),
        m_viewModel->hasScreenRecordingPermission() && m_viewModel->captureAllowed(), m_pausedUntil);
    const QIcon icon = symbolIcon(kStatusSymbol);
    if (m_viewModel->isCapturingScreenshots()) {
        m_statusItem.setIcon(tintedIcon(icon, kCapturingGreen));
        m_statusItem.setToolTip(QStringLiteral("Pellux - Capturing"));
    } else {
        m_statusItem.setIcon(icon);
        m_statusItem.setToolTip(QStringLiteral("Pellux"));
    }
}

} // namespace pellux
