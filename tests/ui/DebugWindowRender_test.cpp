// Renders the debug window's tabs offscreen for a person to look at: every tab with data from a
// real capture of a terminal, and the live view empty and while a test capture runs.
#include "WindowRender.h"
#include "ui/DebugViewModel.h"
#include "ui/DebugWindow.h"
#include "ui/MainViewModel.h"

namespace pellux::test {
namespace {

class DebugWindowRender : public WindowTest {
protected:
    DebugWindowRender()
    {
        // Fixed processor and memory figures: 8% busy between two samples, 156.3 MB resident.
        const QString stat = pipeline.home.path() + "/stat";
        const QString statm = pipeline.home.path() + "/statm";
        writeAll(stat, "cpu  100 0 100 800 0 0 0 0 0 0\n");
        writeAll(statm, "90000 40000 3000 100 0 20000 0\n");
        pipeline.debug = std::make_unique<DebugManager>(pipeline.clock, ProcessMetricsSource { stat, statm });
        pipeline.debug->updatePerformanceMetrics();
        writeAll(stat, "cpu  104 0 104 892 0 0 0 0 0 0\n");
        pipeline.debug->updatePerformanceMetrics();

        // A terminal: light lines of text on a dark background.
        QImage frame(1280, 720, QImage::Format_RGB32);
        frame.fill(QColor(0x1e, 0x1f, 0x29));
        QPainter painter(&frame);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(22);
        painter.setFont(font);
        painter.setPen(QColor(0xf8, 0xf8, 0xf2));
        int y = 90;
        for (const char *line : { "$ cmake --build build -j2 --target pellux", "[40/40] Linking CXX executable pellux",
                 "Build finished in 2.4 s", "$ git status --short", " M src/ui/DebugWindow.cpp" })
            painter.drawText(32, y += 40, QString::fromLatin1(line));
        pipeline.backend.addWindow(FakeCaptureBackend::window(1, QRectF(0, 0, 1280, 720), "Terminal"), frame);
        start();
    }

    void makeWindow(MainViewModel *viewModel = nullptr)
    {
        window = std::make_unique<DebugWindow>(DebugWindow::Components {
            viewModel, pipeline.debug.get(), pipeline.storage.get(), pipeline.database.get() });
        ASSERT_TRUE(window->build());
        window->window()->show();
    }

    QQuickItem *item(const char *name) const { return find(window->window(), name); }
    void showTab(int index) { window->window()->setProperty("selectedTab", index); }

    std::unique_ptr<DebugWindow> window;
};

TEST_F(DebugWindowRender, AFixedWindowWithoutTestCaptureWhenNoCaptureService)
{
    makeWindow();
    QQuickWindow *w = window->window();
    EXPECT_EQ(w->maximumSize(), QSize(800, 600));
    EXPECT_FALSE(item("captureTestButton")->isEnabled());
    EXPECT_TRUE(item("noCapturePlaceholder")->isVisible());
    renderWindow(w, "debug-live-empty");

    QMetaObject::invokeMethod(item("debugModeSwitch"), "toggle");
    QMetaObject::invokeMethod(item("debugModeSwitch"), "toggled");
    EXPECT_TRUE(pipeline.debug->isDebugMode());

    // Closed and shown again: the same window, back on the first tab without a search.
    showTab(2);
    window->model()->setSearchText("budget");
    w->close();
    window->show();
    EXPECT_EQ(window->window(), w);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->property("selectedTab").toInt(), 0);
    EXPECT_EQ(window->model()->searchText(), QString());
}

TEST_F(DebugWindowRender, EveryTabWithData)
{
    DebugManager &debug = *pipeline.debug;
    debug.setDebugMode(true);
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.settle();
    CapturePipeline::run(pipeline.storage->calculateStorageUsed());
    debug.ocrProcessed("Build finished in 2.4 s", 0.93, QRectF(32, 198, 268, 24));
    debug.ocrProcessed("M src/ui/DebugWindow.cpp", 0.64, QRectF(32, 278, 290, 24));
    debug.ocrProcessed("git status --short", 0.88);
    for (double ms : { 38.2, 41.7, 35.9 })
        debug.recordProcessingTime(ms);

    makeWindow();
    ASSERT_TRUE(item("latestCapture")->isVisible());
    renderWindow(window->window(), "debug-live");
    showTab(1);
    EXPECT_GE(window->model()->ocrResults()->rowCount(), 3);
    renderWindow(window->window(), "debug-ocr");
    window->model()->setSearchText("BUILD");
    EXPECT_EQ(window->model()->ocrResults()->rowCount(), 2); // the frame's own text holds it too
    renderWindow(window->window(), "debug-ocr-search");

    showTab(2);
    EXPECT_EQ(item("cpuText")->property("text").toString(), "8%");
    // Nothing in the application counts errors yet; the tile's error look is set by hand.
    item("errorsBox")->setProperty("value", "3");
    item("errorsBox")->setProperty("isError", true);
    renderWindow(window->window(), "debug-performance");
}

TEST_F(DebugWindowRender, TheTestCaptureInProgress)
{
    MainViewModel viewModel(MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
    viewModel.setCaptureAllowed(false); // only the button captures here
    pipeline.debug->setDebugMode(true);
    makeWindow(&viewModel);
    QQuickItem *button = item("captureTestButton");
    ASSERT_TRUE(button->isEnabled());

    // The window list answers late, so the capture is still running for the picture.
    pipeline.backend.setContentDelay(std::chrono::milliseconds(3000));
    QSignalSpy finished(window->model(), &DebugViewModel::testCaptureFinished);
    QMetaObject::invokeMethod(button, "clicked");
    QMetaObject::invokeMethod(button, "clicked");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(item("captureSpinner")->isVisible());
    renderWindow(window->window(), "debug-live-capturing");

    ASSERT_TRUE(finished.wait(30'000));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(item("latestCapture")->isVisible());
}

// The counters after the running capture stored a frame, recognised it and failed to read a
// window that went; the test capture refused while the user paused screenshots.
TEST_F(DebugWindowRender, TheCountersAfterACaptureAndTheTestCaptureWhilePaused)
{
    pipeline.debug->setDebugMode(true);
    addWindow(2, "closing window");
    pipeline.backend.setCaptureError(2, CaptureError { QString::fromLatin1(captureFailureDomain), "gone" });
    CapturePipeline::run(pipeline.service->runCaptureCycle());
    pipeline.settle();
    ASSERT_TRUE(runEventsUntil([&] { return pipeline.debug->ocrOperations() > 0; }, 10'000));
    MainViewModel viewModel(MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
    ASSERT_TRUE(runEventsUntil([&] { return viewModel.isCapturingScreenshots(); }, 5000));
    pipeline.service->stopCapturing();
    ASSERT_TRUE(runEventsUntil([&] { return !viewModel.isCapturingScreenshots(); }, 5000));
    makeWindow(&viewModel);

    showTab(2);
    EXPECT_GE(item("errorsBox")->property("value").toInt(), 1);
    renderWindow(window->window(), "debug-performance-counted");
    showTab(0);
    EXPECT_FALSE(item("captureTestButton")->isEnabled());
    EXPECT_TRUE(item("testCaptureReason")->isVisible());
    renderWindow(window->window(), "debug-live-paused");
}

} // namespace
} // namespace pellux::test
