#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

namespace pellux {

class CaptureLock;
class MainViewModel;
class SearchWindow;
class UpdateChecker;

// Pellux's presence in the system tray: an icon that turns green while screenshots are being
// captured, and a menu that shows the capture state and pauses or resumes capture. Main thread.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence: the tray icon at once, the view model shortly after; with
    // `showWindowAtLaunch` the search window opens as soon as the model exists.
    void applicationDidFinishLaunching(bool showWindowAtLaunch = true);

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

    // "Check for Updates...": checks the feed this build names and shows the answer in an alert.
    // A click while a check runs is ignored.
    void checkForUpdates();

    void pauseScreenshots();
    void resumeScreenshots();
    // Rebuilds the tray menu from the model's state.
    void constructMenu();
    void updateStatusIcon();

private:
    QSystemTrayIcon m_statusItem;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<MainViewModel> m_viewModel;
    std::unique_ptr<SearchWindow> m_searchWindow;
    std::unique_ptr<UpdateChecker> m_updateChecker;
    bool m_showWindowWhenReady = false;
    CaptureLock *m_captureLock = nullptr;
    std::function<void()> m_quitHandler;
};

} // namespace pellux
