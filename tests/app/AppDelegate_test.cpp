#include "app/AppDelegate.h"
#include "capture/ScreenshotService.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/StorageManager.h"
#include "support/AlertAnswers.h"
#include "support/CapturePipeline.h"
#include "support/ListedRecordings.h"
#include "ui/DebugWindow.h"
#include "ui/FirstRun.h"
#include "ui/MainViewModel.h"
#include "ui/SearchWindow.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"

namespace pellux {
namespace {

using namespace pellux::test;

const CaptureError kNoDisplay { QString::fromLatin1(screenCaptureErrorDomain), QStringLiteral("cannot open display") };

// The capture pipeline with a fixed ten-second interval, for the model and the tray: the pauses
// they would sleep are recorded instead (`onSleep` runs at each, with its count).
struct AppRig {
    AppRig()
    {
        pipeline.home.saveFixedInterval(10.0);
        pipeline.makeService();
    }

    // The desktop refuses screen capture (true), or allows it.
    void refusePermission(bool refused)
    {
        pipeline.backend.setPermission(!refused);
        pipeline.backend.setContentError(refused ? std::optional(kNoDisplay) : std::nullopt);
    }

    // A window showing its text.
    void addWindow(quint32 id, const QString &text = QStringLiteral("notes"))
    {
        pipeline.backend.addWindow(
            FakeCaptureBackend::window(id, QRectF(0, 0, 640, 200), text), CapturePipeline::textFrame(text));
    }

    MainViewModel::Sleep recordedSleep()
    {
        return [this](std::chrono::milliseconds delay) -> QCoro::Task<> {
            sleeps.push_back(delay);
            if (onSleep)
                onSleep(int(sleeps.size()));
            co_return;
        };
    }

    // A model over the pipeline; its pauses are recorded when `recorded`, else skipped.
    std::unique_ptr<MainViewModel> newModel(bool recorded = true)
    {
        return std::make_unique<MainViewModel>(MainViewModel::Components { pipeline.service.get(), &pipeline.backend,
            recorded ? recordedSleep() : [](std::chrono::milliseconds) -> QCoro::Task<> { co_return; } });
    }

    // Builds the model and lets its start-up check run to the end.
    MainViewModel &make(bool captureAllowed = true)
    {
        model = newModel();
        EXPECT_TRUE(model->permissionCheckTimer().isActive()); // the poll always starts at construction
        model->setCaptureAllowed(captureAllowed);
        settle();
        return *model;
    }

    // Lets a start-up check run to the end.
    static void settle()
    {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }

    CapturePipeline pipeline;
    std::vector<std::chrono::milliseconds> sleeps;
    std::function<void(int)> onSleep;
    std::unique_ptr<MainViewModel> model;
};

// The rows of a menu as a user reads them: "-" for a separator, a disabled row in brackets, the
// key after a tab, a submenu's rows after "▸".
QStringList rows(const QMenu *menu)
{
    QStringList out;
    for (QAction *action : menu->actions()) {
        QString row = action->isSeparator() ? QStringLiteral("-")
            : action->isEnabled()           ? action->text()
                                            : QStringLiteral("[%1]").arg(action->text());
        if (!action->shortcut().isEmpty())
            row += QLatin1Char('\t') + action->shortcut().toString();
        if (action->menu())
            row += QStringLiteral(" ▸ ") + rows(action->menu()).join(QStringLiteral(", "));
        out << row;
    }
    return out;
}

const QStringList kCommonRows = { "-", "Open Timeline\tCtrl+T", "Debug View\tCtrl+D", "-", "Preferences...\tCtrl+,",
    "Check for Updates...", "About Pellux", "Debug ▸ Reset Database", "-", "Quit\tCtrl+Q" };

class AppDelegateTest : public ::testing::Test, public AppRig {
protected:
    // The delegate over the test's pipeline, launched in the background as from autostart, its
    // model made and settled.
    AppDelegate &makeDelegate()
    {
        delegate = std::make_unique<AppDelegate>(AppDelegate::Components { [this] { return newModel(false); },
            pipeline.storage.get(), pipeline.database.get(), nullptr, pipeline.debug.get(), recordedSleep() });
        delegate->applicationDidFinishLaunching(false);
        EXPECT_TRUE(runEventsUntil([&] { return delegate->viewModel() != nullptr; }));
        settle();
        return *delegate;
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, TheMenuFollowsTheModelsStateFromMissingPermissionToPaused)
{
    AppDelegate before(AppDelegate::Components {});
    before.constructMenu();
    EXPECT_EQ(rows(before.menu()), kCommonRows);
    // Without a model the icon and the actions that need one do nothing.
    before.updateStatusIcon();
    before.pauseScreenshots();
    before.resumeScreenshots();
    before.showDebugWindow();
    before.showPreferences();

    // Without permission the menu offers to grant it, and changes once granted.
    addWindow(1);
    refusePermission(true);
    AppDelegate &d = makeDelegate();
    EXPECT_EQ(rows(d.menu()),
        QStringList({ "[\u26A0\uFE0F Screen Recording Permission Required]", "-", "Grant Permission..." })
            + kCommonRows);
    refusePermission(false);
    CapturePipeline::run(d.viewModel()->recheckPermissions());
    EXPECT_EQ(rows(d.menu()),
        QStringList({ "[✓ Capturing Screenshots]", "-", "Pause Screenshots",
            "Pause For \u25B8 30 Minutes, 1 Hour, Until Tomorrow" })
            + kCommonRows);
    EXPECT_EQ(d.statusItem().toolTip(), QStringLiteral("Pellux - Capturing"));

    d.menu()->actions()[2]->trigger(); // Pause
    QCoreApplication::processEvents();
    EXPECT_FALSE(pipeline.service->isCapturing());
    EXPECT_EQ(rows(d.menu()), QStringList({ "[Screenshots Paused]", "-", "Resume Screenshots" }) + kCommonRows);
    // The icon is shown and right-clicking it opens the menu as it is now.
    EXPECT_EQ(std::tuple(d.statusItem().isVisible(), d.statusItem().contextMenu(), d.statusItem().toolTip(),
                  d.controls().stateText()),
        std::tuple(true, d.menu(), QStringLiteral("Pellux"), QStringLiteral("Paused")));

    // A pause for a while says until when, and ends by itself.
    CapturePipeline::run(d.viewModel()->startScreenshots());
    d.constructMenu();
    d.menu()->actions()[3]->menu()->actions()[0]->trigger(); // 30 minutes
    QCoreApplication::processEvents();
    EXPECT_FALSE(pipeline.service->isCapturing());
    EXPECT_TRUE(rows(d.menu()).first().startsWith("[Paused until ")) << rows(d.menu()).first().toStdString();
    d.pauseUntil(Clock::system().now() + Seconds(0.2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pipeline.service->isCapturing(); }, 10'000));
    EXPECT_EQ(d.controls().stateText().left(9), QStringLiteral("Recording"));
    d.menu()->actions()[2]->trigger(); // Pause
    QCoreApplication::processEvents();

    d.viewModel()->setCaptureAllowed(false);
    d.constructMenu();
    EXPECT_EQ(rows(d.menu()).first(), QStringLiteral("[Another Pellux Process Is Capturing]"));

    bool quitCalled = false;
    d.setQuitHandler([&] { quitCalled = true; });
    d.constructMenu();
    d.menu()->actions().back()->trigger();
    EXPECT_TRUE(quitCalled);
}

TEST_F(AppDelegateTest, DebugViewAndPreferencesEachOpenOneWindowAndReuseIt)
{
    AppDelegate &d = makeDelegate();
    const auto open = [&](const QString &row) {
        for (QAction *action : d.menu()->actions())
            if (action->text() == row)
                action->trigger();
        return row == QStringLiteral("Debug View") ? d.debugWindow()->window() : d.settingsWindow()->window();
    };
    for (const auto &[row, title] : { std::pair { "Debug View", "Debug View" }, { "Preferences...", "Preferences" } }) {
        QQuickWindow *first = open(row);
        ASSERT_NE(first, nullptr) << row;
        EXPECT_TRUE(first->isVisible());
        EXPECT_EQ(first->title(), title);
        first->close();
        EXPECT_EQ(open(row), first);
        EXPECT_TRUE(first->isVisible());
    }
}

TEST_F(AppDelegateTest, ResetDatabaseAsksFirstThenDeletesEverythingAndCapturesAgain)
{
    addWindow(1, QStringLiteral("quarterly budget review"));
    AppDelegate &d = makeDelegate();
    CapturePipeline::run(pipeline.service->runCaptureCycle());
    pipeline.settle();
    ASSERT_EQ(pipeline.storage->recordingCount(), 1);
    const QString file = listedRecordings(*pipeline.storage).front().localPath();

    QSignalSpy finished(&d, &AppDelegate::resetFinished);
    QSignalSpy stops(pipeline.service.get(), &ScreenshotService::isCapturingChanged);
    {
        AlertAnswers answers({ QStringLiteral("Cancel") });
        d.resetDatabase();
        EXPECT_EQ(answers.messages, QStringList({ "Reset Database?" }));
        EXPECT_EQ(answers.informativeTexts,
            QStringList({ "This will delete all screenshots and OCR data. This action cannot be undone." }));
        EXPECT_EQ(answers.defaults, QStringList({ "Cancel" }));
    }
    EXPECT_EQ(pipeline.storage->recordingCount(), 1);
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(stops.count(), 0);

    {
        AlertAnswers answers({ QStringLiteral("Reset") });
        d.resetDatabase();
    }
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    EXPECT_EQ(sleeps, std::vector<std::chrono::milliseconds>(2, std::chrono::milliseconds(500)));
    EXPECT_GE(stops.count(), 2); // stopped, then started again
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_EQ(pipeline.storage->recordingCount(), 0);
    EXPECT_FALSE(QFile::exists(file));

    // The window did not change, but what is on screen enters the new history at once.
    CapturePipeline::run(pipeline.service->runCaptureCycle());
    pipeline.settle();
    EXPECT_EQ(pipeline.storage->recordingCount(), 1);
}

// The first start opens the window with its sheet even when started in the background, and the
// sheet's "Privacy Settings..." opens that pane; once dismissed, a background start opens nothing.
TEST_F(AppDelegateTest, TheFirstStartOpensTheWindowOnceAndItsSheetLeadsToPrivacy)
{
    ASSERT_TRUE(QFile::remove(AppPreferences::settingsFilePath()));
    AppDelegate &first = makeDelegate();
    ASSERT_NE(first.searchWindow(), nullptr);
    EXPECT_TRUE(first.searchWindow()->window()->isVisible());
    FirstRun *sheet = first.searchWindow()->firstRun();
    ASSERT_TRUE(sheet->pending());
    sheet->openPrivacySettings();
    ASSERT_NE(first.settingsWindow(), nullptr);
    EXPECT_EQ(first.settingsWindow()->model()->selectedSection(), int(SettingsModel::Section::privacy));
    sheet->dismiss();
    delegate.reset();
    EXPECT_EQ(makeDelegate().searchWindow(), nullptr);
}

TEST(MainViewModel, PermissionAtLaunchStartsCaptureAndTheFirstPollOnlyStopsPolling)
{
    AppRig rig;
    rig.addWindow(1);
    MainViewModel &m = rig.make();
    // Permission, the model's and the service's capture, the alert, the poll's interval.
    EXPECT_EQ(std::tuple(m.hasScreenRecordingPermission(), m.isCapturingScreenshots(),
                  rig.pipeline.service->isCapturing(), m.showPermissionAlert(), m.permissionCheckTimer().interval()),
        std::tuple(true, true, true, false, 2000));
    const int requests = rig.pipeline.backend.contentRequests();

    CapturePipeline::run(m.recheckPermissions());
    EXPECT_FALSE(m.permissionCheckTimer().isActive());
    EXPECT_EQ(rig.pipeline.backend.contentRequests(), requests); // no second start
    EXPECT_TRUE(rig.sleeps.empty());

    // The count and the state mirror the service.
    CapturePipeline::run(rig.pipeline.service->captureTestScreenshot());
    EXPECT_EQ(m.screenshotCount(), 1);
    rig.pipeline.service->stopCapturing();
    EXPECT_FALSE(m.isCapturingScreenshots());
}

TEST(MainViewModel, MissingPermissionAsksOnceAndPollsUntilGranted)
{
    AppRig rig;
    FakeCaptureBackend &backend = rig.pipeline.backend;
    rig.addWindow(1);
    rig.refusePermission(true);
    MainViewModel &m = rig.make();
    CapturePipeline::run(m.recheckPermissions()); // still missing: keeps polling and alerting
    EXPECT_EQ(std::tuple(m.hasScreenRecordingPermission(), m.isCapturingScreenshots(), backend.requestAccessCalls(),
                  m.permissionCheckTimer().isActive(), m.showPermissionAlert()),
        std::tuple(false, false, 1, true, true));

    // Granted meanwhile: the two-second poll itself notices.
    rig.refusePermission(false);
    EXPECT_TRUE(runEventsUntil([&] { return !m.showPermissionAlert(); }, 10'000));
    EXPECT_EQ(std::tuple(m.permissionCheckTimer().isActive(), m.isCapturingScreenshots(),
                  rig.pipeline.service->isCapturing(), backend.requestAccessCalls()),
        std::tuple(false, true, true, 1));
}

// While the `at`th retry waits, a window may appear, capture may be stopped (a shutdown) and the
// two-second poll may come, which sees the permission and stops polling.
TEST(MainViewModel, AFailedStartIsRetriedUpToThreeTimes)
{
    const QString failed = QStringLiteral("Screenshot capture failed, retrying attempt %1...");
    const struct {
        int at;
        bool window, stop, poll;
        QStringList log; // one line per retry, and one for a success
        bool capturing;
    } cases[] = {
        { 2, false, false, true, { failed.arg(1), failed.arg(2), failed.arg(3) }, false },
        { 2, true, false, false,
            { failed.arg(1), failed.arg(2), "Screenshot capture started successfully on attempt 2" }, true },
        { 1, true, true, false, { failed.arg(1) }, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.log.join(' ').toStdString());
        AppRig rig;
        rig.onSleep = [&](int n) {
            if (n == c.at && c.window)
                rig.addWindow(1);
            if (n == c.at && c.stop)
                rig.pipeline.service->stopCapturing();
            if (n == c.at && c.poll)
                rig.model->recheckPermissions();
        };
        LogCapture log(LogCapture::Verbosity::quiet);
        MainViewModel &m = rig.make();
        const auto retries = size_t(c.log.filter("failed").size());
        EXPECT_EQ(rig.sleeps, std::vector<std::chrono::milliseconds>(retries, MainViewModel::retryDelay));
        EXPECT_EQ(log.linesStartingWith("Screenshot capture"), c.log);
        EXPECT_EQ(rig.pipeline.service->isCapturing(), c.capturing);
        EXPECT_EQ(m.isCapturingScreenshots(), c.capturing); // the optimistic flag fell back
        EXPECT_EQ(m.permissionCheckTimer().isActive(), !c.poll);
        // A later start from the menu is not affected.
        CapturePipeline::run(m.startScreenshots());
        EXPECT_EQ(rig.pipeline.service->isCapturing(), c.window);
    }
}

// Another process captures into the same folder: the model keeps track of the permission but
// starts nothing, by itself or when asked, until capture is allowed again.
TEST(MainViewModel, NoCaptureWhileNotAllowed)
{
    AppRig rig;
    rig.addWindow(1);
    MainViewModel &m = rig.make(false);
    EXPECT_TRUE(m.hasScreenRecordingPermission());
    CapturePipeline::run(m.recheckPermissions());
    CapturePipeline::run(m.startScreenshots());
    EXPECT_EQ(std::pair(rig.pipeline.service->isCapturing(), m.isCapturingScreenshots()), std::pair(false, false));
    m.setCaptureAllowed(true);
    CapturePipeline::run(m.startScreenshots());
    EXPECT_EQ(std::pair(rig.pipeline.service->isCapturing(), m.isCapturingScreenshots()), std::pair(true, true));
    rig.pipeline.service->stopCapturing();
}

} // namespace
} // namespace pellux
