#pragma once

#include "runtime/Clock.h"
#include "ui/QmlWindow.h"

#include <QObject>

#include <memory>

class QQuickWindow;

namespace pellux {

class ApplicationIcons;
class CaptureBackend;
class MainViewModel;
class SettingsModel;
class SimpleDatabaseManager;
class StorageManager;

// The preferences window: the Qt Quick scene of settings/SettingsView.qml with its model, fixed at
// 800 by 500. Closing it only hides it. Main thread.
class SettingsWindow : public QObject {
    Q_OBJECT

public:
    struct Components {
        MainViewModel *viewModel;
        StorageManager *storage;
        SimpleDatabaseManager *database;
        CaptureBackend *backend;
        const Clock *clock = &Clock::system();
    };

    explicit SettingsWindow(Components components, QObject *parent = nullptr);
    ~SettingsWindow() override;

    // Builds the scene without showing it; false (and a log line) when it cannot load.
    bool build();
    // Each opening: the General pane, the running applications loaded again; shows and raises.
    void show();

    QQuickWindow *window() const;
    SettingsModel *model() const { return m_model.get(); }

private:
    Components m_components;
    std::shared_ptr<ApplicationIcons> m_icons; // shared with the image providers
    std::unique_ptr<SettingsModel> m_model;
    // Declared last: the scene goes before the models it shows.
    QmlWindow m_scene;
};

} // namespace pellux
