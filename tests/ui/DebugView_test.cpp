#include "WindowRender.h"
#include "diagnostics/DebugManager.h"
#include "support/FakeClock.h"
#include "ui/DebugCaptureImageProvider.h"
#include "ui/DebugFormatting.h"
#include "ui/DebugViewModel.h"
#include "ui/DebugWindow.h"
#include "ui/Formatting.h"
#include "ui/MainViewModel.h"

#include <QAbstractItemModelTester>

#include <tuple>

namespace pellux::test {
namespace {

const QColor kGreen(0x34, 0xC7, 0x59);
const QColor kOrange(0xFF, 0x95, 0x00);
const QColor kRed(0xFF, 0x3B, 0x30);

// Thresholds and the texts whose rounding or units are easy to get wrong, the text backlog's
// words, and names from other programs, which may not reorder a card, draw across it or run on.
TEST(DebugFormatting, ThresholdsAndTexts)
{
    for (const auto &[percent, color] : { std::pair(4.9, kGreen), { 5.0, kOrange }, { 14.9, kOrange }, { 15.0, kRed } })
        EXPECT_EQ(usageLevelColor(usageLevel(percent)), color) << percent;
    EXPECT_EQ(std::pair(confidenceColor(0.801), confidenceColor(0.8)), std::pair(kGreen, kOrange));
    const QString fsi(QChar(0x2068)), pdi(QChar(0x2069));
    const std::pair<QString, QString> cases[] = {
        { processingTimeText(std::numeric_limits<double>::quiet_NaN()), "0.0ms" },
        { memoryStyleByteCount(1), "1 byte" },
        { memoryStyleByteCount(1024 * 1024 - 1), "1 MB" },
        { memoryStyleByteCount(129'394'278), "123.4 MB" },
        { memoryStyleByteCount(3LL * 512 * 1024 * 1024), "1.5 GB" },
        { DebugViewModel::textBacklogText(0, 0, false), "None" },
        { DebugViewModel::textBacklogText(2, 0, false), "2 in memory" },
        { DebugViewModel::textBacklogText(3, 12, true),
            "3 in memory, 12 on disk (on battery: waits until you are away)" },
        { displayedName("rtl \u202Eevil.exe"), fsi + "rtl evil.exe" + pdi },
        { displayedName("a" + QString(10'000, QChar(0x0301)) + "b"), fsi + "a\u0301\u0301b" + pdi },
        { displayedName("line\nbreak\ttab"), fsi + "line break tab" + pdi },
        { displayedName(QString(400, 'x')), fsi + QString(300, 'x') + "\u2026" + pdi },
        { displayedName("Caf\u00e9 \u05e9\u05dc\u05d5\u05dd"), fsi + "Caf\u00e9 \u05e9\u05dc\u05d5\u05dd" + pdi },
    };
    for (const auto &[shown, expected] : cases)
        EXPECT_EQ(shown, expected);
}

class DebugViewModelTest : public ::testing::Test {
protected:
    DebugViewModelTest() { debug.setDebugMode(true); }

    QStringList shownTexts()
    {
        QStringList texts;
        for (const DebugOCRResultModel::Row &row : model.ocrResults()->rows())
            texts << row.text;
        return texts;
    }

    test::FakeClock clock;
    DebugManager debug { clock };
    DebugViewModel model { debug, nullptr, nullptr };
};

TEST_F(DebugViewModelTest, SearchIgnoresLetterCaseAndKeepsNewestFirst)
{
    for (const char *text : { "Quarterly Budget", "Meeting notes", "budget draft" })
        debug.ocrProcessed(QString::fromUtf8(text), 0.9);
    debug.ocrProcessed(QString::fromUtf8("Café menu"), 0.5, QRectF(4, 8, 120, 16));
    const std::pair<const char *, QStringList> cases[] = {
        { "", { "Café menu", "budget draft", "Meeting notes", "Quarterly Budget" } },
        { "BUDGET", { "budget draft", "Quarterly Budget" } },
        { "CAFÉ", { "Café menu" } },
        { "invoice", {} },
    };
    for (const auto &[search, shown] : cases) {
        model.setSearchText(QString::fromUtf8(search));
        EXPECT_EQ(shownTexts(), shown) << search;
    }
    // Position only for a result with bounds.
    model.setSearchText({});
    const DebugOCRResultModel &rows = *model.ocrResults();
    EXPECT_EQ(
        rows.index(0).data(DebugOCRResultModel::BoundsTextRole), QString::fromUtf8("Position: (4, 8) Size: 120 × 16"));
    EXPECT_EQ(rows.index(0).data(DebugOCRResultModel::ConfidenceColorRole).value<QColor>(), kOrange);
    EXPECT_EQ(rows.index(1).data(DebugOCRResultModel::BoundsTextRole), QString());
}

TEST_F(DebugViewModelTest, NewResultsAreInsertedAtTheTopAndTheOldestLeaves)
{
    for (int i = 1; i <= DebugManager::maxStoredResults; ++i)
        debug.ocrProcessed(QStringLiteral("text %1").arg(i), 0.9);
    QAbstractItemModelTester tester(model.ocrResults(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(model.ocrResults(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(model.ocrResults(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model.ocrResults(), &QAbstractItemModel::rowsRemoved);

    debug.ocrProcessed(QStringLiteral("text 101"), 0.9);
    EXPECT_EQ(std::tuple(resets.count(), inserted.count(), removed.count()), std::tuple(0, 1, 1));
    ASSERT_EQ(shownTexts().size(), DebugManager::maxStoredResults);
    EXPECT_EQ(std::pair(shownTexts().front(), shownTexts().back()), std::pair(QString("text 101"), QString("text 2")));

    // A result the search hides changes nothing shown; one it matches is inserted.
    model.setSearchText(QStringLiteral("TEXT 10"));
    EXPECT_EQ(shownTexts(), (QStringList { "text 101", "text 100", "text 10" }));
    debug.ocrProcessed(QStringLiteral("unrelated"), 0.9);
    EXPECT_EQ(shownTexts().size(), 3);
    debug.ocrProcessed(QStringLiteral("text 102"), 0.9);
    EXPECT_EQ(shownTexts().front(), QStringLiteral("text 102"));

    debug.clearDebugData();
    EXPECT_TRUE(shownTexts().isEmpty());
}

// The debug window's tabs rendered offscreen for a person to look at: every tab with data from a
// real capture of a terminal, and the live view empty and while a test capture runs.
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
    // A cycle in which one window went away (an error counted), then the test capture.
    addWindow(2, "closing window");
    pipeline.backend.setCaptureError(2, CaptureError { QString::fromLatin1(captureFailureDomain), "gone" });
    CapturePipeline::run(pipeline.service->runCaptureCycle());
    pipeline.backend.removeWindow(2);
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.settle();
    // The running capture counts its frames, recognitions, failed windows and the time a frame takes.
    ASSERT_TRUE(runEventsUntil([&] { return debug.ocrOperations() > 0; }));
    EXPECT_EQ(std::tuple(debug.framesProcessed() > 0, debug.errorCount(), debug.avgProcessingTime() > 0),
        std::tuple(true, 1, true));
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
    EXPECT_GE(window->model()->ocrResults()->rowCount(), 2); // the frame's own text holds it too
    renderWindow(window->window(), "debug-ocr-search");

    showTab(2);
    EXPECT_EQ(item("textBacklogBox")->property("value").toString(), "None");
    EXPECT_EQ(item("cpuText")->property("text").toString(), "8%");
    EXPECT_GE(item("errorsBox")->property("value").toInt(), 1);
    EXPECT_TRUE(item("errorsBox")->property("isError").toBool());
    renderWindow(window->window(), "debug-performance");
}

// The test capture while it runs, once however often the button is pressed, its frame in the live
// view with debug mode off too; refused, saying why, once the user paused screenshots or the screen
// cannot be read, but not while another process captures.
TEST_F(DebugWindowRender, TheTestCaptureInProgressAndWhenRefused)
{
    MainViewModel viewModel(MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
    viewModel.setCaptureAllowed(false); // another process captures: only the button captures here
    makeWindow(&viewModel);
    QQuickItem *button = item("captureTestButton");
    ASSERT_TRUE(button->isEnabled());

    // The window list answers late, so the capture is still running for the picture.
    pipeline.backend.setContentDelay(std::chrono::milliseconds(3000));
    QSignalSpy finished(window->model(), &DebugViewModel::testCaptureFinished);
    const int asked = pipeline.backend.contentRequests();
    QMetaObject::invokeMethod(button, "clicked");
    QMetaObject::invokeMethod(button, "clicked");
    EXPECT_EQ(pipeline.backend.contentRequests(), asked + 1);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(item("captureSpinner")->isVisible());
    renderWindow(window->window(), "debug-live-capturing");
    ASSERT_TRUE(finished.wait(30'000));
    EXPECT_EQ(std::tuple(finished.count(), pipeline.service->captureCount(), button->isEnabled(),
                  item("latestCapture")->isVisible()),
        std::tuple(1, 1, true, true));
    // The frame is served at the size asked for, never enlarged.
    DebugCaptureImageProvider provider(window->model()->captureImage());
    const QString id = window->model()->captureImageSource().section(QLatin1Char('/'), -1);
    QSize original;
    EXPECT_EQ(provider.requestImage(id, &original, QSize(640, 640)).size(), QSize(640, 360));
    EXPECT_EQ(original, QSize(1280, 720));
    EXPECT_EQ(provider.requestImage(id, nullptr, QSize(1600, 1600)).size(), QSize(1280, 720));

    viewModel.setCaptureAllowed(true);
    pipeline.backend.setContentDelay(std::chrono::milliseconds(0));
    CapturePipeline::run(viewModel.startScreenshots());
    ASSERT_TRUE(runEventsUntil([&] { return viewModel.isCapturingScreenshots(); }, 5000));
    EXPECT_TRUE(button->isEnabled() && !item("testCaptureReason")->isVisible());
    pipeline.service->stopCapturing();
    ASSERT_TRUE(runEventsUntil([&] { return !button->isEnabled(); }, 5000));
    EXPECT_EQ(item("testCaptureReason")->property("text").toString(),
        "Screenshots are paused. Resume them from the tray menu to take a test screenshot.");
    renderWindow(window->window(), "debug-live-paused");
    pipeline.backend.setPermission(false);
    CapturePipeline::run(viewModel.recheckPermissions());
    EXPECT_EQ(item("testCaptureReason")->property("text").toString(),
        "Pellux cannot read the screen: it has no screen recording permission.");

    // A cleared capture is no longer served.
    pipeline.debug->clearDebugData();
    EXPECT_TRUE(provider.requestImage(id, nullptr, {}).isNull());
}

} // namespace
} // namespace pellux::test
