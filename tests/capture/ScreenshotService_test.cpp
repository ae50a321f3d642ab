#include "capture/ScreenshotService.h"
#include "ocr/RecognizedText.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/FileSizeLimit.h"
#include "support/ListedRecordings.h"
#include "ui/ScreenshotLoader.h"

#include <QTest>

namespace pellux {
namespace {

using test::CapturePipeline;
using test::FakeCaptureBackend;
using test::FakeTextRecognizer;
using test::runEventsUntil;

AppPreferences fixedInterval(double seconds)
{
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.useDynamicIntervals = false;
    preferences.screenshotInterval = seconds;
    return preferences;
}

class ScreenshotServiceTest : public ::testing::Test {
protected:
    void addWindow(quint32 id, const QString &title, const QImage &frame, const QString &app = QStringLiteral("XTerm"),
        const QString &bundle = QStringLiteral("xterm"))
    {
        pipeline.backend.addWindow(
            FakeCaptureBackend::window(id, QRectF(0, 0, frame.width(), frame.height()), title, app, bundle), frame);
    }

    ScreenshotService &service(const AppPreferences &preferences = fixedInterval(10.0))
    {
        pipeline.savePreferences(preferences);
        return pipeline.makeService();
    }

    // One xterm window showing a line of text.
    ScreenshotService &oneWindow(const AppPreferences &preferences = fixedInterval(10.0))
    {
        addWindow(1, QStringLiteral("notes"), CapturePipeline::textFrame(QStringLiteral("hello")));
        return service(preferences);
    }

    void cycle() { CapturePipeline::run(pipeline.service->captureTestScreenshot()); }
    // Ten seconds later window 1 shows `frame`, and a cycle runs.
    void nextFrame(const QImage &frame)
    {
        pipeline.backend.setFrame(1, frame);
        pipeline.clock.advance(10);
        cycle();
    }

    // The text the service remembers for the window's next frame, joined.
    std::optional<QString> remembered(quint32 window) const
    {
        const std::optional<std::vector<OCRText>> text = pipeline.service->rememberedText(window);
        return text ? std::optional(joinRecognizedText(*text)) : std::nullopt;
    }
    std::vector<Recording> stored() const { return test::listedRecordings(*pipeline.storage); }
    // What the recogniser reads in a frame.
    static QString textOf(const QImage &frame)
    {
        QStringList words;
        for (const RecognizedFragment &line : FakeTextRecognizer::read(frame, 0, frame.height()))
            words << line.text;
        return words.join(QLatin1Char('\n'));
    }

    FakeTextRecognizer *recognizer = new FakeTextRecognizer;
    CapturePipeline pipeline { std::unique_ptr<TextRecognizer>(recognizer) };
};

TEST_F(ScreenshotServiceTest, CapturesOnlyEligibleWindowsInListOrder)
{
    const struct {
        QRectF frame;
        std::optional<QString> app;
        QString bundle;
        bool onScreen;
    } windows[] = {
        { QRectF(0, 0, 50, 120), QStringLiteral("App"), QStringLiteral("app"), true }, // narrow
        { QRectF(0, 0, 51, 120), QStringLiteral("App"), QStringLiteral("app"), true },
        { QRectF(0, 0, 200, 50), QStringLiteral("App"), QStringLiteral("app"), true }, // flat
        { QRectF(0, 0, 200, 120), QStringLiteral("App"), QStringLiteral("app"), false }, // hidden
        { QRectF(0, 0, 200, 120), QStringLiteral("Dock"), QStringLiteral("dock"), true },
        { QRectF(0, 0, 200, 120), QStringLiteral("KeePassXC"), QStringLiteral("keepassxc"), true }, // excluded
        { QRectF(10, 10, 200.9, 120.9), std::nullopt, QString(), true }, // no owner
        { QRectF(0, 0, 200, 120), QStringLiteral("Pellux"), QStringLiteral("pellux"), true }, // our own
    };
    quint32 id = 0;
    for (const auto &w : windows) {
        ++id;
        WindowDescription window
            = FakeCaptureBackend::window(id, w.frame, QStringLiteral("w%1").arg(id), w.app, w.bundle, w.onScreen);
        if (id == 8)
            window.owningApplication->processID = QCoreApplication::applicationPid();
        pipeline.backend.addWindow(window, CapturePipeline::textFrame(QStringLiteral("window %1").arg(id), 200, 120));
    }
    AppPreferences preferences = fixedInterval(10.0);
    preferences.excludedApps = { QStringLiteral("keepassxc") };
    ScreenshotService &s = service(preferences);
    std::vector<quint32> eligible;
    for (const WindowDescription &w : s.windows())
        eligible.push_back(w.windowID);
    EXPECT_EQ(eligible, (std::vector<quint32> { 2, 5, 6, 7, 8 }));

    cycle();
    // The dock, the excluded application and Pellux's own window are listed but never captured nor
    // counted.
    EXPECT_EQ(pipeline.backend.captureOrder(), (std::vector<quint32> { 2, 7 }));
    EXPECT_EQ(s.captureCount(), 2);
    ASSERT_EQ(pipeline.backend.configurations().size(), 2u);
    EXPECT_EQ(pipeline.backend.configurations()[1].width, 200);
    EXPECT_EQ(pipeline.backend.configurations()[1].captureResolution, CaptureResolution::best);
    std::vector<QString> apps;
    for (const Recording &r : stored())
        apps.push_back(r.appName.value_or(QString()));
    std::sort(apps.begin(), apps.end());
    EXPECT_EQ(apps, (std::vector<QString> { QStringLiteral("App"), QStringLiteral("Unknown") }));
}

TEST_F(ScreenshotServiceTest, StoresAChangedWindowOnceWithItsTextAndABlankOneWithout)
{
    const QImage original = CapturePipeline::textFrame(QStringLiteral("quarterly budget review"));
    QImage frame = original;
    addWindow(1, QStringLiteral("notes"), frame);
    addWindow(2, QStringLiteral("blank"), CapturePipeline::blankFrame(400, 300, QColor(40, 90, 160)));
    ScreenshotService &s = service();
    cycle();
    frame.setPixel(3, 3, qRgb(0, 0, 0)); // one pixel: far below the change threshold
    pipeline.backend.setFrame(1, frame);
    cycle(); // unchanged: counted, not stored
    EXPECT_EQ(s.captureCount(), 4);
    ASSERT_EQ(stored().size(), 2u);
    pipeline.settle();
    for (const Recording &r : stored()) {
        EXPECT_EQ(r.appName, QStringLiteral("XTerm"));
        EXPECT_EQ(secondsSince1970(r.timestamp), secondsSince1970(pipeline.clock.now()));
        if (r.windowTitle == QStringLiteral("notes"))
            EXPECT_EQ(pipeline.storedText(r.id), textOf(original));
        else
            EXPECT_FALSE(pipeline.storedText(r.id)); // no text, and none stored
    }
    EXPECT_EQ(s.framesNotRecognized(), 0);

    // A change above the threshold (a page of new text) is stored again.
    nextFrame(CapturePipeline::textFrame(QStringLiteral("travel expenses for march ").repeated(12)));
    EXPECT_EQ(stored().size(), 3u);
}

// A failed capture skips only that window; every frame read (unchanged ones too, not the failed
// one) reaches the debug window in debug mode only; a closed window leaves the caches.
TEST_F(ScreenshotServiceTest, AFailedCaptureSkipsOnlyThatWindowAndFramesReachTheDebugWindowInDebugMode)
{
    addWindow(1, QStringLiteral("one"), CapturePipeline::textFrame(QStringLiteral("first window")));
    addWindow(2, QStringLiteral("two"), CapturePipeline::textFrame(QStringLiteral("second window"), 320, 180));
    addWindow(3, QStringLiteral("three"), CapturePipeline::blankFrame(400, 300, QColor(40, 90, 160)));
    pipeline.backend.setCaptureError(
        1, CaptureError { QString::fromLatin1(captureFailureDomain), QStringLiteral("the window is gone") });
    DebugManager &debug = *pipeline.debug;
    ScreenshotService &s = service();
    cycle();
    EXPECT_EQ(s.captureCount(), 2);
    ASSERT_EQ(stored().size(), 2u);
    EXPECT_EQ(std::make_pair(s.hasCachedFrame(1), s.hasCachedFrame(2)), std::make_pair(false, true));
    EXPECT_FALSE(debug.latestCapture());
    EXPECT_EQ(debug.framesProcessed(), 0);

    debug.setDebugMode(true);
    cycle();
    EXPECT_EQ(debug.framesProcessed(), 2);
    ASSERT_TRUE(debug.latestCapture());
    EXPECT_EQ(QSize(debug.latestCapture()->width, debug.latestCapture()->height), QSize(400, 300));
    EXPECT_EQ(debug.latestCapture()->image.pixelColor(10, 10), QColor(40, 90, 160));

    pipeline.backend.removeWindow(2);
    cycle();
    EXPECT_EQ(std::make_pair(s.hasCachedFrame(2), s.hasCachedFrame(3)), std::make_pair(false, true));
}

TEST_F(ScreenshotServiceTest, TextRecognitionBacklogIsBoundedAndNothingIsDropped)
{
    const int windowCount = ScreenshotService::maxPendingRecognitions + 3;
    for (int i = 0; i < windowCount; ++i)
        addWindow(quint32(i + 1), QStringLiteral("w%1").arg(i),
            CapturePipeline::textFrame(QStringLiteral("document number %1 of the archive").arg(i + 1)));
    ScreenshotService &s = service();
    int mostPending = 0;
    // A slow recogniser: the cycle fills the backlog and waits for room until it speeds up, half a
    // second after the backlog was first full (a cycle that did not wait would overfill it then).
    recognizer->hold();
    QObject::connect(&s, &ScreenshotService::captureCountChanged, &s, [&] {
        const bool firstFull = mostPending < ScreenshotService::maxPendingRecognitions
            && s.pendingRecognitions() >= ScreenshotService::maxPendingRecognitions;
        mostPending = std::max(mostPending, s.pendingRecognitions());
        if (firstFull)
            QTimer::singleShot(std::chrono::milliseconds(500), &s, [this] { recognizer->release(); });
    });
    cycle();
    EXPECT_EQ(mostPending, ScreenshotService::maxPendingRecognitions);
    EXPECT_EQ(stored().size(), size_t(windowCount));
    pipeline.settle();
    EXPECT_EQ(s.pendingRecognitions(), 0);
    EXPECT_EQ(recognizer->requests(), windowCount);
    for (const Recording &r : stored())
        EXPECT_TRUE(pipeline.storedText(r.id)) << r.windowTitle.value_or(QString()).toStdString();
}

TEST_F(ScreenshotServiceTest, TheTimerRunsCyclesAndIntervalChangesOfHalfASecondOrMoreRearmIt)
{
    ScreenshotService &s = oneWindow(fixedInterval(10.0));
    CapturePipeline::run(s.updateCaptureInterval(2.0)); // not capturing: ignored
    EXPECT_EQ(s.currentInterval(), ScreenshotService::initialInterval);
    QSignalSpy capturing(&s, &ScreenshotService::isCapturingChanged);
    QSignalSpy cycles(&s, &ScreenshotService::cycleFinished);
    CapturePipeline::run(s.startCapturing());
    CapturePipeline::run(s.startCapturing()); // already on: nothing changes
    EXPECT_EQ(capturing.count(), 1);
    EXPECT_EQ(s.pendingCaptureInterval(), 10.0);
    EXPECT_TRUE(pipeline.backend.captureOrder().empty()); // no immediate capture
    CapturePipeline::run(s.updateCaptureInterval(10.4));
    EXPECT_EQ(s.pendingCaptureInterval(), 10.0);
    CapturePipeline::run(s.updateCaptureInterval(10.5));
    EXPECT_EQ(s.currentInterval(), 10.5);
    EXPECT_EQ(s.pendingCaptureInterval(), 10.5);

    // Changes in quick succession do not put the next cycle off for ever.
    QElapsedTimer running;
    running.start();
    for (int i = 0; cycles.isEmpty() && running.elapsed() < 3000; ++i) {
        QTest::qWait(200);
        CapturePipeline::run(s.updateCaptureInterval(i % 2 == 0 ? 0.3 : 1.0));
    }
    ASSERT_FALSE(cycles.isEmpty()) << "no cycle ran while the interval kept changing";
    // The first cycle stored the window, the next finds it unchanged.
    ASSERT_TRUE(runEventsUntil([&] { return cycles.count() >= 2; }));
    EXPECT_EQ(stored().size(), 1u);
    EXPECT_GE(pipeline.backend.captureOrder().size(), 2u);
    // A cycle that finds no window at all keeps capture on and arms the next one.
    pipeline.backend.removeWindow(1);
    const qsizetype seen = cycles.count();
    ASSERT_TRUE(runEventsUntil([&] { return cycles.count() >= seen + 2; }));
    EXPECT_TRUE(s.isCapturing());
    EXPECT_EQ(s.pendingCaptureInterval(), s.currentInterval());
    s.stopCapturing();
}

TEST_F(ScreenshotServiceTest, DynamicIntervalsFollowTheActivityMonitor)
{
    ScreenshotService &s = oneWindow(AppPreferences::defaultValue()); // dynamic intervals
    CapturePipeline::run(s.startCapturing());
    EXPECT_EQ(s.pendingCaptureInterval(), 5.0); // the monitor's value before its first evaluation

    for (int i = 0; i < 25; ++i)
        emit pipeline.activitySource->keyPressed();
    pipeline.monitor->updateActivityLevel(); // idle -> high
    QCoreApplication::processEvents();
    EXPECT_EQ(s.currentInterval(), 2.0);
    EXPECT_EQ(s.pendingCaptureInterval(), 2.0);

    // The cycle re-reads the monitor when it re-arms.
    pipeline.clock.advance(120);
    pipeline.monitor->updateActivityLevel(); // -> idle, re-armed at 30 s
    CapturePipeline::run(s.runCaptureCycle());
    EXPECT_EQ(s.pendingCaptureInterval(), 30.0);
}

TEST_F(ScreenshotServiceTest, CyclesNeverOverlapAndAStopOrAnAbandonEndsThemAfterTheirWindows)
{
    addWindow(1, QStringLiteral("one"), CapturePipeline::textFrame(QStringLiteral("first window")));
    addWindow(2, QStringLiteral("two"), CapturePipeline::textFrame(QStringLiteral("second window")));
    ScreenshotService &s = service();
    // Abandoned: stops after the window in progress.
    QCoro::Task<> abandoned = s.captureTestScreenshot();
    ASSERT_TRUE(s.isCycleRunning());
    s.abandonCycle();
    CapturePipeline::run(std::move(abandoned));
    EXPECT_EQ(s.captureCount(), 1);
    EXPECT_EQ(stored().size(), 1u);

    // Two at once run one after the other: the second sees the first's stored frames.
    QCoro::Task<> first = s.captureTestScreenshot();
    QCoro::Task<> second = s.captureTestScreenshot();
    CapturePipeline::run(std::move(first));
    CapturePipeline::run(std::move(second));
    EXPECT_EQ(s.captureCount(), 5);
    EXPECT_EQ(stored().size(), 2u);

    // Stopped: finishes its windows and does not re-arm.
    CapturePipeline::run(s.startCapturing());
    QCoro::Task<> running = s.runCaptureCycle();
    s.stopCapturing();
    CapturePipeline::run(std::move(running));
    EXPECT_EQ(s.captureCount(), 7);
    EXPECT_FALSE(s.pendingCaptureInterval());
}

TEST_F(ScreenshotServiceTest, StartIsRefusedWithoutScreenAccessOrWindowsAndAStopMadeMeanwhileWins)
{
    pipeline.backend.setPermission(false);
    pipeline.backend.setContentError(
        CaptureError { QString::fromLatin1(screenCaptureErrorDomain), QStringLiteral("cannot open display") });
    ScreenshotService &s = service();
    QSignalSpy capturing(&s, &ScreenshotService::isCapturingChanged);
    CapturePipeline::run(s.startCapturing());
    EXPECT_FALSE(s.isCapturing());
    EXPECT_FALSE(s.hasAvailableContent());
    EXPECT_EQ(capturing.count(), 1); // announced, so that optimistic observers fall back
    EXPECT_FALSE(s.pendingCaptureInterval());

    pipeline.backend.setPermission(true);
    pipeline.backend.setContentError(std::nullopt);
    CapturePipeline::run(s.startCapturing()); // content, but no window
    EXPECT_TRUE(s.hasAvailableContent());
    EXPECT_FALSE(s.isCapturing());
    EXPECT_EQ(capturing.count(), 2);

    // A stop made while a start enumerates the windows wins; a start asked for after it does not.
    addWindow(1, QStringLiteral("one"), CapturePipeline::textFrame(QStringLiteral("hello")));
    pipeline.backend.setContentDelay(std::chrono::milliseconds(50));
    QCoro::Task<> starting = s.startCapturing();
    s.stopCapturing();
    CapturePipeline::run(std::move(starting));
    EXPECT_FALSE(s.isCapturing());
    EXPECT_FALSE(s.pendingCaptureInterval());
    CapturePipeline::run(s.startCapturing());
    EXPECT_TRUE(s.isCapturing());
    EXPECT_EQ(s.pendingCaptureInterval(), 10.0);
}

// An exclusion applies from the next cycle without a restart; a new interval restarts capture.
TEST_F(ScreenshotServiceTest, PreferencesTakeEffectWhileCapturing)
{
    ScreenshotService &s = oneWindow(fixedInterval(10.0));
    CapturePipeline::run(s.startCapturing());
    QSignalSpy capturing(&s, &ScreenshotService::isCapturingChanged);
    AppPreferences excluding = fixedInterval(10.0);
    excluding.excludedApps = { QStringLiteral("xterm") };
    pipeline.savePreferences(excluding);
    s.reloadPreferences();
    cycle();
    EXPECT_TRUE(pipeline.backend.captureOrder().empty());
    EXPECT_EQ(capturing.count(), 0);

    pipeline.savePreferences(fixedInterval(7.0));
    s.refreshPreferences();
    EXPECT_EQ(s.preferences().screenshotInterval, 7.0);
    while (capturing.count() < 2)
        ASSERT_TRUE(capturing.wait(5000));
    EXPECT_TRUE(s.isCapturing());
    EXPECT_EQ(s.pendingCaptureInterval(), 7.0);
}

// The most recently stored recording.
Recording newest(const std::vector<Recording> &recordings)
{
    return *std::max_element(recordings.begin(), recordings.end(),
        [](const Recording &a, const Recording &b) { return a.timestamp < b.timestamp; });
}

TEST_F(ScreenshotServiceTest, AFrameTheStoreCouldNotSaveIsStoredByTheNextCycleAndDeltasBuildOnStoredFrames)
{
    const QImage first = CapturePipeline::textFrame(QStringLiteral("deployment checklist"));
    const QImage second = CapturePipeline::textFrame(QStringLiteral("incident report for tuesday ").repeated(6));
    QImage third = second;
    QPainter(&third).fillRect(QRect(0, 128, 128, 64), Qt::black); // two of forty tiles: a delta
    addWindow(1, QStringLiteral("notes"), first);
    ScreenshotService &s = service();
    cycle();
    ASSERT_EQ(stored().size(), 1u);
    pipeline.settle();
    EXPECT_EQ(remembered(1), textOf(first));

    // The disk is full while the changed window is saved: nothing is stored, nothing committed,
    // and the window's text is still that of its stored frame.
    {
        test::FileSizeLimit full(64);
        nextFrame(second);
    }
    EXPECT_EQ(stored().size(), 1u);
    EXPECT_EQ(s.framesNotStored(), 1);
    EXPECT_FALSE(pipeline.deltaFrames->referenceFrame(QStringLiteral("1")));
    pipeline.settle();
    EXPECT_EQ(remembered(1), textOf(first));

    // Room again: the unchanged window still differs from its last stored frame and is stored now,
    // as the window's reference.
    nextFrame(second);
    ASSERT_EQ(stored().size(), 2u);
    const Recording secondStored = newest(stored());
    EXPECT_EQ(secondStored.imageHash, ImageOptimizer::perceptualHash(second));
    ASSERT_TRUE(pipeline.deltaFrames->referenceFrame(QStringLiteral("1")));
    EXPECT_EQ(pipeline.deltaFrames->referenceFrame(QStringLiteral("1"))->hash, secondStored.imageHash);
    pipeline.settle();
    EXPECT_EQ(remembered(1), textOf(second));

    // The next change is a delta whose chain starts at that stored frame.
    nextFrame(third);
    ASSERT_EQ(stored().size(), 3u);
    const QString deltaPath = newest(stored()).localPath();
    pipeline.settle();
    std::optional<std::vector<DeltaChainLink>> chain = ScreenshotLoader::databaseLookup(*pipeline.database)(deltaPath);
    ASSERT_TRUE(chain);
    ASSERT_EQ(chain->size(), 2u);
    EXPECT_EQ(chain->front().filePath, secondStored.localPath());
    EXPECT_TRUE(chain->back().isDeltaFrame);
    EXPECT_EQ(s.framesNotStored(), 1);
}

// A page of lines drawn black on white, with one line shown highlighted (white on black) when asked.
QImage pageWithLines(int lines, int highlighted = -1, int rewritten = -1)
{
    QImage image(720, 520, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int i = 0; i < lines; ++i) {
        const QRect row(0, 20 + i * 36, image.width(), 36);
        if (i == highlighted)
            painter.fillRect(row, Qt::black);
        painter.fillRect(QRect(16, row.y() + 10, 300 + 37 * ((i * 7 + (i == rewritten ? 3 : 0)) % 11), 16),
            i == highlighted ? Qt::white : Qt::black);
    }
    return image;
}

TEST_F(ScreenshotServiceTest, AWindowsNextFramesHaveOnlyTheirChangedLinesRecognisedAndStoreTheWholeFramesText)
{
    addWindow(1, QStringLiteral("mail"), pageWithLines(8));
    service();
    cycle();
    pipeline.settle();
    // One line changes (highlighted), then two (the highlight moves to a rewritten line): only
    // those are read, and the stored text is the whole frame's.
    for (const QImage &frame : { pageWithLines(8, 5), pageWithLines(8, 3, 3) }) {
        nextFrame(frame);
        pipeline.settle();
        EXPECT_EQ(pipeline.storedText(newest(stored()).id), textOf(frame));
        EXPECT_EQ(remembered(1), textOf(frame));
    }
    ASSERT_EQ(stored().size(), 3u);
    EXPECT_EQ(recognizer->bandRequests(), 2);
    EXPECT_EQ(pipeline.ocr->changedLineRecognitions(), 2);
    EXPECT_EQ(pipeline.ocr->wholeImageRecognitions(), 1);
}

// A recogniser that fails is not "no text": the frame stays owed its text and is counted apart from
// frames whose text the database refused, nothing is remembered for the window's next frame, and the
// backlog still drains.
TEST_F(ScreenshotServiceTest, FramesWhoseRecognitionFailedOrWhoseTextCouldNotBeSavedAreCounted)
{
    addWindow(1, QStringLiteral("one"), pageWithLines(8));
    addWindow(2, QStringLiteral("two"), CapturePipeline::textFrame(QStringLiteral("second window")));
    recognizer->failNext({ RecognitionFailure::Kind::unavailable, QStringLiteral("no model") }, 1);
    ScreenshotService &s = service();
    pipeline.database->waitUntilIdle();
    // The text table refuses every insert: the row is stored, its text cannot be.
    test::RawDatabase database(pipeline.home.pelluxFolder() + QStringLiteral("/pellux_v2.db"));
    database.exec(QStringLiteral(
        "CREATE TRIGGER refuse_text BEFORE INSERT ON ocr_text BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    cycle();
    pipeline.settle();
    EXPECT_EQ(s.framesNotRecognized(), 1);
    EXPECT_EQ(s.framesNotIndexed(), 1);
    EXPECT_EQ(s.framesNotStored(), 0);
    EXPECT_EQ(s.pendingRecognitions(), 0);
    EXPECT_FALSE(remembered(1));
    ASSERT_EQ(stored().size(), 2u);
    for (const Recording &r : stored())
        EXPECT_FALSE(pipeline.storedText(r.id));

    // The window's next frame is read whole: there is no text to take over.
    database.exec(QStringLiteral("DROP TRIGGER refuse_text"));
    nextFrame(pageWithLines(8, 2));
    pipeline.settle();
    EXPECT_EQ(recognizer->bandRequests(), 0);
    EXPECT_EQ(pipeline.storedText(newest(stored()).id), textOf(pageWithLines(8, 2)));
    EXPECT_EQ(s.framesNotRecognized(), 1);
}

} // namespace
} // namespace pellux
