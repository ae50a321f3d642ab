#include "WindowRender.h"
#include "persistence/Autostart.h"
#include "support/AlertAnswers.h"
#include "support/ListedRecordings.h"
#include "ui/Formatting.h"
#include "ui/MainViewModel.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"

#include <QAbstractItemModelTester>

namespace pellux::test {
namespace {

constexpr double kDay = 86400.0;

TEST(SettingsRules, PickerSortsByCodePointsStablyAndFiltersIgnoringCase)
{
    std::vector<RunningApplication> running;
    for (const auto &[name, bundle] :
        { std::pair("xterm", "uxterm"), { "Firefox", "firefox-esr" }, { "XTerm", "debian-xterm" }, { "Émacs", "emacs" },
            { "firefox", "firefox-nightly" }, { "Firefox", "firefox" }, { "Alacritty", "Alacritty" } })
        running.push_back({ QString::fromUtf8(name), bundle, 0 });
    const std::pair<const char *, QStringList> cases[] = {
        { "",
            { "Alacritty/Alacritty", "Firefox/firefox-esr", "Firefox/firefox", "XTerm/debian-xterm",
                "firefox/firefox-nightly", "xterm/uxterm", "Émacs/emacs" } },
        { "FIRE", { "Firefox/firefox-esr", "Firefox/firefox", "firefox/firefox-nightly" } },
        { "tErM", { "XTerm/debian-xterm", "xterm/uxterm" } },
        { "émacs", { "Émacs/emacs" } },
        { "nothing", {} },
    };
    for (const auto &[search, expected] : cases) {
        QStringList names;
        for (const RunningApplication &a : SettingsModel::filteredApplications(running, QString::fromUtf8(search)))
            names << a.applicationName + '/' + a.bundleIdentifier;
        EXPECT_EQ(names, expected) << search;
    }
    // Each application once, and never Pellux itself.
    const qint64 self = QCoreApplication::applicationPid();
    QStringList listed;
    for (const RunningApplication &a : SettingsModel::pickableApplications(
             { { "XTerm", "debian-xterm", 1 }, { "XTerm", "debian-xterm", 2 }, { "XTerm", "Debian-XTerm", 3 },
                 { "Pellux", "pellux", self }, { "Firefox", "firefox-esr", 4 } },
             self))
        listed << QStringLiteral("%1/%2/%3").arg(a.applicationName, a.bundleIdentifier).arg(a.processID);
    EXPECT_EQ(listed, (QStringList { "XTerm/debian-xterm/1", "Firefox/firefox-esr/4" }));
}

// Puts a file where the folder of `path` should be, so that nothing can be written there.
QString blockFolderOf(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    QDir(folder).removeRecursively();
    EXPECT_TRUE(writeAll(folder, {}));
    return folder;
}

// A settings model over the real pipeline, with capture running at a fixed 10-second interval.
class SettingsModelTest : public WindowTest {
protected:
    SettingsModelTest()
    {
        addWindow(1, "shell prompt", "XTerm", "debian-xterm");
        addWindow(2, "release notes", "Firefox", "firefox-esr");
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.screenshotInterval = 10.0;
        start(preferences);
        viewModel = std::make_unique<MainViewModel>(
            MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
        runEventsUntil([&] { return pipeline.service->isCapturing(); }, 5000);
        model = std::make_unique<SettingsModel>(SettingsModel::Components {
            viewModel.get(), pipeline.storage.get(), pipeline.database.get(), &pipeline.backend, &pipeline.clock });
    }

    ~SettingsModelTest() override { pipeline.service->stopCapturing(); }

    void loadApplications()
    {
        QSignalSpy loaded(model.get(), &SettingsModel::availableApplicationsLoaded);
        model->loadAvailableApplications();
        ASSERT_TRUE(received(loaded));
    }

    // Runs an edit and answers whether it was written (and handed to the capture service).
    bool edit(const std::function<void()> &change)
    {
        QSignalSpy saved(model.get(), &SettingsModel::preferencesSaved);
        change();
        return received(saved) && saved.at(0).at(0).toBool();
    }

    std::unique_ptr<MainViewModel> viewModel;
    std::unique_ptr<SettingsModel> model;
};

// An exclusion is saved and reaches the running capture from its next cycle, without a restart;
// taking it back (from the picker or the chip) lets the application be captured again.
TEST_F(SettingsModelTest, AnExclusionReachesTheRunningCaptureWithoutARestart)
{
    QSignalSpy capturing(pipeline.service.get(), &ScreenshotService::isCapturingChanged);
    const auto capturedInACycle = [&] {
        const size_t before = pipeline.backend.captureOrder().size();
        CapturePipeline::run(pipeline.service->runCaptureCycle());
        return std::vector<quint32>(
            pipeline.backend.captureOrder().begin() + long(before), pipeline.backend.captureOrder().end());
    };
    for (const bool fromChip : { false, true }) {
        ASSERT_TRUE(edit([&] { model->toggleExcluded("debian-xterm"); }));
        EXPECT_EQ(AppPreferences::load().excludedApps, QSet<QString> { "debian-xterm" });
        EXPECT_EQ(model->excludedCaption(), "1 app won't be captured");
        EXPECT_EQ(capturedInACycle(), std::vector<quint32> { 2 });
        ASSERT_TRUE(
            edit([&] { fromChip ? model->removeExcluded("debian-xterm") : model->toggleExcluded("debian-xterm"); }));
        EXPECT_TRUE(AppPreferences::load().excludedApps.isEmpty());
        EXPECT_EQ(capturedInACycle().size(), 2u);
    }
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_EQ(capturing.count(), 0);
}

// An edit that cannot be written is taken back, so the window never shows an exclusion that
// capture does not know about.
TEST_F(SettingsModelTest, AnEditThatCannotBeWrittenIsTakenBack)
{
    const QString blocked = blockFolderOf(AppPreferences::settingsFilePath());
    EXPECT_FALSE(edit([&] { model->toggleExcluded("debian-xterm"); }));
    EXPECT_EQ(std::tuple(viewModel->preferences().excludedApps.size(), model->excludedCaption(),
                  pipeline.service->preferences().excludedApps.size()),
        std::tuple(0, QString("0 apps won't be captured"), 0));
    QFile::remove(blocked);
}

// Each choice is saved and restarts the running capture with it; the last adapts to activity.
TEST_F(SettingsModelTest, AnIntervalChoiceIsSavedAndRestartsCaptureWithIt)
{
    EXPECT_EQ(model->intervalIndex(), 3); // "Every 10 seconds"
    const int adaptive = int(SettingsModel::intervalChoices().size()) - 1;
    const struct {
        int index;
        double seconds;
        bool adaptive;
    } cases[] = { { 2, 5.0, false }, { adaptive, 5.0, true }, { 1, 2.0, false } };
    for (const auto &c : cases) {
        QSignalSpy capturing(pipeline.service.get(), &ScreenshotService::isCapturingChanged);
        ASSERT_TRUE(edit([&] { model->chooseInterval(c.index); }));
        const AppPreferences saved = AppPreferences::load();
        EXPECT_EQ(std::pair(saved.screenshotInterval, saved.useDynamicIntervals), std::pair(c.seconds, c.adaptive));
        EXPECT_EQ(model->intervalIndex(), c.index);
        EXPECT_EQ(model->intervalCaption() == SettingsModel::adaptiveIntervalText(), c.adaptive);
        while (capturing.count() < 2)
            ASSERT_TRUE(capturing.wait(5000));
        EXPECT_TRUE(pipeline.service->isCapturing());
    }
    EXPECT_EQ(pipeline.service->pendingCaptureInterval(), 2.0);
}

TEST_F(SettingsModelTest, OneYearKeepsOnlyTheLastYearsRecordings)
{
    pipeline.backend.removeWindow(1);
    pipeline.backend.removeWindow(2);
    const TimePoint present = pipeline.clock.now();
    quint32 id = 10;
    for (const char *age : { "400", "365.1", "364.9", "1" }) { // days
        pipeline.clock.set(fromSecondsSince1970(secondsSince1970(present) - QByteArray(age).toDouble() * kDay));
        addWindow(++id, age, "Notes", "notes");
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        pipeline.backend.removeWindow(id);
    }
    pipeline.clock.set(present);
    ASSERT_EQ(pipeline.storage->recordingCount(), 4);

    ASSERT_TRUE(edit([&] { model->chooseRetention(3); }));
    EXPECT_EQ(AppPreferences::load().retentionDays, 365);
    QSignalSpy deleted(pipeline.storage.get(), &StorageManager::recordingsDeleted);
    AlertAnswers answers({ "Delete", "OK" });
    model->deleteOldRecordings();
    ASSERT_TRUE(deleted.wait(10000));
    QStringList kept;
    for (const Recording &r : listedRecordings(*pipeline.storage))
        kept << r.windowTitle.value_or(QString()) + (QFile::exists(r.localPath()) ? "" : " (no file)");
    EXPECT_EQ(std::pair(deleted.at(0).at(0).toInt(), kept), std::pair(2, QStringList({ "1", "364.9" })));
    EXPECT_EQ(QCoro::waitFor(pipeline.storage->countRecordings(std::nullopt, QStringLiteral("Notes"))), 2);
}

// The switch writes the autostart entry off the GUI thread (when it cannot: the render test).
TEST_F(SettingsModelTest, StartAtLoginWritesAndRemovesTheEntry)
{
    for (const bool on : { true, false }) {
        QSignalSpy applied(model.get(), &SettingsModel::startAtLoginApplied);
        model->setStartAtLogin(on);
        ASSERT_TRUE(received(applied));
        EXPECT_EQ(std::pair(model->startAtLogin(), QFile::exists(autostartEntryPath())), std::pair(on, on));
    }
}

// Excluding an application from the picker offers to delete what was captured of it (Return
// keeps it); taking the exclusion back, or excluding with nothing left to delete, asks nothing.
TEST_F(SettingsModelTest, ExcludingAnApplicationOffersToDeleteItsScreenshots)
{
    addWindow(3, "bold claims", "<b>Term</b>", "evil-term");
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.service->stopCapturing();
    pipeline.settle();
    loadApplications();
    const auto count
        = [&](const char *app) { return QCoro::waitFor(pipeline.storage->countRecordings(std::nullopt, app)); };
    const QString question = "Delete the existing screenshot of " + displayedName("<b>Term</b>", 80) + "?";
    for (const bool deleted : { false, true }) {
        AlertAnswers answers({ deleted ? "Delete" : "Keep", "OK" });
        const std::optional<DeletionReport> report = QCoro::waitFor(model->toggleExcludedAndOffer("evil-term"));
        EXPECT_TRUE(AppPreferences::load().excludedApps.contains("evil-term"));
        ASSERT_EQ(answers.messages.size(), deleted ? 2 : 1);
        EXPECT_EQ(std::pair(answers.messages[0], answers.defaults[0]), std::pair(question, QString("Keep")));
        EXPECT_EQ(report && report->count == 1 && report->bytes > 0, deleted);
        EXPECT_EQ(count("<b>Term</b>"), deleted ? 0 : 1);
        EXPECT_TRUE(!deleted || answers.messages[1].startsWith("Removed 1 screenshot, "));
        EXPECT_GE(count("XTerm"), 1); // the other applications keep theirs
        AlertAnswers none({});
        EXPECT_FALSE(QCoro::waitFor(model->toggleExcludedAndOffer("evil-term")));
        EXPECT_FALSE(AppPreferences::load().excludedApps.contains("evil-term"));
        if (deleted) { // nothing left to delete
            EXPECT_FALSE(QCoro::waitFor(model->toggleExcludedAndOffer("evil-term")));
        }
        EXPECT_TRUE(none.messages.isEmpty());
    }
}

// The picker follows the running applications row by row while it is shown, so a view keeps its
// place; a query that fails keeps the list.
TEST_F(SettingsModelTest, ThePickerFollowsNewApplicationsRowByRow)
{
    ApplicationListModel *picker = model->pickerApplications();
    QAbstractItemModelTester tester(picker, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy resets(picker, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(picker, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(picker, &QAbstractItemModel::rowsRemoved);
    loadApplications();
    ASSERT_EQ(picker->count(), 2);
    resets.clear();
    inserted.clear();

    addWindow(4, "second shell", "XTerm", "debian-xterm");
    addWindow(5, "mail", "Thunderbird", "thunderbird");
    loadApplications();
    pipeline.backend.removeWindow(2);
    loadApplications();
    QStringList names;
    for (int row = 0; row < picker->count(); ++row)
        names << picker->data(picker->index(row), ApplicationListModel::NameRole).toString();
    EXPECT_EQ(names, (QStringList { "Thunderbird", "XTerm" }));
    EXPECT_EQ(std::tuple(resets.count(), inserted.count(), removed.count()), std::tuple(0, 1, 1));
    pipeline.backend.setContentError(
        CaptureError { QString::fromLatin1(captureFailureDomain), QStringLiteral("The X server went away") });
    loadApplications();
    EXPECT_EQ(std::pair(picker->count(), model->availableApplications().size()), std::pair(2, 2ul));
}

// Each pane of the preferences window and the application picker rendered offscreen for a person
// to look at, over a real store and a fake list of running applications, one of them excluded.
class SettingsWindowRender : public WindowTest {
protected:
    void SetUp() override
    {
        // xterm's desktop entry (debian-xterm) has a real icon; the others fall back to the symbol.
        quint32 id = 0;
        for (const auto &[name, bundle] : { std::pair("XTerm", "debian-xterm"), { "Firefox", "firefox-esr" },
                 { "Code", "code" }, { "Thunderbird", "thunderbird" }, { "KeePassXC", "org.keepassxc.KeePassXC" } })
            addWindow(++id, QStringLiteral("%1 window").arg(name), name, bundle);
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.screenshotInterval = 5.0;
        preferences.retentionDays = 90;
        preferences.excludedApps = { "org.keepassxc.KeePassXC", "slack" };
        start(preferences);
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        viewModel = std::make_unique<MainViewModel>(
            MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
        window = std::make_unique<SettingsWindow>(SettingsWindow::Components {
            viewModel.get(), pipeline.storage.get(), pipeline.database.get(), &pipeline.backend, &pipeline.clock });
        ASSERT_TRUE(window->build());
        QSignalSpy loaded(window->model(), &SettingsModel::availableApplicationsLoaded);
        window->show();
        ASSERT_TRUE(received(loaded, 5000));
    }

    ~SettingsWindowRender() override { pipeline.service->stopCapturing(); }

    std::unique_ptr<MainViewModel> viewModel;
    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsWindowRender, EveryPaneAndThePicker)
{
    QQuickWindow *w = window->window();
    for (const auto &[section, pane] :
        { std::pair(0, "general"), { 1, "privacy" }, { 2, "storage" }, { 3, "about" } }) {
        window->model()->setSelectedSection(section);
        renderWindow(w, QStringLiteral("settings-%1").arg(pane), { { 800, 500 } });
    }
    // The running excluded application has a chip; the one that is not running only counts.
    EXPECT_EQ(find(w, "excludedCaption")->property("text"), QStringLiteral("2 apps won't be captured"));
    EXPECT_EQ(find(w, "excludedChips")->property("count"), 1);

    auto *picker = find<QQuickWindow>(w, "appPicker");
    QMetaObject::invokeMethod(picker, "open");
    EXPECT_EQ(find(picker, "pickerList")->property("count"), 5);
    EXPECT_EQ(find(picker, "excludedCountText")->property("text"), QStringLiteral("2 excluded"));
    const ApplicationListModel *apps = window->model()->pickerApplications();
    EXPECT_EQ(apps->match(apps->index(0), ApplicationListModel::IsExcludedRole, true, -1).size(), 1);
    // Only xterm's desktop entry has an icon: the others show a symbol, not a broken image.
    EXPECT_TRUE(runEventsUntil(
        [&] { return apps->match(apps->index(0), ApplicationListModel::IconSourceRole, "image://", -1).size() == 1; }));
    renderWindow(picker, "settings-picker", { { 500, 600 } });
    window->model()->setSearchText("TERM");
    EXPECT_EQ(find(picker, "pickerList")->property("count"), 1);
    renderWindow(picker, "settings-picker-search", { { 500, 600 } });
    picker->close();

    // Each opening starts on the General pane with an empty search.
    window->show();
    EXPECT_EQ(window->model()->selectedSection(), 0);
    EXPECT_TRUE(window->model()->searchText().isEmpty());

    // Done and Control+Escape close the window.
    QMetaObject::invokeMethod(find<QObject>(w, "doneButton"), "clicked");
    EXPECT_FALSE(w->isVisible());
    window->show();
    QTest::keyClick(w, Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_FALSE(w->isVisible());
}

// The switch and the menus follow the model after the user moved them, also when it takes a
// change back.
TEST_F(SettingsWindowRender, TheControlsFollowTheModel)
{
    const QString folder = blockFolderOf(autostartEntryPath());
    QObject *toggle = find<QObject>(window->window(), "startAtLoginSwitch");
    QSignalSpy applied(window->model(), &SettingsModel::startAtLoginApplied);
    QMetaObject::invokeMethod(toggle, "toggle");
    QMetaObject::invokeMethod(toggle, "toggled");
    ASSERT_TRUE(received(applied, 5000));
    EXPECT_FALSE(window->model()->startAtLogin());
    EXPECT_FALSE(toggle->property("checked").toBool());
    QFile::remove(folder);

    QObject *menu = find<QObject>(window->window(), "intervalPicker");
    menu->setProperty("currentIndex", 0);
    QMetaObject::invokeMethod(menu, "activated", Q_ARG(int, 0));
    QSignalSpy saved(window->model(), &SettingsModel::preferencesSaved);
    window->model()->chooseInterval(3);
    EXPECT_EQ(menu->property("currentIndex"), 3);
    ASSERT_TRUE(received(saved, 5000));

    // Delete All asks first; while it runs its button is disabled and a second request is ignored.
    window->model()->setSelectedSection(int(SettingsModel::Section::storage));
    QQuickItem *button = find(window->window(), "deleteAllButton");
    pipeline.service->stopCapturing();
    const int stored = pipeline.storage->recordingCount();
    ASSERT_GT(stored, 0);
    {
        AlertAnswers cancel({ "Cancel" });
        window->model()->requestDeleteAll();
        EXPECT_EQ(cancel.messages, QStringList { "Delete All Data?" });
    }
    EXPECT_EQ(std::pair(button->isEnabled(), pipeline.storage->recordingCount()), std::pair(true, stored));
    AlertAnswers confirm({ "Delete" });
    window->model()->requestDeleteAll();
    window->model()->requestDeleteAll();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(runEventsUntil([&] { return button->isEnabled(); }));
    EXPECT_EQ(std::pair(confirm.messages.size(), pipeline.storage->recordingCount()), std::pair(qsizetype(1), 0));
}

// What the window says of the capture: the Privacy pane with and without access to the screen,
// the adaptive interval, the picker telling the model while it is shown (so it follows new
// applications), and Delete Old disabled when everything is kept. (The questions and reports of
// the deletions: the model and window-action tests.)
TEST_F(SettingsWindowRender, TheCaptureStateAndWhatCanBeDeleted)
{
    QQuickWindow *w = window->window();
    SettingsModel *model = window->model();
    ASSERT_TRUE(runEventsUntil([&] { return viewModel->hasScreenRecordingPermission(); }, 5000));
    model->setSelectedSection(int(SettingsModel::Section::privacy));
    for (const bool readable : { true, false }) {
        pipeline.backend.setPermission(readable);
        CapturePipeline::run(viewModel->recheckPermissions());
        EXPECT_EQ(find(w, "screenReadable")->isVisible(), readable);
        EXPECT_EQ(find(w, "permissionNeeded")->isVisible(), !readable);
        renderWindow(w, readable ? "settings-privacy-readable" : "settings-privacy-no-permission", { { 800, 500 } });
    }

    EXPECT_TRUE(find(w, "deleteOldButton")->isEnabled());
    QSignalSpy saved(model, &SettingsModel::preferencesSaved);
    model->chooseInterval(int(SettingsModel::intervalChoices().size()) - 1);
    model->chooseRetention(int(SettingsModel::retentionChoices().size()) - 1);
    ASSERT_TRUE(runEventsUntil([&] { return saved.count() == 2; }));
    model->setSelectedSection(int(SettingsModel::Section::general));
    EXPECT_EQ(find(w, "intervalCaption")->property("text"), SettingsModel::adaptiveIntervalText());
    renderWindow(w, "settings-general-adaptive", { { 800, 500 } });
    model->setSelectedSection(int(SettingsModel::Section::storage));
    EXPECT_FALSE(find(w, "deleteOldButton")->isEnabled());
    renderWindow(w, "settings-storage-forever", { { 800, 500 } });

    auto *picker = find<QQuickWindow>(w, "appPicker");
    QMetaObject::invokeMethod(picker, "open");
    // Shown windows report their visibility from the event loop.
    EXPECT_TRUE(runEventsUntil([&] { return model->pickerRefreshTimer().isActive(); }, 5000));
    picker->close();
    EXPECT_TRUE(runEventsUntil([&] { return !model->pickerRefreshTimer().isActive(); }, 5000));
}

} // namespace
} // namespace pellux::test
