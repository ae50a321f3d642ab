// Renders every state of the search window offscreen, at the smallest and at a large size, and
// saves the pictures (to $PELLUX_RENDER_DIR, else build/ui-renders) for a person to look at; each
// state's view must be the one shown. A view that cannot load, or renders nothing, fails the test.
#include "WindowRender.h"
#include "support/CapturePipeline.h"
#include "support/ListedRecordings.h"
#include "support/SampleHistory.h"
#include "ui/SearchModel.h"
#include "ui/SearchWindow.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

namespace pellux {
namespace {

using test::CapturePipeline;
using test::runEventsUntil;

// The published state of a re-compression run, frozen half-way for the picture.
class RunningOptimizer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isOptimizing READ isOptimizing CONSTANT)
    Q_PROPERTY(double optimizationProgress READ optimizationProgress CONSTANT)
    Q_PROPERTY(qint64 savedBytes READ savedBytes CONSTANT)

public:
    bool isOptimizing() const { return true; }
    double optimizationProgress() const { return 0.42; }
    qint64 savedBytes() const { return 734'003'200; }
};

class SearchWindowRenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    SearchWindowRenderTest()
    {
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.useDynamicIntervals = false;
        pipeline.savePreferences(preferences);
        pipeline.makeService();
    }

    void makeWindow(QObject *optimizer = nullptr, std::optional<DesktopSession> session = std::nullopt)
    {
        window = std::make_unique<SearchWindow>(SearchWindow::Components {
            nullptr, pipeline.storage.get(), pipeline.database.get(), optimizer, &pipeline.clock, session });
        ASSERT_TRUE(window->build());
        window->window()->show();
    }

    QQuickItem *find(const char *name) const { return window->window()->findChild<QQuickItem *>(QLatin1String(name)); }

    void search(const QString &text)
    {
        QSignalSpy shown(window->searchModel(), &SearchModel::resultsShown);
        window->searchModel()->setSearchText(text);
        if (window->searchModel()->isSearching())
            shown.wait(10000);
    }

    // Saves the window at both sizes as <name>-<width>x<height>.png.
    void render(const QString &name)
    {
        test::renderWindow(window->window(), name, { QSize(800, 600), QSize(1600, 1000) });
    }

    CapturePipeline pipeline;
    std::unique_ptr<SearchWindow> window;
};

TEST_F(SearchWindowRenderTest, EveryStateOfTheWindow)
{
    test::captureSampleHistory(pipeline);
    const std::vector<Recording> recordings = test::listedRecordings(*pipeline.storage);
    ASSERT_GE(recordings.size(), 3u);

    makeWindow();
    ASSERT_NE(find("blankSlate"), nullptr);
    EXPECT_TRUE(find("blankSlate")->isVisible());
    render(QStringLiteral("blank-slate"));
    window->showNotice(QStringLiteral("This desktop shows no system tray, so Pellux has no icon or menu here."));
    render(QStringLiteral("notice"));
    ASSERT_NE(find("noticeClose"), nullptr);
    window->window()->setProperty("notice", QString());
    EXPECT_FALSE(find("noticeBar")->isVisible());

    search(QStringLiteral("bu"));
    EXPECT_TRUE(find("minimumCharacters")->isVisible());
    render(QStringLiteral("hint"));

    // A search answers in a millisecond: the state is set by hand for its picture.
    QQuickItem *content = find("searchingState");
    ASSERT_NE(content, nullptr);
    QQuickItem *area = content->parentItem();
    area->setProperty("shownState", int(SearchModel::ContentState::Searching));
    render(QStringLiteral("searching"));

    search(QStringLiteral("nothing like this"));
    EXPECT_TRUE(find("noResults")->isVisible());
    render(QStringLiteral("no-results"));

    search(QStringLiteral("budget"));
    ASSERT_EQ(window->searchModel()->contentState(), SearchModel::ContentState::Results);
    EXPECT_GE(window->searchModel()->results()->count(), 3);
    EXPECT_TRUE(find("resultsGrid")->isVisible());
    window->searchModel()->setSelectedIndex(1);
    render(QStringLiteral("results"));

    // The viewer, opened on the newest frame (a delta frame).
    QQuickItem *grid = find("resultsGrid");
    QMetaObject::invokeMethod(grid, "openViewer", Q_ARG(QVariant, 0));
    QObject *viewer = window->window()->findChild<QObject *>(QStringLiteral("screenshotViewer"));
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(runEventsUntil([&] { return viewer->property("opened").toBool(); }));
    render(QStringLiteral("viewer"));
    QMetaObject::invokeMethod(viewer, "close");
    ASSERT_TRUE(runEventsUntil([&] { return !viewer->property("visible").toBool(); }));

    // The store breaks (its recordings table dropped by another connection): the search and the
    // application list say why, in red, instead of "No results found".
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(pipeline.database->databasePath()).constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE recordings", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    search(QStringLiteral("budget report"));
    QSignalSpy apps(window->searchModel(), &SearchModel::uniqueAppsChanged);
    emit pipeline.storage->applicationsChanged();
    ASSERT_TRUE(apps.wait(10000));
    EXPECT_TRUE(find("searchFailed")->isVisible());
    EXPECT_FALSE(find("noResults")->isVisible());
    EXPECT_EQ(find("searchFailedText")->property("text"), QStringLiteral("Search failed: no such table: recordings"));
    EXPECT_TRUE(find("applicationsFailure")->isVisible());
    render(QStringLiteral("search-failed"));
}

// Each desktop has its own way to let Pellux read the screen; the guide shows that desktop's steps.
TEST_F(SearchWindowRenderTest, PermissionGuideShowsTheStepsOfTheDesktop)
{
    const struct {
        DesktopSession session;
        const char *step;
    } cases[] = {
        { DesktopSession::x11, "System Settings should now be open" },
        { DesktopSession::kde, "kbuildsycoca6" },
        { DesktopSession::gnome, "gnome-extensions enable" },
        { DesktopSession::wlroots, "SWAYSOCK" },
        { DesktopSession::portal, "screen-sharing dialog" },
    };
    for (const auto &c : cases) {
        makeWindow(nullptr, c.session);
        window->window()->findChild<QObject *>(QStringLiteral("permissionInstructions"))->setProperty("visible", true);
        QStringList shown;
        const std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->isVisible() && item->metaObject()->indexOfProperty("text") >= 0)
                shown << item->property("text").toString();
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(window->window()->contentItem());
        const QString wanted = QString::fromLatin1(c.step);
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const QString &t) { return t.contains(wanted); }))
            << desktopSessionName(c.session).toStdString() << ": " << shown.join(QLatin1String(" | ")).toStdString();
        render(QStringLiteral("permission-guide-") + desktopSessionName(c.session));
    }
}

TEST_F(SearchWindowRenderTest, StoragePopoverDuringARecompressionRun)
{
    RunningOptimizer optimizer;
    makeWindow(&optimizer);
    QObject *popover = window->window()->findChild<QObject *>(QStringLiteral("storageDetails"));
    ASSERT_NE(popover, nullptr);
    popover->setProperty("visible", true);
    EXPECT_TRUE(find("optimizingRow")->isVisible());
    EXPECT_TRUE(find("savedRow")->isVisible());
    render(QStringLiteral("storage-popover"));
}

} // namespace
} // namespace pellux

#include "SearchWindowRender_test.moc"
