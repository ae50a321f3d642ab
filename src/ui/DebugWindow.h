#pragma once

#include "ui/QmlWindow.h"

#include <QObject>

#include <memory>

class QQuickWindow;

namespace pellux {

class DebugManager;
class DebugViewModel;
class MainViewModel;
class SimpleDatabaseManager;
class StorageManager;

// The debug window ("Debug View", 800 by 600): debug mode, the latest captured frame, recognised
// texts and performance figures. Built on the first show(); closing it only hides it and forgets
// the tab and the search text. A test capture under way keeps running (and the button disabled)
// after a close. Main thread.
class DebugWindow : public QObject {
    Q_OBJECT

public:
    struct Components {
        MainViewModel *viewModel = nullptr; // may be absent (tests): no test capture then
        DebugManager *debug = nullptr;
        StorageManager *storage = nullptr;
        SimpleDatabaseManager *database = nullptr;
    };

    explicit DebugWindow(Components components, QObject *parent = nullptr);
    ~DebugWindow() override;

    // Builds the scene without showing it; false (and a log line) when it cannot load.
    bool build();
    // Shows the window (building it on first use) and brings it to the front; the same window
    // each time.
    void show();

    QQuickWindow *window() const;
    // Present once built.
    DebugViewModel *model() const { return m_model.get(); }

private:
    Components m_components;
    std::unique_ptr<DebugViewModel> m_model;
    // Declared last: the scene goes before the model it shows.
    QmlWindow m_scene;
};

} // namespace pellux
