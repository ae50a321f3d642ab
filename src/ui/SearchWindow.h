#pragma once

#include "capture/DesktopSession.h"

#include "runtime/Clock.h"
#include "ui/QmlWindow.h"

#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class QQuickWindow;

namespace pellux {

class AppControls;
class ApplicationIcons;
class DayTimelineModel;
class FirstRun;
class MainViewModel;
class MonthCalendarModel;
class RecordingTextLoader;
class ScreenshotLoader;
class ScreenshotViewerModel;
class SearchModel;
class SimpleDatabaseManager;
class StorageManager;
class WindowActions;

// The search window: the Qt Quick scene of Main.qml with its models. Built on the first show();
// closing it only hides it. Its size and place are kept in the settings file (when it is hidden,
// and shortly after it is moved or resized) and taken again at each show, on a screen there is
// now. Main thread.
class SearchWindow : public QObject {
    Q_OBJECT

public:
    struct Components {
        MainViewModel *viewModel = nullptr; // may be absent (tests, no capture)
        StorageManager *storage = nullptr;
        SimpleDatabaseManager *database = nullptr;
        QObject *optimizer = nullptr; // the re-compression service, for the storage popover
        const Clock *clock = &Clock::system();
        // The desktop whose permission steps the guide shows; by default the one Pellux runs in.
        std::optional<DesktopSession> desktopSession;
        // The recordings' text with its word boxes, for the viewer; without it the viewer copies
        // the stored text and marks no occurrences.
        RecordingTextLoader *texts = nullptr;
        // The application's controls (pause, preferences, quit...); absent in tests.
        AppControls *controls = nullptr;
    };

    explicit SearchWindow(Components components, QObject *parent = nullptr);
    ~SearchWindow() override;

    // Shows the window (building it first) and brings it to the front.
    void show();
    // Builds the scene without showing it; false (and a log line) when it cannot load.
    bool build();

    QQuickWindow *window() const;
    // A notice in a bar above the content, until the user closes it (builds the window first).
    void showNotice(const QString &text);
    SearchModel *searchModel() const { return m_search.get(); }
    ScreenshotViewerModel *viewerModel() const { return m_viewer.get(); }
    FirstRun *firstRun() const { return m_firstRun.get(); }
    DayTimelineModel *dayTimeline() const { return m_dayTimeline.get(); }
    MonthCalendarModel *calendar() const { return m_calendar.get(); }

    // The place kept for the window, invalid when none is.
    static QRect savedGeometry();

private:
    void saveGeometry();

    Components m_components;
    // Shared with the image providers, which may outlive the scene while a request ends.
    std::shared_ptr<ApplicationIcons> m_icons;
    std::unique_ptr<SearchModel> m_search;
    std::unique_ptr<WindowActions> m_actions;
    // The frames the views show and the viewer copies and opens, with one cache of rebuilt frames.
    std::shared_ptr<ScreenshotLoader> m_loader;
    std::unique_ptr<ScreenshotViewerModel> m_viewer;
    std::unique_ptr<FirstRun> m_firstRun;
    // The day view (Ctrl+D) and its date picker.
    std::unique_ptr<DayTimelineModel> m_dayTimeline;
    std::unique_ptr<MonthCalendarModel> m_calendar;
    // A move or resize is saved once the window has come to rest.
    QTimer m_geometrySave;
    // Declared last: the scene goes before the models it shows.
    QmlWindow m_scene;
};

} // namespace pellux
