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
    EXPECT_EQ(model->iconSource({ "Tool", "tool", 0 }), SettingsModel::iconSourceFor({ "Tool", "tool", 0 }));
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

} // namespace
} // namespace pellux::test
