#include "capture/CaptureEngine.h"
#include "diagnostics/DebugManager.h"
#include "support/CapturePipeline.h"
#include "support/FakeClock.h"
#include "support/FakeFrameSource.h"

#include <cmath>

using namespace pellux;

namespace {

using test::FakeClock;
using test::FakeFrameSource;
using test::FakeVideoWriter;
using test::runEventsUntil;
using test::TempHome;
using Status = VideoWriter::Status;
using FrameCompletion = std::function<void(std::vector<OCRText>, QUuid)>;

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

OCRText fragment(const QString &text, QRectF bounds = QRectF(1, 2, 3, 4))
{
    return OCRText { QUuid::createUuid(), QUuid::createUuid(), {}, text, bounds };
}

VideoFrame frameAt(double seconds)
{
    return VideoFrame { test::CapturePipeline::blankFrame(64, 48, Qt::darkCyan), seconds };
}

class CaptureEngineTest : public ::testing::Test {
protected:
    // A new engine at the start time over a new writer in `status`, nothing recognised yet; frames
    // are recognised by a stand-in that answers `answer` on its own thread.
    CaptureEngine &restart(bool capturing = true, Status status = Status::writing)
    {
        engine.reset();
        writer = FakeVideoWriter {};
        writer.writerStatus = status;
        writer.clock = &clock;
        recognitionTimes.clear();
        clock.set(start);
        const auto recognize = [this](const QImage &, FrameCompletion completion) {
            // To the millisecond, as the frame times are given.
            recognitionTimes.push_back(
                std::round((secondsSince1970(clock.now()) - secondsSince1970(start)) * 1000) / 1000);
            if (holdCompletions)
                heldCompletions.push_back(std::move(completion));
            else
                std::thread([&] { completion(answer, QUuid::createUuid()); }).join();
        };
        engine = std::make_unique<CaptureEngine>(CaptureEngine::Components {
            .backend = &backend, .recognizeFrame = recognize, .debug = &debug, .clock = &clock, .writer = &writer });
        engine->setCapturing(capturing);
        return *engine;
    }

    // Moves the clock to `seconds` after the engine's construction and hands it a frame of that time.
    void feed(double seconds)
    {
        clock.set(fromSecondsSince1970(secondsSince1970(start) + seconds));
        engine->processSampleBuffer(frameAt(seconds));
    }

    TempHome home;
    const TimePoint start = fromSecondsSince1970(1'800'000'000.0);
    FakeClock clock { start };
    FakeVideoWriter writer;
    test::FakeCaptureBackend backend;
    DebugManager debug { clock };
    std::vector<double> recognitionTimes;
    std::vector<OCRText> answer { fragment(QStringLiteral("hello")) };
    bool holdCompletions = false;
    std::vector<FrameCompletion> heldCompletions;
    // Last, so that it goes before the collaborators it uses.
    std::unique_ptr<CaptureEngine> engine;
    FakeFrameSource source;
};

// The stream path is idle in the application (nothing creates a stream or a writer): one table of
// frames fed and what is written and recognised, the text they give, and the stream's threads.
// Frames are dropped unless capturing into a writing writer, before anything is written,
// recognised or timed; the first written frame starts the session at its time; frames are appended
// when the writer is ready; text is recognised at most every five seconds, and frames the writer did
// not take (fed while it was not started) leave that interval unused.
TEST_F(CaptureEngineTest, WritesFramesWhileCapturingAndRecognisesAtMostOnceEveryFiveSeconds)
{
    const struct {
        const char *name;
        bool capturing;
        std::optional<Status> status; // none: no writer
        std::vector<double> unwritten, frameTimes, notReady, recognised;
    } cases[] = {
        { "not capturing", false, Status::writing, {}, { 6 } },
        { "no writer", true, std::nullopt, {}, { 6 } },
        { "writer not started", true, Status::unknown, {}, { 6 } },
        { "writer failed", true, Status::failed, {}, { 6 } },
        { "steady", true, Status::writing, {}, { 0, 1, 4.9, 5, 6, 10.1 }, { 1, 6 }, { 5, 10.1 } },
        { "just short", true, Status::writing, {}, { 4.999, 9.998 }, {}, { 9.998 } },
        { "late first", true, Status::writing, {}, { 7, 11, 12.1 }, { 7 }, { 7, 12.1 } },
        { "sparse", true, Status::writing, {}, { 20, 40, 41 }, {}, { 20, 40 } },
        { "none yet", true, Status::writing, {}, { 0, 2, 4 }, {}, {} },
        { "not written", true, Status::writing, { 5 }, { 5.5 }, {}, { 5.5 } },
    };
    debug.setDebugMode(true);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        restart(c.capturing, Status::unknown);
        for (double time : c.unwritten)
            feed(time);
        writer.writerStatus = c.status.value_or(Status::writing);
        if (!c.status)
            engine->setVideoWriter(nullptr);
        QSignalSpy timings(&debug, &DebugManager::avgProcessingTimeChanged);
        const int framesBefore = debug.framesProcessed();
        const bool writing = c.capturing && c.status == Status::writing;
        std::vector<double> appended;
        for (double time : c.frameTimes) {
            writer.ready = std::find(c.notReady.begin(), c.notReady.end(), time) == c.notReady.end();
            if (writer.ready && writing)
                appended.push_back(time);
            feed(time);
        }
        settle();
        const std::optional<double> session = writing ? std::optional(c.frameTimes.front()) : std::nullopt;
        EXPECT_EQ(std::tuple(recognitionTimes, writer.appendedTimes, writer.sessionStarts, engine->startTime()),
            std::tuple(c.recognised, appended, session ? std::vector { *session } : std::vector<double> {}, session));
        EXPECT_TRUE(writing || (timings.isEmpty() && debug.framesProcessed() == framesBefore));
    }
    // Another writer starts a session of its own, even with a frame it could not take.
    FakeVideoWriter second;
    second.ready = false;
    engine->setVideoWriter(&second);
    feed(9.25);
    EXPECT_EQ(std::pair(second.sessionStarts, second.appendedTimes.size()),
        std::pair(std::vector<double> { 9.25 }, size_t(0)));
    engine->setVideoWriter(&writer);
}

// Fragments join one recording, the newest kept when there are too many, and reach the debug window
// in debug mode only.
TEST_F(CaptureEngineTest, RecognisedTextJoinsOneRecordingAndStreamFramesReachTheMainThreadInOrder)
{
    restart();
    QSignalSpy changes(engine.get(), &CaptureEngine::pendingOCRTextsChanged);
    // Nothing recognised: no recording begins.
    // Sets what the recogniser answers, then feeds a frame of that time.
    const auto recognise = [&](double time, std::vector<OCRText> fragments) {
        answer = std::move(fragments);
        feed(time);
        settle();
    };
    recognise(5, {});
    EXPECT_TRUE(recognitionTimes.size() == 1u && !engine->currentRecordingId());
    recognise(10, { fragment(QStringLiteral("quiet")) });
    EXPECT_EQ(debug.ocrOperations(), 0);
    ASSERT_TRUE(engine->currentRecordingId());
    const QUuid recording = *engine->currentRecordingId();

    debug.setDebugMode(true);
    recognise(15, { fragment(QStringLiteral("first"), QRectF(10, 20, 30, 40)), fragment(QStringLiteral("second")) });
    recognise(20, { fragment(QStringLiteral("third")) });
    EXPECT_EQ(changes.count(), 3);
    std::vector<QString> texts;
    for (const OCRText &text : engine->pendingOCRTexts()) {
        texts.push_back(text.text);
        EXPECT_EQ(text.recordingId, recording);
    }
    EXPECT_EQ(texts, std::vector<QString>({ "quiet", "first", "second", "third" }));
    ASSERT_EQ(std::pair(debug.ocrResults().size(), debug.ocrOperations()), std::pair(size_t(3), 3));
    const DebugOCRResult &oldest = debug.ocrResults().back();
    EXPECT_EQ(std::tuple(oldest.text, oldest.confidence, oldest.bounds),
        std::tuple(QStringLiteral("first"), 1.0, QRectF(10, 20, 30, 40)));

    const size_t perFrame = CaptureEngine::maxPendingOCRTexts / 2 + 100;
    for (int frame = 0; frame < 2; ++frame) {
        std::vector<OCRText> many;
        for (size_t i = 0; i < perFrame; ++i)
            many.push_back(fragment(QStringLiteral("%1-%2").arg(frame).arg(i)));
        recognise(25.0 + 5 * frame, std::move(many));
    }
    const std::deque<OCRText> &pending = engine->pendingOCRTexts();
    ASSERT_EQ(pending.size(), CaptureEngine::maxPendingOCRTexts);
    EXPECT_EQ(std::pair(pending.front().text, pending.back().text),
        std::pair(QStringLiteral("0-%1").arg(2 * perFrame - CaptureEngine::maxPendingOCRTexts),
            QStringLiteral("1-%1").arg(perFrame - 1)));

    // A stream's frames reach the engine on the main thread in order; a recognition, a debug conversion
    // and frames still queued when the engine goes are dropped.
    holdCompletions = true;
    debug.setDebugMode(false);
    debug.clearDebugData();
    restart();
    CaptureStreamOutput output(engine.get());
    source.setSink(&output);
    ASSERT_TRUE(source.startCapture());
    source.deliver({ frameAt(1), frameAt(2), frameAt(3) });
    EXPECT_TRUE(writer.appendedTimes.empty());
    settle();
    EXPECT_EQ(writer.appendedTimes, std::vector<double>({ 1, 2, 3 }));
    for (QThread *thread : writer.appendThreads)
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());

    debug.setDebugMode(true);
    feed(5);
    ASSERT_EQ(heldCompletions.size(), 1u);
    source.deliver({ frameAt(6), frameAt(7) });
    engine.reset();
    std::thread([&] { heldCompletions.front()({ fragment(QStringLiteral("late")) }, QUuid::createUuid()); }).join();
    source.deliver({ frameAt(8) });
    settle();
    EXPECT_EQ(writer.appendedTimes, std::vector<double>({ 1, 2, 3, 5 }));
    EXPECT_EQ(debug.framesProcessed() + debug.ocrOperations(), 0);
}

} // namespace
