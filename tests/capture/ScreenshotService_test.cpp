#include "capture/ScreenshotService.h"
#include "ocr/RecognizedText.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/FileSizeLimit.h"
#include "support/ListedRecordings.h"
#include "ui/ScreenshotLoader.h"

#include <QTest>

using namespace pellux;

namespace {

using test::CapturePipeline;
using test::FakeCaptureBackend;
using test::FakeTextRecognizer;
using test::runEventsUntil;

AppPreferences fixedInterval(double seconds, QSet<QString> excluded = {})
{
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.useDynamicIntervals = false;
    preferences.screenshotInterval = seconds;
    preferences.excludedApps = excluded;
    return preferences;
}

QImage text(const QString &words) { return CapturePipeline::textFrame(words); }
const QImage blueBlank = CapturePipeline::blankFrame(400, 300, QColor(40, 90, 160));

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

class ScreenshotServiceTest : public ::testing::Test {
protected:
    // An xterm window titled by its id, showing `frame`.
    void addWindow(quint32 id, const QImage &frame)
    {
        pipeline.backend.addWindow(
            FakeCaptureBackend::window(id, QRectF(QPointF(), frame.size()), QString::number(id), "XTerm", "xterm"),
            frame);
    }

    ScreenshotService &service(const AppPreferences &preferences = fixedInterval(10.0))
    {
        pipeline.savePreferences(preferences);
        return pipeline.makeService();
    }
    ScreenshotService &oneWindow(const AppPreferences &preferences = fixedInterval(10.0))
    {
        return addWindow(1, text("hello")), service(preferences);
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
        bool onScreen = true;
    } windows[] = {
        { QRectF(0, 0, 50, 120), "App", "app" }, // narrow
        { QRectF(0, 0, 51, 120), "App", "app" }, { QRectF(0, 0, 200, 50), "App", "app" }, // flat
        { QRectF(0, 0, 200, 120), "App", "app", false }, // hidden
        { QRectF(0, 0, 200, 120), "Dock", "dock" }, { QRectF(0, 0, 200, 120), "KeePassXC", "keepassxc" }, // excluded
        { QRectF(10, 10, 200.9, 120.9), std::nullopt, QString() }, // no owner
        { QRectF(0, 0, 200, 120), "Pellux", "pellux" }, // our own
    };
    quint32 id = 0;
    for (const auto &w : windows) {
        WindowDescription window = FakeCaptureBackend::window(++id, w.frame, "w", w.app, w.bundle, w.onScreen);
        if (id == 8)
            window.owningApplication->processID = QCoreApplication::applicationPid();
        pipeline.backend.addWindow(window, CapturePipeline::textFrame(QStringLiteral("window %1").arg(id), 200, 120));
    }
    ScreenshotService &s = service(fixedInterval(10.0, { "keepassxc" }));
    std::vector<quint32> eligible;
    for (const WindowDescription &w : s.windows())
        eligible.push_back(w.windowID);
    EXPECT_EQ(eligible, (std::vector<quint32> { 2, 5, 6, 7, 8 }));

    cycle();
    // The dock, the excluded application and Pellux's own window are listed but never captured nor
    // counted.
    EXPECT_EQ(pipeline.backend.captureOrder(), (std::vector<quint32> { 2, 7 }));
    EXPECT_EQ(s.captureCount(), 2);
    QStringList apps;
    for (const Recording &r : stored())
        apps << r.appName.value_or(QString());
    apps.sort();
    EXPECT_EQ(apps, (QStringList { "App", "Unknown" }));
}

// A failed capture skips only that window; an unchanged frame is counted, not stored; a blank window is
// stored without text and not left owed any; every frame read (unchanged ones too) reaches the debug window in debug
// mode only; a closed window leaves the caches.
TEST_F(ScreenshotServiceTest, StoresChangedWindowsWithTheirTextAndSkipsFailedAndUnchangedOnes)
{
    QImage frame = text("quarterly budget review");
    const QString words = textOf(frame);
    addWindow(1, frame);
    addWindow(2, blueBlank);
    addWindow(3, text("failing window"));
    pipeline.backend.setCaptureError(3, CaptureError { QString::fromLatin1(captureFailureDomain), "gone" });
    DebugManager &debug = *pipeline.debug;
    ScreenshotService &s = service();
    cycle();
    EXPECT_TRUE(!debug.latestCapture() && debug.framesProcessed() == 0);
    debug.setDebugMode(true);
    frame.setPixel(3, 3, qRgb(0, 0, 0)); // one pixel: far below the change threshold
    pipeline.backend.setFrame(1, frame);
    cycle();
    EXPECT_EQ(std::pair(s.captureCount(), debug.framesProcessed()), std::pair(4, 2));
    ASSERT_TRUE(debug.latestCapture());
    EXPECT_EQ(debug.latestCapture()->image.pixelColor(10, 10), QColor(40, 90, 160));
    ASSERT_EQ(stored().size(), 2u);
    pipeline.settle();
    for (const Recording &r : stored()) {
        EXPECT_EQ(std::tuple(r.appName, secondsSince1970(r.timestamp)),
            std::tuple(std::optional<QString>("XTerm"), secondsSince1970(pipeline.clock.now())));
        EXPECT_EQ(pipeline.storedText(r.id), r.windowTitle == "1" ? std::optional(words) : std::nullopt);
    }
    // The blank window's empty answer is remembered: no frame is left owed its text.
    using Rows = std::optional<SimpleDatabaseManager::RecordingRows>;
    const Rows owed = test::awaitCompletion<Rows>([&](std::function<void(Rows)> done) {
        pipeline.database->recordingsAwaitingText(std::nullopt, std::nullopt, 0, 10, done);
    });
    EXPECT_TRUE(owed && owed->recordings.empty());
    EXPECT_EQ(s.framesNotRecognized(), 0);
    EXPECT_EQ(std::tuple(s.hasCachedFrame(1), s.hasCachedFrame(2), s.hasCachedFrame(3)), std::tuple(true, true, false));

    // A change above the threshold (a page of new text) is stored again.
    pipeline.backend.removeWindow(2);
    nextFrame(text(QStringLiteral("travel expenses for march ").repeated(12)));
    EXPECT_EQ(stored().size(), 3u);
    EXPECT_FALSE(s.hasCachedFrame(2));
}

TEST_F(ScreenshotServiceTest, FramesBeyondTheBacklogWaitOnDiskAndAllGetTheirTextOnceTheProcessorIsFree)
{
    const int windowCount = ScreenshotService::maxPendingRecognitions + 3;
    for (int i = 1; i <= windowCount; ++i)
        addWindow(quint32(i), text(QStringLiteral("document number %1 of the archive").arg(i)));
    ScreenshotService &s = service();
    // A busy machine: recognition gets no processor time. The cycle never waits for it; the frames
    // beyond the backlog stay stored, owed their text.
    recognizer->hold();
    cycle();
    EXPECT_EQ(std::tuple(s.pendingRecognitions(), s.owedRecognitions(), stored().size()),
        std::tuple(ScreenshotService::maxPendingRecognitions, windowCount - ScreenshotService::maxPendingRecognitions,
            size_t(windowCount)));
    // Leaving now would leave all of them owed: the count a capture reports at its end.
    EXPECT_EQ(QCoro::waitFor(s.waitForRecognitions(std::chrono::milliseconds(0))), windowCount);
    // A later cycle's changed frame joins them.
    pipeline.backend.setFrame(1, text(QStringLiteral("travel expenses for march ").repeated(12)));
    pipeline.clock.advance(10);
    QTimer::singleShot(std::chrono::milliseconds(200), &s, [this] { recognizer->release(); });
    cycle();
    pipeline.settle();
    EXPECT_EQ(std::tuple(s.pendingRecognitions(), s.owedRecognitions(), recognizer->requests()),
        std::tuple(0, 0, windowCount + 1));
    ASSERT_EQ(stored().size(), size_t(windowCount + 1));
    for (const Recording &r : stored())
        EXPECT_FALSE(pipeline.storedText(r.id).value_or(QString()).isEmpty()) << r.windowTitle->toStdString();
}

TEST_F(ScreenshotServiceTest, OnBatteryTextWaitsWhileTheUserWorksAndIsRecognisedOnceTheUserIsAwayOrOnMainsPower)
{
    ScreenshotService &s = oneWindow();
    int deferralChanges = 0;
    QObject::connect(&s, &ScreenshotService::recognitionDeferredChanged, &s, [&] { ++deferralChanges; });
    const auto typing = [this] {
        for (int i = 0; i < 25; ++i)
            emit pipeline.activitySource->keyPressed();
        pipeline.monitor->updateActivityLevel();
    };
    typing();
    s.setOnBattery(true);
    EXPECT_TRUE(s.recognitionDeferred());
    cycle();
    nextFrame(text(QStringLiteral("travel expenses for march ").repeated(12)));
    pipeline.settle();
    EXPECT_EQ(std::pair(s.owedRecognitions(), recognizer->requests()), std::pair(2, 0));

    // Away for two minutes: the owed frames get their text.
    pipeline.clock.advance(120);
    pipeline.monitor->updateActivityLevel();
    pipeline.settle();
    EXPECT_EQ(
        std::tuple(s.recognitionDeferred(), s.owedRecognitions(), recognizer->requests()), std::tuple(false, 0, 2));

    // Back at work on battery, then on mains power.
    typing();
    nextFrame(text(QStringLiteral("quarterly budget review")));
    pipeline.settle();
    EXPECT_EQ(s.owedRecognitions(), 1);
    s.setOnBattery(false);
    pipeline.settle();
    EXPECT_EQ(std::tuple(s.recognitionDeferred(), s.owedRecognitions(), recognizer->requests(), deferralChanges),
        std::tuple(false, 0, 3, 4));
}

TEST_F(ScreenshotServiceTest, TheTimerRunsCyclesAndIntervalChangesOfHalfASecondOrMoreRearmIt)
{
    ScreenshotService &s = oneWindow();
    CapturePipeline::run(s.updateCaptureInterval(2.0)); // not capturing: ignored
    EXPECT_EQ(s.currentInterval(), ScreenshotService::initialInterval);
    QSignalSpy capturing(&s, &ScreenshotService::isCapturingChanged);
    QSignalSpy cycles(&s, &ScreenshotService::cycleFinished);
    CapturePipeline::run(s.startCapturing());
    CapturePipeline::run(s.startCapturing()); // already on: nothing changes
    EXPECT_EQ(capturing.count(), 1);
    EXPECT_TRUE(pipeline.backend.captureOrder().empty()); // no immediate capture
    for (const auto &[asked, pending] : { std::pair(10.0, 10.0), { 10.4, 10.0 }, { 10.5, 10.5 } }) {
        CapturePipeline::run(s.updateCaptureInterval(asked));
        EXPECT_EQ(s.pendingCaptureInterval(), pending) << asked;
    }
    EXPECT_EQ(s.currentInterval(), 10.5);

    // Changes in quick succession do not put the next cycle off for ever.
    for (int i = 0; cycles.isEmpty() && i < 15; ++i) {
        QTest::qWait(200);
        CapturePipeline::run(s.updateCaptureInterval(i % 2 == 0 ? 0.3 : 1.0));
    }
    ASSERT_FALSE(cycles.isEmpty()) << "no cycle ran while the interval kept changing";
    // The first cycle stored the window, the next finds it unchanged.
    ASSERT_TRUE(runEventsUntil([&] { return cycles.count() >= 2; }));
    EXPECT_EQ(stored().size(), 1u);
    // A cycle that finds no window at all keeps capture on and arms the next one.
    pipeline.backend.removeWindow(1);
    const qsizetype seen = cycles.count();
    ASSERT_TRUE(runEventsUntil([&] { return cycles.count() >= seen + 2; }));
    EXPECT_TRUE(s.isCapturing() && s.pendingCaptureInterval() == s.currentInterval());
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
    EXPECT_EQ(std::pair(s.currentInterval(), *s.pendingCaptureInterval()), std::pair(2.0, 2.0));

    // The cycle re-reads the monitor when it re-arms.
    pipeline.clock.advance(120);
    pipeline.monitor->updateActivityLevel(); // -> idle, re-armed at 30 s
    CapturePipeline::run(s.runCaptureCycle());
    EXPECT_EQ(s.pendingCaptureInterval(), 30.0);
}

TEST_F(ScreenshotServiceTest, CyclesNeverOverlapAndAStopOrAnAbandonEndsThemAfterTheirWindows)
{
    addWindow(1, text("first window"));
    addWindow(2, text("second window"));
    ScreenshotService &s = service();
    // Abandoned: stops after the window in progress.
    QCoro::Task<> abandoned = s.captureTestScreenshot();
    ASSERT_TRUE(s.isCycleRunning());
    s.abandonCycle();
    CapturePipeline::run(std::move(abandoned));
    EXPECT_EQ(std::pair(s.captureCount(), stored().size()), std::pair(1, size_t(1)));

    // Two at once run one after the other: the second sees the first's stored frames.
    QCoro::Task<> first = s.captureTestScreenshot();
    QCoro::Task<> second = s.captureTestScreenshot();
    CapturePipeline::run(std::move(first));
    CapturePipeline::run(std::move(second));
    EXPECT_EQ(std::pair(s.captureCount(), stored().size()), std::pair(5, size_t(2)));

    // Stopped: finishes its windows and does not re-arm.
    CapturePipeline::run(s.startCapturing());
    QCoro::Task<> running = s.runCaptureCycle();
    s.stopCapturing();
    CapturePipeline::run(std::move(running));
    EXPECT_TRUE(s.captureCount() == 7 && !s.pendingCaptureInterval());
}

TEST_F(ScreenshotServiceTest, StartIsRefusedWithoutScreenAccessOrWindowsAndAStopMadeMeanwhileWins)
{
    pipeline.backend.setPermission(false);
    pipeline.backend.setContentError(
        CaptureError { QString::fromLatin1(screenCaptureErrorDomain), "cannot open display" });
    ScreenshotService &s = service();
    QSignalSpy capturing(&s, &ScreenshotService::isCapturingChanged);
    CapturePipeline::run(s.startCapturing());
    EXPECT_FALSE(s.isCapturing() || s.hasAvailableContent() || s.pendingCaptureInterval());
    EXPECT_EQ(capturing.count(), 1); // announced, so that optimistic observers fall back

    pipeline.backend.setPermission(true);
    pipeline.backend.setContentError(std::nullopt);
    CapturePipeline::run(s.startCapturing()); // content, but no window
    EXPECT_TRUE(s.hasAvailableContent() && !s.isCapturing() && capturing.count() == 2);

    // A stop made while a start enumerates the windows wins; a start asked for after it does not.
    addWindow(1, text("hello"));
    pipeline.backend.setContentDelay(std::chrono::milliseconds(50));
    QCoro::Task<> starting = s.startCapturing();
    s.stopCapturing();
    CapturePipeline::run(std::move(starting));
    EXPECT_FALSE(s.isCapturing() || s.pendingCaptureInterval());
    CapturePipeline::run(s.startCapturing());
    EXPECT_TRUE(s.isCapturing() && s.pendingCaptureInterval() == 10.0);
}

// An exclusion applies from the next cycle without a restart; a new interval restarts capture.
TEST_F(ScreenshotServiceTest, PreferencesTakeEffectWhileCapturing)
{
    ScreenshotService &s = oneWindow();
    CapturePipeline::run(s.startCapturing());
    QSignalSpy capturing(&s, &ScreenshotService::isCapturingChanged);
    pipeline.savePreferences(fixedInterval(10.0, { "xterm" }));
    s.reloadPreferences();
    cycle();
    EXPECT_TRUE(pipeline.backend.captureOrder().empty() && capturing.isEmpty());

    pipeline.savePreferences(fixedInterval(7.0));
    s.refreshPreferences();
    EXPECT_EQ(s.preferences().screenshotInterval, 7.0);
    while (capturing.count() < 2)
        ASSERT_TRUE(capturing.wait(5000));
    EXPECT_TRUE(s.isCapturing() && s.pendingCaptureInterval() == 7.0);
}

TEST_F(ScreenshotServiceTest, AFrameTheStoreCouldNotSaveIsStoredByTheNextCycleAndDeltasBuildOnStoredFrames)
{
    const QImage first = text("deployment checklist");
    const QImage second = text(QStringLiteral("incident report for tuesday ").repeated(6));
    QImage third = second;
    QPainter(&third).fillRect(QRect(0, 128, 128, 64), Qt::black); // two of forty tiles: a delta
    addWindow(1, first);
    ScreenshotService &s = service();
    cycle();
    pipeline.settle();
    const auto reference = [&] { return pipeline.deltaFrames->referenceFrame("1"); };

    // The disk is full while the changed window is saved: nothing is stored, nothing committed,
    // and the window's text is still that of its stored frame.
    {
        test::FileSizeLimit full(64);
        nextFrame(second);
    }
    EXPECT_TRUE(stored().size() == 1 && s.framesNotStored() == 1 && !reference());
    pipeline.settle();
    EXPECT_EQ(remembered(1), textOf(first));

    // Room again: the unchanged window still differs from its last stored frame and is stored now,
    // as the window's reference.
    nextFrame(second);
    ASSERT_EQ(stored().size(), 2u);
    const Recording secondStored = stored().front();
    EXPECT_EQ(secondStored.imageHash, ImageOptimizer::perceptualHash(second));
    EXPECT_EQ(reference().value_or(FrameReference {}).hash, secondStored.imageHash);
    pipeline.settle();
    EXPECT_EQ(remembered(1), textOf(second));

    // The next change is a delta whose chain starts at that stored frame.
    nextFrame(third);
    ASSERT_EQ(stored().size(), 3u);
    pipeline.settle();
    const auto chain = ScreenshotLoader::databaseLookup(*pipeline.database)(stored().front().localPath());
    ASSERT_TRUE(chain && chain->size() == 2u);
    EXPECT_TRUE(chain->front().filePath == secondStored.localPath() && chain->back().isDeltaFrame);
    EXPECT_EQ(s.framesNotStored(), 1);
}

TEST_F(ScreenshotServiceTest, AWindowsNextFramesHaveOnlyTheirChangedLinesRecognisedAndStoreTheWholeFramesText)
{
    addWindow(1, pageWithLines(8));
    service();
    cycle();
    pipeline.settle();
    // One line changes (highlighted), then two (the highlight moves to a rewritten line): only
    // those are read, and the stored text is the whole frame's.
    for (const QImage &frame : { pageWithLines(8, 5), pageWithLines(8, 3, 3) }) {
        nextFrame(frame);
        pipeline.settle();
        EXPECT_EQ(pipeline.storedText(stored().front().id), textOf(frame));
        EXPECT_EQ(remembered(1), textOf(frame));
    }
    ASSERT_EQ(stored().size(), 3u);
    EXPECT_EQ(std::tuple(recognizer->bandRequests(), pipeline.ocr->changedLineRecognitions(),
                  pipeline.ocr->wholeImageRecognitions()),
        std::tuple(2, 2, 1));
}

// A recogniser that fails is not "no text": the frame stays owed its text and is counted apart from
// frames whose text the database refused, nothing is remembered for the window's next frame, and the
// backlog still drains.
TEST_F(ScreenshotServiceTest, FramesWhoseRecognitionFailedOrWhoseTextCouldNotBeSavedAreCounted)
{
    addWindow(1, pageWithLines(8));
    addWindow(2, text("second window"));
    recognizer->failNext({ RecognitionFailure::Kind::unavailable, "no model" }, 1);
    ScreenshotService &s = service();
    pipeline.database->waitUntilIdle();
    // The text table refuses every insert: the row is stored, its text cannot be.
    test::RawDatabase database(pipeline.home.pelluxFolder() + "/pellux_v2.db");
    database.exec("CREATE TRIGGER refuse_text BEFORE INSERT ON ocr_text BEGIN SELECT RAISE(ABORT, 'refused'); END");
    cycle();
    pipeline.settle();
    EXPECT_EQ(std::tuple(s.framesNotRecognized(), s.framesNotIndexed(), s.framesNotStored(), s.pendingRecognitions()),
        std::tuple(1, 1, 0, 0));
    EXPECT_FALSE(remembered(1));
    ASSERT_EQ(stored().size(), 2u);
    for (const Recording &r : stored())
        EXPECT_FALSE(pipeline.storedText(r.id));

    // The window's next frame is read whole: there is no text to take over.
    database.exec("DROP TRIGGER refuse_text");
    nextFrame(pageWithLines(8, 2));
    pipeline.settle();
    EXPECT_TRUE(recognizer->bandRequests() == 0 && s.framesNotRecognized() == 1);
    EXPECT_EQ(pipeline.storedText(stored().front().id), textOf(pageWithLines(8, 2)));
}

} // namespace
