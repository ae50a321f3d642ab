#include "WindowRender.h"
#include "persistence/Autostart.h"
#include "support/AlertAnswers.h"
#include "support/ListedRecordings.h"
#include "ui/ApplicationIcons.h"
#include "ui/Formatting.h"
#include "ui/MainViewModel.h"
#include "ui/SettingsModel.h"

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

    // A recording of a window of its own, captured `ageDays` before the clock's present.
    Recording captureAged(double ageDays, quint32 windowId)
    {
        const TimePoint present = pipeline.clock.now();
        pipeline.clock.set(fromSecondsSince1970(secondsSince1970(present) - ageDays * kDay));
        const QString title = QStringLiteral("note number %1").arg(windowId);
        addWindow(windowId, title, "Notes", "notes");
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        pipeline.backend.removeWindow(windowId);
        pipeline.clock.set(present);
        for (const Recording &r : listedRecordings(*pipeline.storage)) {
            if (r.windowTitle == title)
                return r;
        }
        ADD_FAILURE() << "no recording of window " << windowId;
        return {};
    }

    bool rowExists(const Recording &recording)
    {
        return awaitCompletion<bool>([&](auto done) { pipeline.database->verifyRecordingExists(recording.id, done); });
    }

    // Puts a file where the folder of `path` should be, so that nothing can be written there.
    static QString blockFolderOf(const QString &path)
    {
        const QString folder = QFileInfo(path).absolutePath();
        QDir(folder).removeRecursively();
        EXPECT_TRUE(writeAll(folder, {}));
        return folder;
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
    EXPECT_TRUE(viewModel->preferences().excludedApps.isEmpty());
    EXPECT_EQ(model->excludedCaption(), "0 apps won't be captured");
    EXPECT_TRUE(pipeline.service->preferences().excludedApps.isEmpty());
    QFile::remove(blocked);
}

TEST_F(SettingsModelTest, AnIntervalChangeIsSavedAndRestartsCaptureWithIt)
{
    QSignalSpy capturing(pipeline.service.get(), &ScreenshotService::isCapturingChanged);
    EXPECT_EQ(model->intervalIndex(), 3); // "Every 10 seconds"
    ASSERT_TRUE(edit([&] { model->chooseInterval(2); }));
    EXPECT_EQ(AppPreferences::load().screenshotInterval, 5.0);
    EXPECT_EQ(model->intervalIndex(), 2);
    while (capturing.count() < 2)
        ASSERT_TRUE(capturing.wait(5000));
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_EQ(pipeline.service->pendingCaptureInterval(), 5.0);
}

TEST_F(SettingsModelTest, OneYearKeepsOnlyTheLastYearsRecordings)
{
    pipeline.backend.removeWindow(1);
    pipeline.backend.removeWindow(2);
    const std::pair<double, bool> ages[] = { { 400, false }, { 365.1, false }, { 364.9, true }, { 1, true } };
    std::vector<Recording> recordings;
    for (const auto &[ageDays, kept] : ages)
        recordings.push_back(captureAged(ageDays, quint32(10 + recordings.size())));
    ASSERT_EQ(pipeline.storage->recordingCount(), 4);

    ASSERT_TRUE(edit([&] { model->chooseRetention(3); }));
    EXPECT_EQ(AppPreferences::load().retentionDays, 365);
    QSignalSpy deleted(pipeline.storage.get(), &StorageManager::recordingsDeleted);
    AlertAnswers answers({ "Delete", "OK" });
    model->deleteOldRecordings();
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_EQ(deleted.at(0).at(0).toInt(), 2);
    for (size_t i = 0; i < recordings.size(); ++i) {
        EXPECT_EQ(QFile::exists(recordings[i].localPath()), ages[i].second) << ages[i].first;
        EXPECT_EQ(rowExists(recordings[i]), ages[i].second) << ages[i].first;
    }
}

// Without an icon of its desktop entry (how the entry is found: the image provider test) the
// picker shows a symbol.
TEST_F(SettingsModelTest, AnApplicationHasAnIconSourceOnlyWithAnIcon)
{
    const QString folder = pipeline.home.path() + "/applications";
    QDir().mkpath(folder);
    ASSERT_TRUE(CapturePipeline::blankFrame(48, 48).save(folder + "/tool.png"));
    writeAll(folder + "/tool.desktop", "[Desktop Entry]\nType=Application\nIcon=" + folder.toUtf8() + "/tool.png\n");
    ApplicationIcons icons(QStringList { folder });
    QSignalSpy ready(&icons, &ApplicationIcons::readyChanged);
    icons.prepare();
    ASSERT_TRUE(received(ready));
    model->setApplicationIcons(&icons);
    const RunningApplication tool { "Tool", "tool", 0 };
    EXPECT_EQ(model->iconSource(tool), SettingsModel::iconSourceFor(tool));
    EXPECT_EQ(model->iconSource({ "Other", "other", 0 }), QString());
}

TEST_F(SettingsModelTest, DeleteAllAsksFirstAndDisablesItselfWhileItRuns)
{
    pipeline.backend.removeWindow(1);
    pipeline.backend.removeWindow(2);
    captureAged(2, 10);
    captureAged(1, 11);
    const std::vector<Recording> recordings = listedRecordings(*pipeline.storage);
    ASSERT_EQ(recordings.size(), 2u);
    pipeline.service->stopCapturing();
    {
        AlertAnswers cancel({ "Cancel" });
        model->requestDeleteAll();
        EXPECT_EQ(cancel.messages, QStringList { "Delete All Data?" });
    }
    EXPECT_FALSE(model->isDeleting());
    EXPECT_EQ(pipeline.storage->recordingCount(), 2);

    QSignalSpy deleting(model.get(), &SettingsModel::isDeletingChanged);
    AlertAnswers confirm({ "Delete" });
    model->requestDeleteAll();
    EXPECT_TRUE(model->isDeleting());
    model->requestDeleteAll(); // ignored while it runs
    ASSERT_TRUE(runEventsUntil([&] { return !model->isDeleting(); }));
    EXPECT_EQ(deleting.count(), 2);
    EXPECT_EQ(pipeline.storage->recordingCount(), 0);
    EXPECT_FALSE(rowExists(recordings[0]));
}

TEST_F(SettingsModelTest, AFailedApplicationQueryKeepsTheListAndSaysWhy)
{
    loadApplications();
    LogCapture log(LogCapture::Verbosity::quiet);
    pipeline.backend.setContentError(
        CaptureError { QString::fromLatin1(captureFailureDomain), QStringLiteral("The X server went away") });
    loadApplications();
    EXPECT_TRUE(log.contains("Failed to load available apps: The X server went away")) << log.text().toStdString();
    EXPECT_EQ(model->pickerApplications()->count(), 2);
    EXPECT_EQ(model->availableApplications().size(), 2u);
}

// The switch writes the autostart entry off the GUI thread; when the entry cannot be written the
// switch goes back.
TEST_F(SettingsModelTest, StartAtLoginFollowsWhatCouldBeWritten)
{
    for (const bool blocked : { false, true }) {
        SCOPED_TRACE(blocked ? "blocked" : "writable");
        QDir(QFileInfo(autostartEntryPath()).absolutePath()).removeRecursively();
        const QString blocker = blocked ? blockFolderOf(autostartEntryPath()) : QString();
        LogCapture log(LogCapture::Verbosity::quiet);
        QSignalSpy applied(model.get(), &SettingsModel::startAtLoginApplied);
        model->setStartAtLogin(true);
        ASSERT_TRUE(received(applied));
        EXPECT_EQ(model->startAtLogin(), !blocked);
        EXPECT_EQ(QFile::exists(autostartEntryPath()), !blocked);
        EXPECT_EQ(log.contains("ERROR Settings: Could not turn on starting Pellux at login"), blocked);
        if (!blocked) {
            applied.clear();
            model->setStartAtLogin(false);
            ASSERT_TRUE(received(applied));
            EXPECT_FALSE(QFile::exists(autostartEntryPath()));
        }
        QFile::remove(blocker);
    }
}

// Excluding an application from the picker offers to delete what was captured of it (Return
// keeps it); taking the exclusion back asks nothing.
TEST_F(SettingsModelTest, ExcludingAnApplicationOffersToDeleteItsScreenshots)
{
    addWindow(3, "bold claims", "<b>Term</b>", "evil-term");
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.service->stopCapturing();
    pipeline.settle();
    loadApplications();
    const QString question = "Delete the existing screenshot of " + displayedName("<b>Term</b>", 80) + "?";
    const struct {
        const char *answer;
        bool deleted;
        QStringList messages;
    } cases[] = {
        { "Keep", false, { question } },
        { "Delete", true, { question, "Removed 1 screenshot, " } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(QCoro::waitFor(pipeline.storage->countRecordings(std::nullopt, "<b>Term</b>")), 1);
        AlertAnswers answers({ c.answer, "OK" });
        const std::optional<DeletionReport> report = QCoro::waitFor(model->toggleExcludedAndOffer("evil-term"));
        EXPECT_TRUE(AppPreferences::load().excludedApps.contains("evil-term"));
        ASSERT_EQ(answers.messages.size(), c.messages.size());
        EXPECT_EQ(answers.messages[0], question);
        EXPECT_EQ(answers.defaults[0], "Keep");
        EXPECT_EQ(report.has_value(), c.deleted);
        EXPECT_EQ(QCoro::waitFor(pipeline.storage->countRecordings(std::nullopt, "<b>Term</b>")), c.deleted ? 0 : 1);
        if (c.deleted) {
            EXPECT_TRUE(answers.messages[1].startsWith(c.messages[1])) << answers.messages[1].toStdString();
            EXPECT_EQ(report->count, 1);
            EXPECT_GT(report->bytes, 0);
        }
        // The other applications keep theirs.
        EXPECT_GE(QCoro::waitFor(pipeline.storage->countRecordings(std::nullopt, "XTerm")), 1);
        AlertAnswers none({});
        EXPECT_FALSE(QCoro::waitFor(model->toggleExcludedAndOffer("evil-term")));
        EXPECT_TRUE(none.messages.isEmpty());
        EXPECT_FALSE(AppPreferences::load().excludedApps.contains("evil-term"));
        if (!c.deleted)
            continue;
        // Nothing left to delete: excluding asks nothing.
        EXPECT_FALSE(QCoro::waitFor(model->toggleExcludedAndOffer("evil-term")));
        EXPECT_TRUE(none.messages.isEmpty());
    }
}

// The picker lists each application once and never Pellux, and follows the running applications
// row by row while it is shown, so a view keeps its place.
TEST_F(SettingsModelTest, ThePickerListsEachApplicationOnceAndFollowsNewOnes)
{
    const qint64 self = QCoreApplication::applicationPid();
    const std::vector<RunningApplication> running { { "XTerm", "debian-xterm", 1 }, { "XTerm", "debian-xterm", 2 },
        { "XTerm", "Debian-XTerm", 3 }, { "Pellux", "pellux", self }, { "Firefox", "firefox-esr", 4 } };
    QStringList listed;
    for (const RunningApplication &a : SettingsModel::pickableApplications(running, self))
        listed << QStringLiteral("%1/%2/%3").arg(a.applicationName, a.bundleIdentifier).arg(a.processID);
    EXPECT_EQ(listed, (QStringList { "XTerm/debian-xterm/1", "Firefox/firefox-esr/4" }));

    ApplicationListModel *picker = model->pickerApplications();
    QAbstractItemModelTester tester(picker, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy resets(picker, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(picker, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(picker, &QAbstractItemModel::rowsRemoved);
    loadApplications();
    ASSERT_EQ(picker->count(), 2);
    resets.clear();
    inserted.clear();

    model->setPickerShown(true);
    EXPECT_TRUE(model->pickerRefreshTimer().isActive());
    EXPECT_EQ(model->pickerRefreshTimer().interval(), SettingsModel::kPickerRefreshInterval.count());
    addWindow(4, "second shell", "XTerm", "debian-xterm");
    addWindow(5, "mail", "Thunderbird", "thunderbird");
    loadApplications();
    pipeline.backend.removeWindow(2);
    loadApplications();
    QStringList names;
    for (int row = 0; row < picker->count(); ++row)
        names << picker->data(picker->index(row), ApplicationListModel::NameRole).toString();
    EXPECT_EQ(names, (QStringList { "Thunderbird", "XTerm" }));
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(removed.count(), 1);
    model->setPickerShown(false);
    EXPECT_FALSE(model->pickerRefreshTimer().isActive());
}

// The interval menu ends with capture that adapts to activity, explained with the activity
// monitor's own bounds.
TEST_F(SettingsModelTest, TheIntervalCanAdaptToActivity)
{
    EXPECT_EQ(SettingsModel::adaptiveIntervalText(),
        QStringLiteral("Every %1 seconds while you work, up to every %2 seconds when idle")
            .arg(ActivityMonitor::highInterval)
            .arg(ActivityMonitor::idleInterval));
    const int adaptive = int(SettingsModel::intervalChoices().size()) - 1;
    ASSERT_TRUE(edit([&] { model->chooseInterval(adaptive); }));
    EXPECT_TRUE(AppPreferences::load().useDynamicIntervals);
    EXPECT_EQ(model->intervalIndex(), adaptive);
    EXPECT_EQ(model->intervalCaption(), SettingsModel::adaptiveIntervalText());
    ASSERT_TRUE(edit([&] { model->chooseInterval(1); }));
    EXPECT_FALSE(AppPreferences::load().useDynamicIntervals);
    EXPECT_EQ(AppPreferences::load().screenshotInterval, 2.0);
    EXPECT_EQ(model->intervalCaption(), "More frequent captures use more storage space");
}

} // namespace
} // namespace pellux::test
