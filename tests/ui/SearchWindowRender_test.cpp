// Renders every state of the search window offscreen, at the smallest and at a large size, for a
// person to look at; each state's view must be the one shown.
#include "WindowRender.h"
#include "persistence/DatabaseTestSupport.h"
#include "runtime/StoreLayout.h"
#include "support/AlertAnswers.h"
#include "support/ImageEncoder.h"
#include "support/SampleHistory.h"
#include "ui/AppControls.h"
#include "ui/FirstRun.h"
#include "ui/SearchModel.h"
#include "ui/SearchWindow.h"
#include "ui/WindowPlacement.h"

#include <QAbstractItemModelTester>
#include <QQmlPropertyMap>
#include <QScreen>
#include <QTcpServer>

namespace pellux::test {
namespace {

class SearchWindowRender : public WindowTest {
protected:
    SearchWindowRender() { start(); }

    std::unique_ptr<SearchWindow> newWindow(QObject *optimizer = nullptr,
        std::optional<DesktopSession> session = std::nullopt, AppControls *controls = nullptr)
    {
        return std::make_unique<SearchWindow>(SearchWindow::Components { nullptr, pipeline.storage.get(),
            pipeline.database.get(), optimizer, &pipeline.clock, session, nullptr, controls });
    }

    void makeWindow(QObject *optimizer = nullptr, std::optional<DesktopSession> session = std::nullopt,
        AppControls *controls = nullptr)
    {
        window = newWindow(optimizer, session, controls);
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

    void store(int age_s, const QString &app, const QString &title, const QString &text)
    {
        Recording r;
        r.id = QUuid::createUuid();
        r.timestamp = pipeline.clock.now() - std::chrono::seconds(age_s);
        const QString path = pipeline.home.pelluxFolder() + QStringLiteral("/Screenshots/%1.webp").arg(age_s);
        QDir().mkpath(QFileInfo(path).path());
        const std::optional<QByteArray> webp
            = imageEncoder().convertToWebP(CapturePipeline::textFrame(text.left(40), 960, 600), 0.8);
        ASSERT_TRUE(webp && writeAll(path, *webp));
        r.filePath = QUrl::fromLocalFile(path);
        r.appName = app;
        r.windowTitle = title;
        pipeline.database->saveRecordingWithDeltaFrame(r, QString::number(age_s), webp->size(), false, {}, {});
        pipeline.database->saveOCRText(r.id, text, r.timestamp);
    }

    // The visible items of the window, and of those the texts.
    QList<QQuickItem *> shownItems(bool textsOnly = false) const
    {
        QList<QQuickItem *> items;
        const std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (!item->isVisible())
                return;
            if (!textsOnly || item->inherits("QQuickText"))
                items << item;
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(window->window()->contentItem());
        return items;
    }
    QList<QQuickItem *> shownTexts() const { return shownItems(true); }

    // Whether a visible text of the window is one that `matches`.
    bool shows(const std::function<bool(const QString &)> &matches) const
    {
        const QList<QQuickItem *> texts = shownTexts();
        return std::any_of(
            texts.begin(), texts.end(), [&](QQuickItem *t) { return matches(t->property("text").toString()); });
    }

    void render(const QString &name) { renderWindow(window->window(), name, { { 800, 600 }, { 1600, 1000 } }); }

    std::unique_ptr<SearchWindow> window;
};

// Every state of the window, reached as a user reaches it: typing anywhere goes to the field,
// Return there opens the top hit (nothing without results), the arrows walk the grid and Up from
// its first row returns to the field, Escape in the grid clears the query; the chips toggle an
// application, a second click or All Apps returning to all.
TEST_F(SearchWindowRender, EveryStateOfTheWindowAsTheKeyboardAndTheChipsReachIt)
{
    // The blank slate is the empty history's.
    makeWindow();
    QQuickWindow *w = window->window();
    ASSERT_TRUE(runEventsUntil([&] { return item("blankSlate")->isVisible(); }));
    render("blank-slate");
    captureSampleHistory(pipeline);
    window->showNotice(QStringLiteral("This desktop shows no system tray, so Pellux has no icon or menu here."));
    render("notice");
    w->setProperty("notice", QString());
    EXPECT_FALSE(item("noticeBar")->isVisible());

    w->resize(800, 600);
    w->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    SearchModel &model = *window->searchModel();
    QQuickItem *field = item("searchField");
    const auto viewerShown = [&] { // a popup, not an item, built when first opened
        const QObject *viewer = find<QObject>(w, "screenshotViewer");
        return viewer && viewer->property("visible").toBool();
    };
    const auto type = [&](const char *text) {
        for (const char *c = text; *c; ++c)
            QTest::keyClick(w, *c);
        ASSERT_TRUE(runEventsUntil([&] { return !model.isSearching(); }));
    };
    type("bu");
    EXPECT_TRUE(item("minimumCharacters")->isVisible());
    render("hint");
    // A search answers in a millisecond: the state is set by hand for its picture.
    item("searchingState")->parentItem()->setProperty("shownState", int(SearchModel::ContentState::Searching));
    render("searching");

    type("-nothing-like-this");
    EXPECT_TRUE(item("noResults")->isVisible());
    render("no-results");
    QTest::keyClick(w, Qt::Key_Return);
    EXPECT_FALSE(viewerShown());
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    type("budget");
    EXPECT_TRUE(item("resultsGrid")->isVisible());
    QTest::keyClick(w, Qt::Key_Return);
    EXPECT_TRUE(runEventsUntil(viewerShown));
    EXPECT_EQ(model.selectedIndex(), 0);
    QTest::keyClick(w, Qt::Key_Escape);
    ASSERT_TRUE(runEventsUntil([&] { return !viewerShown(); }));
    ASSERT_FALSE(field->hasActiveFocus());
    type("s");
    EXPECT_EQ(std::pair(field->hasActiveFocus(), model.searchText()), std::pair(true, QString("budgets")));
    QTest::keyClick(w, Qt::Key_Backspace);
    ASSERT_TRUE(runEventsUntil([&] { return !model.isSearching(); }));
    model.setSelectedIndex(1);
    render("results");

    const int wide = item("resultsGrid")->property("columns").toInt();
    w->resize(800, 600);
    ASSERT_TRUE(runEventsUntil([&] { return item("resultsGrid")->property("columns").toInt() != wide; }));
    const int columns = item("resultsGrid")->property("columns").toInt();
    ASSERT_GT(model.results()->count(), columns + 1);
    model.setSelectedIndex(-1);
    field->forceActiveFocus();
    for (const Qt::Key key : { Qt::Key_Down, Qt::Key_Right, Qt::Key_Down })
        QTest::keyClick(w, key);
    EXPECT_EQ(model.selectedIndex(), columns + 1);
    QTest::keyClick(w, Qt::Key_Up);
    QTest::keyClick(w, Qt::Key_Up);
    EXPECT_EQ(std::pair(model.selectedIndex(), field->hasActiveFocus()), std::pair(-1, true));
    QTest::keyClick(w, Qt::Key_Down);
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_EQ(std::pair(model.searchText(), field->hasActiveFocus()), std::pair(QString(), true));

    const auto chip = [&](const QString &title) -> QQuickItem * {
        for (QQuickItem *i : shownItems())
            if (i->property("title") == title && i->property("isSelected").isValid())
                return i;
        return nullptr;
    };
    ASSERT_TRUE(runEventsUntil([&] { return chip("XTerm") && chip("Editor"); }));
    for (const auto &[title, selected] :
        { std::pair("XTerm", "XTerm"), { "XTerm", "" }, { "Editor", "Editor" }, { "All Apps", "" } }) {
        QQuickItem *clicked = chip(title);
        QTest::mouseClick(w, Qt::LeftButton, {}, clicked->mapToScene(QPointF(8, clicked->height() / 2)).toPoint());
        EXPECT_EQ(model.selectedApp(), selected) << title;
        EXPECT_TRUE(chip(*selected ? selected : "All Apps")->property("isSelected").toBool()) << title;
        EXPECT_FALSE(chip(*selected ? "All Apps" : "XTerm")->property("isSelected").toBool()) << title;
    }

    // The store breaks (its recordings table dropped by another connection): the search and the
    // application list say why, in red, instead of "No results found".
    test::RawDatabase(pipeline.database->databasePath()).exec("DROP TABLE recordings");
    search("budget report");
    QSignalSpy apps(&model, &SearchModel::uniqueAppsChanged);
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
        find<QObject>(window->window(), "windowContent")->setProperty("showingPermissionInstructions", true);
        EXPECT_TRUE(shows([&](const QString &text) { return text.contains(QLatin1String(step)); }))
            << desktopSessionName(session).toStdString();
        render("permission-guide-" + desktopSessionName(session));
    }
}

// Where the desktop shows no tray, the window alone pauses, resumes, opens the preferences and
// quits, shows whether Pellux records, and asks before closing leaves it recording unseen. The
// storage popover shows a recompression run frozen half-way.
TEST_F(SearchWindowRender, TheWindowOffersEveryControlWithoutATrayAndTheStoragePopover)
{
    int preferences = 0, quits = 0, resumes = 0;
    bool tray = false;
    std::vector<std::optional<TimePoint>> pauses;
    AppControls controls({ [&] { ++preferences; }, {}, {}, [&] { ++quits; },
        [&](std::optional<TimePoint> until) { pauses.push_back(until); }, [&] { ++resumes; }, [&] { return tray; } });
    controls.setState(true, true, std::nullopt);
    controls.setInterval(2);
    QQmlPropertyMap optimizer;
    optimizer.insert({ { "isOptimizing", true }, { "optimizationProgress", 0.42 }, { "savedBytes", 734'003'200 } });
    makeWindow(&optimizer, std::nullopt, &controls);
    find<QObject>(window->window(), "storageToolbar")->setProperty("showingStorageDetails", true);
    EXPECT_TRUE(item("optimizingRow")->isVisible() && item("savedRow")->isVisible());
    render("storage-popover");
    find<QObject>(window->window(), "storageToolbar")->setProperty("showingStorageDetails", false);
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
    QMetaObject::invokeMethod(find<QObject>(window->window(), "appMenuButton"), "openMenu");
    render("controls-paused-menu");
    QMetaObject::invokeMethod(find<QObject>(window->window(), "appMenu"), "close");

    // Escape on an empty query, or Ctrl+W, closes the window; without a tray that asks first
    // (keeping it running is the default), and may quit instead.
    const struct {
        const char *answer; // none: a tray, nothing is asked
        Qt::Key key;
        bool closes;
    } closings[] = { { "Cancel", Qt::Key_Escape, false }, { "Quit", Qt::Key_Escape, false },
        { "Keep Running", Qt::Key_W, true }, { nullptr, Qt::Key_Escape, true } };
    for (const auto &c : closings) {
        tray = !c.answer;
        window->show();
        window->window()->requestActivate(); // an alert had it
        ASSERT_TRUE(QTest::qWaitForWindowActive(window->window()));
        AlertAnswers answers(c.answer ? QStringList { c.answer } : QStringList {});
        QTest::keyClick(window->window(), c.key, c.key == Qt::Key_W ? Qt::ControlModifier : Qt::NoModifier);
        EXPECT_EQ(
            answers.messages, c.answer ? QStringList { "Keep Pellux Running in the Background?" } : QStringList {});
        EXPECT_EQ(answers.defaults, c.answer ? QStringList { "Keep Running" } : QStringList {});
        EXPECT_EQ(window->window()->isVisible(), !c.closes) << c.answer;
    }
    EXPECT_EQ(quits, 2);
}

// The result cards over a real database: the matched line with the query in bold; consecutive
// results of one window and text collapsed into a "+N" card, which the keyboard walks, expands in
// place and stays expanded while the query grows; the exact time on hover; application names,
// titles and text written as markup are shown as written and never fetch anything.
TEST_F(SearchWindowRender, CardSnippetsCollapsedRepeatsAndTheExactTime)
{
    // Markup in a title or a text must not load this address.
    QTcpServer trap;
    ASSERT_TRUE(trap.listen(QHostAddress::LocalHost));
    const QString image = QStringLiteral("<img src=\"http://127.0.0.1:%1/x.png\">").arg(trap.serverPort());

    // Ages 30, 40 and 50 show one window and text; 60 shows the text under another title and 80
    // after another card, so both stay apart; 3600 matches by its title only.
    const QString log = QStringLiteral("cargo build\nerror: the reconcile_segments database is locked\nexit 101");
    for (const int age : { 30, 40, 50, 80 })
        store(age, QStringLiteral("Terminal"), QStringLiteral("~/pellux"), log);
    store(60, QStringLiteral("Terminal"), QStringLiteral("~/other"), log);
    // A web page sets its own window title, and any program its class.
    store(70, QStringLiteral("<b>Cls</b>") + image, QStringLiteral("<b>x</b> notes ") + image,
        QStringLiteral("TODO\nmove the ") + image
            + QStringLiteral(" <b>Reconcile Segments</b> step into the database"));
    store(3600, QStringLiteral("Browser"), QStringLiteral("Reconcile segments - docs"), QStringLiteral("nothing"));
    pipeline.database->waitUntilIdle();

    makeWindow();
    window->window()->resize(1000, 700);
    SearchModel &model = *window->searchModel();
    RecordingListModel &results = *model.results();
    QAbstractItemModelTester tester(&results, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto age = [&](int row) {
        return QString::number(
            qRound(secondsSince1970(pipeline.clock.now()) - secondsSince1970(results.recordingAt(row).timestamp)));
    };
    // Each card by its age, "+N" collapsed, "-N" expanded.
    const auto cards = [&] {
        QStringList list;
        for (int row = 0; row < results.count(); ++row) {
            const int similar = results.index(row).data(RecordingListModel::SimilarCountRole).toInt();
            const bool expanded = results.index(row).data(RecordingListModel::ExpandedRole).toBool();
            list << age(row) + (similar ? (expanded ? "-" : "+") + QString::number(similar) : QString());
        }
        return list.join(' ');
    };
    search(QStringLiteral("reconcile segment"));
    EXPECT_EQ(cards(), "30+2 60 70 80 3600");
    // The keyboard walks the collapsed list; expanding keeps the selection on its recording, and
    // collapsing moves it to the card it folded into.
    model.setSelectedIndex(0);
    EXPECT_TRUE(model.navigate(Qt::Key_Right, 4));
    model.toggleSimilar(0);
    EXPECT_EQ(
        std::pair(cards(), age(model.selectedIndex())), std::pair(QString("30-2 40 50 60 70 80 3600"), QString("60")));
    EXPECT_TRUE(model.navigate(Qt::Key_Left, 4));
    EXPECT_EQ(age(model.selectedIndex()), "50");
    model.toggleSimilar(0);
    model.toggleSimilar(1); // a card without repeats has no badge
    EXPECT_EQ(std::pair(cards(), model.selectedIndex()), std::pair(QString("30+2 60 70 80 3600"), 0));
    model.toggleSimilar(0);
    search(QStringLiteral("reconcile segments"));
    EXPECT_EQ(cards(), "30-2 40 50 60 70 80 3600");
    renderWindow(window->window(), QStringLiteral("cards-expanded"), { { 1000, 700 } });
    model.toggleSimilar(0);
    renderWindow(window->window(), QStringLiteral("cards-snippets"), { { 1000, 700 } });

    QStringList snippets;
    int markupShown = 0;
    for (QQuickItem *text : shownTexts()) {
        const QString shownText = text->property("text").toString();
        if (text->objectName() == QLatin1String("snippet"))
            snippets << shownText;
        // A title or an application name is never read as markup.
        if (shownText.contains(QLatin1String("<b>x</b>")) || shownText.contains(QLatin1String("<b>Cls"))) {
            EXPECT_EQ(text->property("textFormat").toInt(), int(Qt::PlainText)) << shownText.toStdString();
            ++markupShown;
        }
    }
    snippets.sort();
    EXPECT_GE(markupShown, 2); // the card's title and application name at least
    // The title-only match shows no line: its title is on the card already.
    const QString terminal = "error: the <b>reconcile_segments</b> database is locked";
    EXPECT_EQ(snippets,
        QStringList({ terminal, terminal, terminal,
            "move the &lt;img src=&quot;http://127.0.0.1:" + QString::number(trap.serverPort())
                + "/x.png&quot;&gt; &lt;b&gt;<b>Reconcile Segments</b>&lt;/b&gt; step into the database" }));

    // The exact time of the first card on hovering its "30 sec. ago".
    QQuickItem *time = nullptr;
    for (QQuickItem *text : shownTexts()) {
        if (!time && text->objectName() == QLatin1String("relativeTime"))
            time = text;
    }
    ASSERT_TRUE(time);
    const QString exact = RecordingListModel::absoluteTime(QDateTime::fromMSecsSinceEpoch(
        qint64(secondsSince1970(pipeline.clock.now() - std::chrono::seconds(30)) * 1000)));
    QTest::mouseMove(window->window(), time->mapToScene(QPointF(4, 4)).toPoint());
    EXPECT_TRUE(runEventsUntil([&] { return shows([&](const QString &text) { return text == exact; }); }));
    EXPECT_TRUE(
        window->window()->grabWindow().save(QStringLiteral(PELLUX_BINARY_DIR "/ui-renders/cards-time-tooltip.png")));
    EXPECT_FALSE(trap.hasPendingConnections() || trap.waitForNewConnection(300));
    // The expand symbol over the screenshot under the pointer, made only then.
    const auto symbols = [&] {
        QList<QQuickItem *> shown = shownItems();
        shown.removeIf([](QQuickItem *i) { return i->objectName() != QLatin1String("expandSymbol"); });
        return shown;
    };
    EXPECT_TRUE(symbols().isEmpty());
    QTest::mouseMove(window->window(), time->mapToScene(QPointF(4, -60)).toPoint());
    EXPECT_TRUE(runEventsUntil([&] {
        const QList<QQuickItem *> shown = symbols(); // drawn, its icon loaded
        return shown.size() == 1 && shown[0]->opacity() == 1 && shown[0]->childItems().size() == 1
            && shown[0]->childItems()[0]->property("status").toInt() == 1;
    }));
    EXPECT_TRUE(window->window()->grabWindow().save(QStringLiteral(PELLUX_BINARY_DIR "/ui-renders/card-hover.png")));

    // A new answer keeps the cards of the recordings it still holds, but is shown from its
    // newest card, wherever the grid was scrolled to.
    for (int age = 100; age < 160; ++age)
        store(age, QStringLiteral("Editor"), QString::number(age), age % 6 ? "omega" : "kappa omega");
    search(QStringLiteral("omega"));
    QQuickItem *grid = item("resultsGrid"), *first = nullptr;
    QMetaObject::invokeMethod(grid, "positionViewAtEnd");
    search(QStringLiteral("kappa"));
    EXPECT_TRUE(runEventsUntil([&] {
        QMetaObject::invokeMethod(grid, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, first), Q_ARG(int, 0));
        return first && first->mapToItem(grid, QPointF(0, 0)).y() > grid->property("topMargin").toReal() - 1;
    }));
}

// The first start's sheet over the window, with and without a tray: what it says, where its
// buttons lead, and that once dismissed it never comes back.
TEST_F(SearchWindowRender, TheFirstRunSheetIsShownOnceWithAndWithoutATray)
{
    const auto sheetShown = [&] { // built only while the first start is pending
        const QObject *sheet = find<QObject>(window->window(), "firstRunSheet");
        return sheet && sheet->property("visible").toBool();
    };
    const auto text
        = [&](const char *name) { return find<QObject>(window->window(), name)->property("text").toString(); };
    const auto open = [&](AppControls *controls) {
        window = newWindow(nullptr, std::nullopt, controls);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window->window()));
    };
    const struct {
        const char *name;
        bool tray, capturing, canCapture;
        bool settingsFileKept; // else the very first start: no settings file at all
        const char *pause, *dismiss;
        int resumes;
    } cases[] = {
        { "first-run-tray", true, true, true, false, "tray icon's menu", "Got It", 0 },
        { "first-run-no-tray", false, false, true, true, "no tray icon", "Start Recording", 1 },
        { "first-run-no-permission", true, false, false, true, "tray icon's menu", "Got It", 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.settingsFileKept)
            ASSERT_FALSE(AppPreferences::storeValue(QStringLiteral("notices/firstRunDismissed"), false));
        else
            ASSERT_TRUE(QFile::remove(AppPreferences::settingsFilePath()));
        int privacy = 0, resumes = 0;
        AppControls controls({ {}, {}, {}, {}, {}, [&] { ++resumes; }, [&] { return c.tray; }, [&] { ++privacy; } });
        controls.setState(c.capturing, c.canCapture, std::nullopt);
        open(&controls);
        ASSERT_TRUE(sheetShown());
        EXPECT_EQ(text("firstRunStoreFolder"),
            "In " + StoreLayout::standard().root()
                + ", on this computer only. Nothing you record leaves this machine.");
        EXPECT_TRUE(text("firstRunPauseText").contains(QLatin1String(c.pause)));
        EXPECT_TRUE(text("firstRunPauseText").contains(QLatin1String("Ctrl+P")));
        EXPECT_EQ(text("firstRunDismissButton"), c.dismiss);
        renderWindow(window->window(), QLatin1String(c.name));

        QMetaObject::invokeMethod(find<QObject>(window->window(), "firstRunPrivacyButton"), "clicked");
        EXPECT_EQ(privacy, 1);
        EXPECT_TRUE(sheetShown());
        // Return is the sheet's button.
        QTest::keyClick(window->window(), Qt::Key_Return);
        EXPECT_TRUE(runEventsUntil([&] { return !sheetShown(); }));
        EXPECT_EQ(resumes, c.resumes);
        EXPECT_FALSE(FirstRun::isPending());

        // The next start shows the window without it.
        open(&controls);
        EXPECT_FALSE(sheetShown());
        window.reset();
    }
}

// The search window opens where it was last left, on a screen there is now.
TEST(WindowPlacement, OnAScreenThereIsNow)
{
    const QRect left(0, 0, 1920, 1050), right(1920, 0, 2560, 1410);
    const QSize minimum(800, 600);
    const struct {
        const char *what;
        QRect saved;
        QList<QRect> screens;
        QRect placed;
    } cases[] = {
        { "none kept", {}, { left }, {} },
        { "where it was", { 100, 80, 900, 700 }, { left, right }, { 100, 80, 900, 700 } },
        { "on the second monitor", { 2200, 300, 1000, 800 }, { left, right }, { 2200, 300, 1000, 800 } },
        { "mostly on the second", { 1700, 100, 900, 700 }, { left, right }, { 1920, 100, 900, 700 } },
        { "second monitor unplugged", { 2200, 300, 1000, 800 }, { left }, { 920, 250, 1000, 800 } },
        { "hanging off the bottom", { 300, 900, 800, 600 }, { left }, { 300, 450, 800, 600 } },
        { "larger than the screen now", { -50, -20, 2400, 1300 }, { left }, { 0, 0, 1920, 1050 } },
        { "screen below the minimum", { 10, 10, 900, 700 }, { { 0, 0, 640, 480 } }, { 0, 0, 800, 600 } },
        { "primary screen right of a panel", { 0, 0, 800, 600 }, { { 60, 28, 1860, 1022 } }, { 60, 28, 800, 600 } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(placeWindow(c.saved, c.screens, minimum), c.placed) << c.what;
}

// Hidden, moved or closed with the application, the window is found again at the next show,
// and a place on a screen that is gone is brought back onto this one.
TEST_F(SearchWindowRender, TheWindowKeepsItsPlace)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // The offscreen screen is no wider than the window's minimum: a narrower minimum leaves room.
    const QSize minimum(500, 400);
    const QRect inside(screen.topLeft() + QPoint(40, 30), QSize(600, 500));
    const auto shownAt = [&](SearchWindow &w) {
        EXPECT_TRUE(w.build());
        w.window()->setMinimumSize(minimum);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.window()));
        return w.window()->geometry();
    };
    // The window system reports a move or resize later, as it would.
    const auto placeAt = [&](SearchWindow &w, const QRect &place) {
        w.window()->setGeometry(place);
        EXPECT_TRUE(runEventsUntil([&] { return w.window()->geometry() == place; }));
        QCoreApplication::processEvents();
    };
    window = newWindow();
    shownAt(*window);
    placeAt(*window, inside);
    window->window()->hide();
    EXPECT_EQ(SearchWindow::savedGeometry(), inside);
    EXPECT_EQ(shownAt(*window), inside);

    // Moved, then the application quits before the move was saved.
    const QRect moved = inside.translated(-20, 15);
    placeAt(*window, moved);
    window.reset();
    window = newWindow();
    EXPECT_EQ(shownAt(*window), moved);
    window.reset();

    // Left on a monitor unplugged since.
    ASSERT_FALSE(
        AppPreferences::storeValue(QStringLiteral("searchWindow/geometry"), QRect(screen.right() + 500, 40, 600, 500)));
    window = newWindow();
    const QRect back = shownAt(*window);
    EXPECT_TRUE(screen.contains(back)) << back.x() << "," << back.y();
    EXPECT_EQ(back.size(), QSize(600, 500));
}

} // namespace
} // namespace pellux::test
