#include "app/AppRig.h"
#include "capture/ScreenshotService.h"

namespace pellux {
namespace {

using test::CapturePipeline;
using test::FakeCaptureBackend;

struct ModelRig : test::AppRig {
    // Builds the model and lets its start-up check run to the end.
    MainViewModel &make(bool captureAllowed = true)
    {
        model = newModel();
        EXPECT_TRUE(model->permissionCheckTimer().isActive()); // the poll always starts at construction
        model->setCaptureAllowed(captureAllowed);
        settle();
        return *model;
    }

    std::unique_ptr<MainViewModel> model;
};

TEST(MainViewModel, PermissionAtLaunchStartsCaptureAndTheFirstPollOnlyStopsPolling)
{
    ModelRig rig;
    rig.addWindow(1);
    MainViewModel &m = rig.make();
    EXPECT_TRUE(m.hasScreenRecordingPermission());
    EXPECT_TRUE(m.isCapturingScreenshots());
    EXPECT_TRUE(rig.pipeline.service->isCapturing());
    EXPECT_FALSE(m.showPermissionAlert());
    EXPECT_EQ(m.permissionCheckTimer().interval(), 2000);
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
    ModelRig rig;
    FakeCaptureBackend &backend = rig.pipeline.backend;
    rig.addWindow(1);
    backend.setPermission(false);
    backend.setContentError(
        CaptureError { QString::fromLatin1(screenCaptureErrorDomain), QStringLiteral("cannot open display") });
    MainViewModel &m = rig.make();
    EXPECT_FALSE(m.hasScreenRecordingPermission());
    EXPECT_FALSE(m.isCapturingScreenshots());
    EXPECT_EQ(backend.requestAccessCalls(), 1);
    CapturePipeline::run(m.recheckPermissions()); // still missing: keeps polling
    EXPECT_TRUE(m.permissionCheckTimer().isActive());
    EXPECT_TRUE(m.showPermissionAlert());

    // Granted meanwhile: the two-second poll itself notices.
    backend.setPermission(true);
    backend.setContentError(std::nullopt);
    EXPECT_TRUE(test::runEventsUntil([&] { return !m.showPermissionAlert(); }, 10'000));
    EXPECT_FALSE(m.permissionCheckTimer().isActive());
    EXPECT_TRUE(m.isCapturingScreenshots());
    EXPECT_TRUE(rig.pipeline.service->isCapturing());
    EXPECT_EQ(backend.requestAccessCalls(), 1);
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
        ModelRig rig;
        rig.onSleep = [&](int n) {
            if (n == c.at && c.window)
                rig.addWindow(1);
            if (n == c.at && c.stop)
                rig.pipeline.service->stopCapturing();
            if (n == c.at && c.poll)
                rig.model->recheckPermissions();
        };
        test::LogCapture log(test::LogCapture::Verbosity::quiet);
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
    ModelRig rig;
    rig.addWindow(1);
    MainViewModel &m = rig.make(false);
    EXPECT_TRUE(m.hasScreenRecordingPermission());
    CapturePipeline::run(m.recheckPermissions());
    CapturePipeline::run(m.startScreenshots());
    EXPECT_FALSE(rig.pipeline.service->isCapturing());
    EXPECT_FALSE(m.isCapturingScreenshots());

    m.setCaptureAllowed(true);
    CapturePipeline::run(m.startScreenshots());
    EXPECT_TRUE(rig.pipeline.service->isCapturing());
    EXPECT_TRUE(m.isCapturingScreenshots());
    rig.pipeline.service->stopCapturing();
}

} // namespace
} // namespace pellux
