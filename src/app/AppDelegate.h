#pragma once

#include "ui/AppControls.h"
#include "ui/MainViewModel.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace pellux {

class AlertDialog;
class AppComponents;
class CaptureLock;
class DebugManager;
class DebugWindow;
class RecordingTextLoader;
class SearchWindow;
class ScreenshotOptimizationService;
class SettingsWindow;
class SimpleDatabaseManager;
class StorageManager;
class UpdateChecker;

// Pellux's presence in the system tray: an icon that turns green while screenshots are being
// captured, and a menu that shows the capture state, pauses or resumes capture, opens the windows,
// checks for updates and resets the database. It owns the one view model that the tray menu and
// every window share. Main thread.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    struct Components {
        // Builds the view model shortly after launch.
        std::function<std::unique_ptr<MainViewModel>()> makeViewModel;
        StorageManager *storage = nullptr;
        SimpleDatabaseManager *database = nullptr;
        // The re-compression the search window shows; DebugManager the debug window shows.
        ScreenshotOptimizationService *recompression = nullptr;
        DebugManager *debug = nullptr;
        // The waits of the reset sequence (QCoro::sleepFor when absent).
        MainViewModel::Sleep sleep;
        // The recordings' text with its word boxes, for the screenshot viewer.
        RecordingTextLoader *recordingTexts = nullptr;
    };

    // The parts of the application, from its composition root.
    explicit AppDelegate(AppComponents &components, QObject *parent = nullptr);
    explicit AppDelegate(Components components, QObject *parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence: the tray icon at once, the view model shortly after; with
    // `showWindowAtLaunch` the search window opens as soon as the model exists. Without a system
    // tray the window opens anyway, and the user is told once why there is no icon.
    void applicationDidFinishLaunching(bool showWindowAtLaunch = true);

    // The launch sequence's second step, run from the event loop: builds the model, binds the icon
    // and the menu to it, and opens the window when asked to.
    void createViewModel();
    MainViewModel *viewModel() const { return m_viewModel.get(); }
    QSystemTrayIcon &statusItem() { return m_statusItem; }
    QMenu *menu() const { return m_menu.get(); }

    // The lock that lets this process capture into the Pellux folder. Unheld, capture stays off
    // (another process captures) until "Resume Screenshots" manages to take it. Without a lock the
    // delegate captures freely. Set before applicationDidFinishLaunching; not owned.
    void setCaptureLock(CaptureLock *lock) { m_captureLock = lock; }

    // What "Quit" does; without a handler it quits the application at once.
    void setQuitHandler(std::function<void()> handler) { m_quitHandler = std::move(handler); }

    // "Open Timeline": shows the search window, building it on first use, and brings it forward.
    void showMainWindow();
    SearchWindow *searchWindow() const { return m_searchWindow.get(); }
    // "Debug View" and "Preferences...": open their window on first use, then show the same one.
    // Nothing happens before the model exists.
    void showDebugWindow();
    void showPreferences();
    // The preferences opened on their Privacy pane.
    void showPrivacySettings();
    DebugWindow *debugWindow() const { return m_debugWindow.get(); }
    SettingsWindow *settingsWindow() const { return m_settingsWindow.get(); }
    // "About Pellux": the name, version and what Pellux keeps to itself.
    void showAboutWindow();
    // "Grant Permission...": the page that explains how to let Pellux read the screen.
    void openPermissionSettings();

    // "Check for Updates...": checks the feed this build names and shows the answer in an alert.
    // A click while a check runs is ignored.
    void checkForUpdates();

    void pauseScreenshots();
    void resumeScreenshots();
    // Pauses until `until` (local time), then resumes by itself; none pauses until resumed.
    void pauseUntil(std::optional<TimePoint> until);
    // The tray menu's controls as the window offers them.
    AppControls &controls() { return *m_controls; }
    // "Reset Database": asks for confirmation, then runs resetEverything().
    void resetDatabase();
    // Stops capture, deletes every screenshot, its text and the database file's contents, then
    // starts capture again about a second later. Emits resetFinished at the end.
    QCoro::Task<> resetEverything();

    // Rebuilds the tray menu from the model's state.
    void constructMenu();
    void updateStatusIcon();

signals:
    void resetFinished();

private:
    StorageManager &storage() { return *m_components.storage; }
    SimpleDatabaseManager &database() { return *m_components.database; }
    void noteMissingTray();

    Components m_components;
    QSystemTrayIcon m_statusItem;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<MainViewModel> m_viewModel;
    std::unique_ptr<SearchWindow> m_searchWindow;
    std::unique_ptr<DebugWindow> m_debugWindow;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    std::unique_ptr<UpdateChecker> m_updateChecker;
    std::unique_ptr<AppControls> m_controls;
    // Ends a pause for a while; its end, shown in the window and the menu.
    QTimer m_resumeTimer;
    std::optional<TimePoint> m_pausedUntil;
    QPointer<AlertDialog> m_aboutBox;
    bool m_showWindowWhenReady = false;
    bool m_resetting = false;
    bool m_menuOutdated = false;
    CaptureLock *m_captureLock = nullptr;
    std::function<void()> m_quitHandler;
};

} // namespace pellux
