#include "ui/SearchWindow.h"

#include "persistence/AppPreferences.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"
#include "storage/RecordingTextLoader.h"
#include "storage/StorageManager.h"
#include "ui/AppControls.h"
#include "ui/ApplicationIcons.h"
#include "ui/DayTimelineModel.h"
#include "ui/FirstRun.h"
#include "ui/ImageProviders.h"
#include "ui/MainViewModel.h"
#include "ui/MonthCalendarModel.h"
#include "ui/ScreenshotLoader.h"
#include "ui/ScreenshotViewerModel.h"
#include "ui/SearchModel.h"
#include "ui/WindowActions.h"
#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QScreen>

namespace pellux {

namespace {
constexpr char kGeometryKey[] = "searchWindow/geometry";
constexpr int kGeometrySaveDelayMs = 500;
} // namespace

SearchWindow::SearchWindow(Components components, QObject *parent)
    : QObject(parent)
    , m_components(components)
{
    m_geometrySave.setSingleShot(true);
    m_geometrySave.setInterval(kGeometrySaveDelayMs);
    connect(&m_geometrySave, &QTimer::timeout, this, &SearchWindow::saveGeometry);
}

SearchWindow::~SearchWindow()
{
    if (m_geometrySave.isActive())
        saveGeometry();
    // The scene goes next: its last signals find nothing left to save.
    if (QQuickWindow *w = m_scene.window())
        w->disconnect(this);
}

QRect SearchWindow::savedGeometry() { return AppPreferences::storedValue(QLatin1String(kGeometryKey)).toRect(); }

void SearchWindow::saveGeometry()
{
    m_geometrySave.stop();
    QQuickWindow *w = m_scene.window();
    if (!w || w->geometry() == savedGeometry())
        return;
    if (const std::optional<QString> error = AppPreferences::storeValue(QLatin1String(kGeometryKey), w->geometry()))
        log::failure(QStringLiteral("ERROR SearchWindow: cannot keep the window's place: %1").arg(*error));
}

bool SearchWindow::build()
{
    if (m_scene.isLoaded())
        return true;
    m_search = std::make_unique<SearchModel>(*m_components.database, *m_components.storage, *m_components.clock);
    m_actions = m_components.desktopSession
        ? std::make_unique<WindowActions>(m_components.viewModel, *m_components.storage, *m_components.desktopSession)
        : std::make_unique<WindowActions>(m_components.viewModel, *m_components.storage);
    m_icons = sharedApplicationIcons();
    m_loader = std::make_shared<ScreenshotLoader>(ScreenshotLoader::databaseLookup(*m_components.database));
    ScreenshotViewerModel::TextSource texts;
    if (RecordingTextLoader *loader = m_components.texts) {
        texts = [loader](const Recording &r, auto completion) { loader->load(r, std::move(completion)); };
    } else {
        // Without the loader, only the boxes the database holds.
        texts = [database = m_components.database](
                    const Recording &r, auto completion) { database->getRecordingText(r.id, std::move(completion)); };
    }
    m_viewer = std::make_unique<ScreenshotViewerModel>(*m_search, *m_components.storage, *m_loader, std::move(texts));
    m_firstRun = std::make_unique<FirstRun>(m_components.controls);
    m_dayTimeline = std::make_unique<DayTimelineModel>(*m_components.database, *m_components.clock, m_loader);
    connect(
        &m_search->updates(), &TimelineUpdates::capturesSaved, m_dayTimeline.get(), &DayTimelineModel::showNewCaptures);
    connect(&m_search->updates(), &TimelineUpdates::todayChanged, m_dayTimeline.get(), &DayTimelineModel::followToday);
    m_calendar = std::make_unique<MonthCalendarModel>(*m_components.database, *m_components.clock);
    // An open calendar marks the new day as today.
    connect(&m_search->updates(), &TimelineUpdates::todayChanged, m_calendar.get(), &MonthCalendarModel::markToday);
    connect(m_calendar.get(), &MonthCalendarModel::dayPicked, m_dayTimeline.get(), &DayTimelineModel::showDay);
    // "Pick a range" among the date filters opens the calendar in range mode; its pick filters.
    connect(m_calendar.get(), &MonthCalendarModel::rangePicked, m_search.get(), &SearchModel::setDateRange);
    // "Open" in the day view: the viewer shows the capture among that day's, to step through them.
    connect(m_dayTimeline.get(), &DayTimelineModel::openRequested, m_search.get(),
        [search = m_search.get(), day = m_dayTimeline.get()](
            const QString &recordingId) { search->reveal(QUuid(recordingId), day->day()); });
    const bool loaded = m_scene.load(QStringLiteral("Main.qml"), QStringLiteral("SearchWindow"),
        {
            { QStringLiteral("viewModel"), QVariant::fromValue<QObject *>(m_components.viewModel) },
            { QStringLiteral("search"), QVariant::fromValue<QObject *>(m_search.get()) },
            { QStringLiteral("storage"), QVariant::fromValue<QObject *>(m_components.storage) },
            { QStringLiteral("optimizer"), QVariant::fromValue<QObject *>(m_components.optimizer) },
            { QStringLiteral("actions"), QVariant::fromValue<QObject *>(m_actions.get()) },
            { QStringLiteral("controls"), QVariant::fromValue<QObject *>(m_components.controls) },
            { QStringLiteral("firstRun"), QVariant::fromValue<QObject *>(m_firstRun.get()) },
            { QStringLiteral("dayTimeline"), QVariant::fromValue<QObject *>(m_dayTimeline.get()) },
            { QStringLiteral("monthCalendar"), QVariant::fromValue<QObject *>(m_calendar.get()) },
        },
        [this](QQmlApplicationEngine &engine) {
            registerImageProviders(engine, m_loader, m_icons);
            engine.rootContext()->setContextProperty(QStringLiteral("applicationIcons"), m_icons.get());
            engine.rootContext()->setContextProperty(QStringLiteral("screenshotViewer"), m_viewer.get());
        });
    if (!loaded)
        return false;
    QQuickWindow *w = m_scene.window();
    m_actions->setWindow(w);
    const auto moved = [this, w] {
        if (w->isVisible())
            m_geometrySave.start();
    };
    for (auto changed : { &QWindow::xChanged, &QWindow::yChanged, &QWindow::widthChanged, &QWindow::heightChanged })
        connect(w, changed, this, moved);
    // A hidden window only notes the saves: it catches up when shown.
    m_search->updates().setWindowShown(w->isVisible());
    connect(w, &QWindow::visibleChanged, this, [this](bool visible) {
        m_search->updates().setWindowShown(visible);
        if (!visible)
            saveGeometry();
    });
    return true;
}

void SearchWindow::show()
{
    if (!build())
        return;
    QQuickWindow *w = m_scene.window();
    if (!w->isVisible()) {
        QList<QRect> screens;
        if (QScreen *primary = QGuiApplication::primaryScreen())
            screens << primary->availableGeometry();
        for (QScreen *screen : QGuiApplication::screens()) {
            if (screen != QGuiApplication::primaryScreen())
                screens << screen->availableGeometry();
        }
        const QRect place = placeWindow(savedGeometry(), screens, w->minimumSize());
        if (place.isValid())
            w->setGeometry(place);
    }
    m_scene.show();
}

QQuickWindow *SearchWindow::window() const { return m_scene.window(); }

void SearchWindow::showNotice(const QString &text)
{
    if (build())
        m_scene.window()->setProperty("notice", text);
}

} // namespace pellux
