// Renders the debug window's tabs offscreen (to $PELLUX_RENDER_DIR, else build/ui-renders) for a
// person to look at: every tab with data from a real capture, and the empty live view.
#include "WindowRender.h"
#include "support/CapturePipeline.h"
#include "support/TestFiles.h"
#include "ui/DebugViewModel.h"
#include "ui/DebugWindow.h"
#include "ui/MainViewModel.h"

#include <QPainter>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace pellux {
namespace {

using test::CapturePipeline;
using test::FakeCaptureBackend;

// A terminal-like window: dark, with coloured lines of text.
QImage terminalFrame()
{
    QImage frame(1280, 720, QImage::Format_RGB32);
    frame.fill(QColor(0x1e, 0x1f, 0x29));
    QPainter painter(&frame);
    painter.fillRect(0, 0, 1280, 36, QColor(0x2d, 0x2f, 0x3b));
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(22);
    painter.setFont(font);
    const struct {
        QColor color;
        const char *text;
    } lines[] = {
        { QColor(0x8b, 0xe9, 0xfd), "$ cmake --build build -j2 --target pellux" },
        { QColor(0xf8, 0xf8, 0xf2), "[12/40] Building CXX object src/capture/ScreenshotService.cpp.o" },
        { QColor(0xf8, 0xf8, 0xf2), "[40/40] Linking CXX executable pellux" },
        { QColor(0x50, 0xfa, 0x7b), "Build finished in 2.4 s" },
        { QColor(0x8b, 0xe9, 0xfd), "$ git status --short" },
        { QColor(0xff, 0xb8, 0x6c), " M src/ui/DebugWindow.cpp" },
    };
    int y = 90;
    for (const auto &line : lines) {
        painter.setPen(line.color);
        painter.drawText(32, y, QString::fromUtf8(line.text));
        y += 40;
    }
    return frame;
}

class DebugWindowRenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    DebugWindowRenderTest()
    {
        // Fixed processor and memory figures: 8% busy between two samples, 156.3 MB resident.
        const QString home = pipeline.home.path();
        statPath = home + QStringLiteral("/stat");
        const QString statm = home + QStringLiteral("/statm");
        test::writeAll(statPath, "cpu  100 0 100 800 0 0 0 0 0 0\n");
        test::writeAll(statm, "90000 40000 3000 100 0 20000 0\n");
        pipeline.debug = std::make_unique<DebugManager>(pipeline.clock, ProcessMetricsSource { statPath, statm });
        pipeline.debug->updatePerformanceMetrics();
        test::writeAll(statPath, "cpu  104 0 104 892 0 0 0 0 0 0\n");
        pipeline.debug->updatePerformanceMetrics();

        pipeline.backend.addWindow(
            FakeCaptureBackend::window(1, QRectF(0, 0, 1280, 720), QStringLiteral("Terminal")), terminalFrame());
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.useDynamicIntervals = false;
        pipeline.savePreferences(preferences);
        pipeline.makeService();
    }

    void makeWindow(MainViewModel *viewModel = nullptr)
    {
        window = std::make_unique<DebugWindow>(DebugWindow::Components {
            viewModel, pipeline.debug.get(), pipeline.storage.get(), pipeline.database.get() });
        ASSERT_TRUE(window->build());
        window->window()->show();
    }

    QQuickItem *find(const char *name) const { return window->window()->findChild<QQuickItem *>(QLatin1String(name)); }

    void showTab(int index) { window->window()->setProperty("selectedTab", index); }
    void render(const QString &name) { test::renderWindow(window->window(), name, { QSize(800, 600) }); }

    CapturePipeline pipeline;
    QString statPath;
    std::unique_ptr<DebugWindow> window;
};

TEST_F(DebugWindowRenderTest, AFixedWindowWithoutTestCaptureWhenNoCaptureService)
{
    makeWindow();
    QQuickWindow *w = window->window();
    EXPECT_EQ(w->maximumSize(), QSize(800, 600));
    EXPECT_FALSE(find("captureTestButton")->isEnabled());
    EXPECT_TRUE(find("noCapturePlaceholder")->isVisible());
    render(QStringLiteral("debug-live-empty"));

    QMetaObject::invokeMethod(find("debugModeSwitch"), "toggle");
    QMetaObject::invokeMethod(find("debugModeSwitch"), "toggled");
    EXPECT_TRUE(pipeline.debug->isDebugMode());

    // Closed and shown again: the same window, back on the first tab without a search.
    showTab(2);
    window->model()->setSearchText(QStringLiteral("budget"));
    w->close();
    EXPECT_FALSE(w->isVisible());
    window->show();
    EXPECT_EQ(window->window(), w);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->property("selectedTab").toInt(), 0);
    EXPECT_EQ(window->model()->searchText(), QString());
}

TEST_F(DebugWindowRenderTest, EveryTabWithData)
{
    DebugManager &debug = *pipeline.debug;
    debug.setDebugMode(true);
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.settle();
    CapturePipeline::run(pipeline.storage->calculateStorageUsed());
    debug.ocrProcessed(QStringLiteral("Build finished in 2.4 s"), 0.93, QRectF(32, 198, 268, 24));
    debug.ocrProcessed(QStringLiteral("M src/ui/DebugWindow.cpp"), 0.64, QRectF(32, 278, 290, 24));
    debug.ocrProcessed(QStringLiteral("git status --short"), 0.88);
    for (double ms : { 38.2, 41.7, 35.9 })
        debug.recordProcessingTime(ms);

    makeWindow();
    ASSERT_TRUE(find("latestCapture")->isVisible());
    render(QStringLiteral("debug-live"));

    showTab(1);
    EXPECT_GE(window->model()->ocrResults()->rowCount(), 3);
    render(QStringLiteral("debug-ocr"));

    window->model()->setSearchText(QStringLiteral("BUILD"));
    EXPECT_EQ(window->model()->ocrResults()->rowCount(), 2); // the frame's own text holds it too
    render(QStringLiteral("debug-ocr-search"));

    showTab(2);
    EXPECT_EQ(find("cpuText")->property("text").toString(), QStringLiteral("8%"));
    // Nothing in the application counts errors yet; the tile's error look is set by hand.
    QQuickItem *errors = find("errorsBox");
    errors->setProperty("value", QStringLiteral("3"));
    errors->setProperty("isError", true);
    render(QStringLiteral("debug-performance"));
}

TEST_F(DebugWindowRenderTest, TheTestCaptureInProgress)
{
    MainViewModel viewModel(MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
    viewModel.setCaptureAllowed(false); // only the button captures here
    pipeline.debug->setDebugMode(true);
    makeWindow(&viewModel);
    QQuickItem *button = find("captureTestButton");
    ASSERT_TRUE(button->isEnabled());

    // The window list answers late, so the capture is still running for the picture.
    pipeline.backend.setContentDelay(std::chrono::milliseconds(3000));
    QSignalSpy finished(window->model(), &DebugViewModel::testCaptureFinished);
    QMetaObject::invokeMethod(button, "clicked");
    QMetaObject::invokeMethod(button, "clicked");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(find("captureSpinner")->isVisible());
    render(QStringLiteral("debug-live-capturing"));

    ASSERT_TRUE(finished.wait(30'000));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(find("latestCapture")->isVisible());
}

} // namespace
} // namespace pellux
