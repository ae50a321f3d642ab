// Renders every state of the search window offscreen, at the smallest and at a large size, for a
// person to look at; each state's view must be the one shown.
#include "WindowRender.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/AlertAnswers.h"
#include "support/SampleHistory.h"
#include "ui/AppControls.h"
#include "ui/SearchModel.h"
#include "ui/SearchWindow.h"

#include <QQmlPropertyMap>

namespace pellux::test {
namespace {

class SearchWindowRender : public WindowTest {
protected:
    SearchWindowRender() { start(); }

    void makeWindow(QObject *optimizer = nullptr, std::optional<DesktopSession> session = std::nullopt,
        AppControls *controls = nullptr)
    {
        window = std::make_unique<SearchWindow>(SearchWindow::Components { nullptr, pipeline.storage.get(),
            pipeline.database.get(), optimizer, &pipeline.clock, session, nullptr, controls });
        ASSERT_TRUE(window->build());
        window->window()->show();
    }

    QQuickItem *item(const char *name) const { return find(window->window(), name); }

    void search(const QString &text)
    {
        QSignalSpy shown(window->searchModel(), &SearchModel::resultsShown);
        window->searchModel()->setSearchText(text);
        if (window->searchModel()->isSearching())
            shown.wait(10000);
    }

    void render(const QString &name) { renderWindow(window->window(), name, { { 800, 600 }, { 1600, 1000 } }); }

    std::unique_ptr<SearchWindow> window;
};

TEST_F(SearchWindowRender, EveryStateOfTheWindow)
{
    // The blank slate is the empty history's.
    makeWindow();
    ASSERT_TRUE(runEventsUntil([&] { return item("blankSlate")->isVisible(); }));
    render("blank-slate");
    captureSampleHistory(pipeline);
    window->showNotice(QStringLiteral("This desktop shows no system tray, so Pellux has no icon or menu here."));
    render("notice");
    window->window()->setProperty("notice", QString());
    EXPECT_FALSE(item("noticeBar")->isVisible());

    search("bu");
    EXPECT_TRUE(item("minimumCharacters")->isVisible());
    render("hint");

    // A search answers in a millisecond: the state is set by hand for its picture.
    item("searchingState")->parentItem()->setProperty("shownState", int(SearchModel::ContentState::Searching));
    render("searching");

    search("nothing like this");
    EXPECT_TRUE(item("noResults")->isVisible());
    render("no-results");

    search("budget");
    EXPECT_GE(window->searchModel()->results()->count(), 3);
    EXPECT_TRUE(item("resultsGrid")->isVisible());
    window->searchModel()->setSelectedIndex(1);
    render("results");

    // The viewer, opened on the newest frame (a delta frame).
    QMetaObject::invokeMethod(item("resultsGrid"), "openViewer", Q_ARG(QVariant, 0));
    QObject *viewer = find<QObject>(window->window(), "screenshotViewer");
    ASSERT_TRUE(runEventsUntil([&] { return viewer->property("opened").toBool(); }));
    render("viewer");
    QMetaObject::invokeMethod(viewer, "close");
    ASSERT_TRUE(runEventsUntil([&] { return !viewer->property("visible").toBool(); }));

    // The store breaks (its recordings table dropped by another connection): the search and the
    // application list say why, in red, instead of "No results found".
    test::RawDatabase(pipeline.database->databasePath()).exec("DROP TABLE recordings");
    search("budget report");
    QSignalSpy apps(window->searchModel(), &SearchModel::uniqueAppsChanged);
    emit pipeline.storage->applicationsChanged();
    ASSERT_TRUE(apps.wait(10000));
    EXPECT_TRUE(item("searchFailed")->isVisible());
    EXPECT_FALSE(item("noResults")->isVisible());
    EXPECT_EQ(item("searchFailedText")->property("text"), QStringLiteral("Search failed: no such table: recordings"));
    EXPECT_TRUE(item("applicationsFailure")->isVisible());
    render("search-failed");
}

// Each desktop has its own way to let Pellux read the screen; the guide shows that desktop's steps.
TEST_F(SearchWindowRender, PermissionGuideShowsTheStepsOfTheDesktop)
{
    const std::pair<DesktopSession, const char *> cases[] = {
        { DesktopSession::x11, "System Settings should now be open" },
        { DesktopSession::kde, "kbuildsycoca6" },
        { DesktopSession::gnome, "gnome-extensions enable" },
        { DesktopSession::wlroots, "SWAYSOCK" },
        { DesktopSession::portal, "screen-sharing dialog" },
    };
    for (const auto &[session, step] : cases) {
        makeWindow(nullptr, session);
        find<QObject>(window->window(), "permissionInstructions")->setProperty("visible", true);
        QStringList shown;
        const std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->isVisible() && item->property("text").toString().contains(QLatin1String(step)))
                shown << item->property("text").toString();
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(window->window()->contentItem());
        EXPECT_FALSE(shown.isEmpty()) << desktopSessionName(session).toStdString();
        render("permission-guide-" + desktopSessionName(session));
    }
}

TEST_F(SearchWindowRender, StoragePopoverDuringARecompressionRun)
{
    QQmlPropertyMap optimizer; // a run frozen half-way
    optimizer.insert({ { "isOptimizing", true }, { "optimizationProgress", 0.42 }, { "savedBytes", 734'003'200 } });
    makeWindow(&optimizer);
    find<QObject>(window->window(), "storageDetails")->setProperty("visible", true);
    EXPECT_TRUE(item("optimizingRow")->isVisible());
    EXPECT_TRUE(item("savedRow")->isVisible());
    render("storage-popover");
}

// Where the desktop shows no tray, the window alone pauses, resumes, opens the preferences and
// quits, shows whether Pellux records, and asks before closing leaves it recording unseen.
TEST_F(SearchWindowRender, TheWindowOffersEveryControlWithoutATray)
{
    int preferences = 0, quits = 0, resumes = 0;
    std::vector<std::optional<TimePoint>> pauses;
    AppControls controls({ [&] { ++preferences; }, {}, {}, [&] { ++quits; },
        [&](std::optional<TimePoint> until) { pauses.push_back(until); }, [&] { ++resumes; }, [] { return false; } });
    controls.setState(true, true, std::nullopt);
    controls.setInterval(2);
    makeWindow(nullptr, std::nullopt, &controls);
    window->window()->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->window()));
    EXPECT_EQ(item("captureStateText")->property("text").toString(), "Recording, every 2 s");
    render("controls-recording");

    QTest::keyClick(window->window(), Qt::Key_Comma, Qt::ControlModifier);
    QTest::keyClick(window->window(), Qt::Key_P, Qt::ControlModifier);
    QTest::keyClick(window->window(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(std::make_tuple(preferences, pauses.size(), quits), std::make_tuple(1, size_t(1), 1));

    controls.setState(false, true, std::nullopt);
    EXPECT_TRUE(item("resumeButton")->isVisible());
    QMetaObject::invokeMethod(find<QObject>(window->window(), "appMenu"), "open");
    render("controls-paused-menu");
    QMetaObject::invokeMethod(find<QObject>(window->window(), "appMenu"), "close");

    // Escape on an empty query closes the window; without a tray that asks first.
    {
        AlertAnswers answers({ "Cancel" });
        QTest::keyClick(window->window(), Qt::Key_Escape);
        EXPECT_EQ(answers.messages, QStringList { "Keep Pellux Running in the Background?" });
    }
    EXPECT_TRUE(window->window()->isVisible());
    window->window()->requestActivate(); // the alert had it
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->window()));
    {
        AlertAnswers answers({ "Keep Running" });
        QTest::keyClick(window->window(), Qt::Key_W, Qt::ControlModifier);
    }
    EXPECT_FALSE(window->window()->isVisible());
}

} // namespace
} // namespace pellux::test
