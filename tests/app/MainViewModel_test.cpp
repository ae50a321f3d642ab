#include "capture/ScreenshotService.h"
#include "support/CapturePipeline.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"
#include "ui/MainViewModel.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace pellux {
namespace {

using test::CapturePipeline;
using test::FakeCaptureBackend;

class MainViewModelTest : public ::testing::Test {
protected:
    MainViewModelTest()
    {
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.useDynamicIntervals = false;
        preferences.screenshotInterval = 10.0;
        pipeline.savePreferences(preferences);
    }

    void addWindow(quint32 id)
    {
        pipeline.backend.addWindow(FakeCaptureBackend::window(id, QRectF(0, 0, 300, 200), QStringLiteral("w")),
            CapturePipeline::textFrame(QStringLiteral("window %1").arg(id), 300, 200));
    }

    // Builds the model and lets its start-up check run to the end.
    MainViewModel &makeModel()
    {
        pipeline.makeService();
        model = std::make_unique<MainViewModel>(MainViewModel::Components {
            pipeline.service.get(), &pipeline.backend, [this](std::chrono::milliseconds delay) -> QCoro::Task<> {
                sleeps.push_back(delay);
                if (onSleep)
                    onSleep(int(sleeps.size()));
                co_return;
            } });
        EXPECT_TRUE(model->permissionCheckTimer().isActive()); // the poll always starts at construction
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        return *model;
    }

    CapturePipeline pipeline;
    std::unique_ptr<MainViewModel> model;
    std::vector<std::chrono::milliseconds> sleeps;
    std::function<void(int)> onSleep;
};

TEST_F(MainViewModelTest, PermissionAtLaunchStartsCaptureAndTheFirstPollOnlyStopsPolling)
{
    addWindow(1);
    MainViewModel &m = makeModel();
    EXPECT_TRUE(m.hasScreenRecordingPermission());
    EXPECT_TRUE(m.isCapturingScreenshots());
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_FALSE(m.showPermissionAlert());
    EXPECT_EQ(m.permissionCheckTimer().interval(), 2000);
    const int requests = pipeline.backend.contentRequests();

    CapturePipeline::run(m.recheckPermissions());
    EXPECT_FALSE(m.permissionCheckTimer().isActive());
    EXPECT_EQ(pipeline.backend.contentRequests(), requests); // no second start
    EXPECT_TRUE(sleeps.empty());

    // The count and the state mirror the service.
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    EXPECT_EQ(m.screenshotCount(), 1);
    pipeline.service->stopCapturing();
    EXPECT_FALSE(m.isCapturingScreenshots());
}

TEST_F(MainViewModelTest, MissingPermissionAsksOnceAndPollsUntilGranted)
{
    addWindow(1);
    pipeline.backend.setPermission(false);
    pipeline.backend.setContentError(
        CaptureError { QString::fromLatin1(screenCaptureErrorDomain), QStringLiteral("cannot open display") });
    MainViewModel &m = makeModel();
    EXPECT_FALSE(m.hasScreenRecordingPermission());
    EXPECT_TRUE(m.showPermissionAlert());
    EXPECT_FALSE(m.isCapturingScreenshots());
    EXPECT_EQ(pipeline.backend.requestAccessCalls(), 1);
    EXPECT_TRUE(m.permissionCheckTimer().isActive());

    CapturePipeline::run(m.recheckPermissions()); // still missing: keeps polling
    EXPECT_TRUE(m.permissionCheckTimer().isActive());
    EXPECT_TRUE(m.showPermissionAlert());

    // Granted meanwhile: the two-second poll itself notices.
    pipeline.backend.setPermission(true);
    pipeline.backend.setContentError(std::nullopt);
    EXPECT_TRUE(test::runEventsUntil([&] { return !m.showPermissionAlert(); }, 10'000));
    EXPECT_FALSE(m.permissionCheckTimer().isActive());
    EXPECT_TRUE(m.isCapturingScreenshots());
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_EQ(pipeline.backend.requestAccessCalls(), 1);
}

TEST_F(MainViewModelTest, AStartWithoutWindowsIsRetriedThreeTimesThenLeftOff)
{
    // The first poll comes two seconds in, between the second and the third retry.
    onSleep = [this](int n) {
        if (n == 2)
            model->recheckPermissions();
    };
    test::LogCapture log(test::LogCapture::Verbosity::quiet);
    MainViewModel &m = makeModel();
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>(3, MainViewModel::retryDelay)));
    EXPECT_EQ(log.linesStartingWith("Screenshot capture"),
        QStringList({ "Screenshot capture failed, retrying attempt 1...",
            "Screenshot capture failed, retrying attempt 2...", "Screenshot capture failed, retrying attempt 3..." }));
    EXPECT_FALSE(pipeline.service->isCapturing());
    EXPECT_FALSE(m.isCapturingScreenshots()); // the optimistic flag fell back
    EXPECT_FALSE(m.permissionCheckTimer().isActive()); // the poll saw the permission and stopped
}

TEST_F(MainViewModelTest, AStartThatSucceedsOnTheSecondRetryStopsRetrying)
{
    onSleep = [this](int n) {
        if (n == 2)
            addWindow(1);
    };
    test::LogCapture log(test::LogCapture::Verbosity::quiet);
    MainViewModel &m = makeModel();
    EXPECT_EQ(sleeps.size(), 2u);
    EXPECT_EQ(log.linesStartingWith("Screenshot capture"),
        QStringList(
            { "Screenshot capture failed, retrying attempt 1...", "Screenshot capture failed, retrying attempt 2...",
                "Screenshot capture started successfully on attempt 2" }));
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_TRUE(m.isCapturingScreenshots());
}

TEST_F(MainViewModelTest, AStopDuringTheRetriesEndsThem)
{
    // A window appears while the first retry waits, but capture was stopped meanwhile (a shutdown).
    onSleep = [this](int n) {
        if (n == 1) {
            addWindow(1);
            pipeline.service->stopCapturing();
        }
    };
    MainViewModel &m = makeModel();
    EXPECT_EQ(sleeps.size(), 1u);
    EXPECT_FALSE(pipeline.service->isCapturing());
    EXPECT_FALSE(m.isCapturingScreenshots());

    // A later start from the menu is not affected.
    CapturePipeline::run(m.startScreenshots());
    EXPECT_TRUE(pipeline.service->isCapturing());
}

// Another process captures into the same folder: the model keeps track of the permission but
// starts nothing, by itself or when asked, until capture is allowed again.
TEST_F(MainViewModelTest, NoCaptureWhileNotAllowed)
{
    addWindow(1);
    pipeline.makeService();
    model
        = std::make_unique<MainViewModel>(MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
    model->setCaptureAllowed(false);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(model->hasScreenRecordingPermission());
    EXPECT_FALSE(model->isCapturingScreenshots());

    CapturePipeline::run(model->recheckPermissions());
    CapturePipeline::run(model->startScreenshots());
    EXPECT_FALSE(pipeline.service->isCapturing());
    EXPECT_FALSE(model->isCapturingScreenshots());

    model->setCaptureAllowed(true);
    CapturePipeline::run(model->startScreenshots());
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_TRUE(model->isCapturingScreenshots());
    pipeline.service->stopCapturing();
}

} // namespace
} // namespace pellux
