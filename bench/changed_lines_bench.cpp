// Recognising only the changed lines of a frame against recognising the whole frame, on two
// sessions in a terminal window (tests/support/TypingSession.h): about thirty frames of commands
// typed a few characters at a time, their output, a scroll; and twenty frames of a log scrolling
// by two lines a frame.
//
// Each frame is recognised twice in the same run by the same recogniser: as the capture pipeline
// does it (only the changed lines, in place or scrolled, when the previous frame's text is known;
// the whole frame otherwise), and whole. Counters:
// recall (the share of the whole recognition's words, counted with repetition, that the
// pipeline's text has, over the session), worst_frame_recall, same_text_frames (frames whose
// stored text is identical), changed_line_frames and whole_frames (how the pipeline recognised
// them), and cpu_ratio, the pipeline's processor time over that of whole recognition, with the
// milliseconds per frame of both. PELLUX_BENCH_DETAIL=1 prints every frame.
#include "ocr/OCRProcessor.h"
#include "ocr/OpenMPThreadLimit.h"
#include "ocr/RecognitionMemory.h"
#include "ocr/RecognizedText.h"
#include "runtime/ProcessorTime.h"
#include "support/TypingSession.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <future>
#include <memory>

using namespace pellux;

namespace {

// Runs one request and waits for its fragments without spending processor time meanwhile.
template <typename Start> std::vector<OCRText> recognised(Start start)
{
    std::promise<std::vector<OCRText>> promise;
    std::future<std::vector<OCRText>> result = promise.get_future();
    // A failed recognition counts as no words recalled.
    start([&promise](Recognition fragments) {
        promise.set_value(fragments ? std::move(fragments).value() : std::vector<OCRText> {});
    });
    return result.get();
}

void Session(benchmark::State &state, std::vector<QImage> (*session)())
{
    const std::vector<QImage> frames = session();
    const bool detail = qEnvironmentVariableIntValue("PELLUX_BENCH_DETAIL") == 1;
    for (auto _ : state) {
        OCRProcessor ocr;
        if (!ocr.isRecognizerReady()) {
            state.SkipWithError("the English model is missing");
            return;
        }
        double pipelineSeconds = 0;
        double wholeSeconds = 0;
        int found = 0;
        int total = 0;
        int sameText = 0;
        double worst = 1.0;
        std::shared_ptr<RecognitionMemory> previousText;
        for (size_t i = 0; i < frames.size(); ++i) {
            const QImage &frame = frames[i];
            std::optional<PreviousFrame> previous;
            if (i > 0)
                previous = PreviousFrame { frames[i - 1], previousText };
            auto text = std::make_shared<RecognitionMemory>();

            const int changedBefore = ocr.changedLineRecognitions();
            double started = processProcessorSeconds();
            const std::vector<OCRText> pipeline = recognised(
                [&](auto done) { ocr.processChangedImage(frame, QUuid::createUuid(), previous, text, done); });
            const double pipelineFrame = processProcessorSeconds() - started;
            started = processProcessorSeconds();
            const std::vector<OCRText> whole
                = recognised([&](auto done) { ocr.processImage(frame, QUuid::createUuid(), done); });
            const double wholeFrame = processProcessorSeconds() - started;
            pipelineSeconds += pipelineFrame;
            wholeSeconds += wholeFrame;
            previousText = text;

            const QString pipelineText = joinRecognizedText(pipeline);
            const QString wholeText = joinRecognizedText(whole);
            const auto reference = test::wordCounts(wholeText);
            const int frameFound = test::wordsFound(reference, test::wordCounts(pipelineText));
            const int frameTotal = test::wordTotal(reference);
            found += frameFound;
            total += frameTotal;
            sameText += pipelineText == wholeText ? 1 : 0;
            const double frameRecall = frameTotal ? double(frameFound) / frameTotal : 1.0;
            worst = std::min(worst, frameRecall);
            if (detail) {
                std::fprintf(stderr, "frame %2zu %-13s recall %.3f  %6.1f ms vs %6.1f ms%s\n", i,
                    ocr.changedLineRecognitions() > changedBefore ? "changed lines" : "whole", frameRecall,
                    pipelineFrame * 1000, wholeFrame * 1000, pipelineText == wholeText ? "" : "  (text differs)");
                if (pipelineText != wholeText)
                    std::fprintf(
                        stderr, "   pipeline: %s\n   whole:    %s\n", qPrintable(pipelineText), qPrintable(wholeText));
            }
        }
        const double count = static_cast<double>(frames.size());
        state.counters["frames"] = count;
        state.counters["changed_line_frames"] = ocr.changedLineRecognitions();
        state.counters["whole_frames"] = ocr.wholeImageRecognitions();
        state.counters["recall"] = total ? double(found) / total : 1.0;
        state.counters["worst_frame_recall"] = worst;
        state.counters["same_text_frames"] = sameText;
        state.counters["cpu_ratio"] = wholeSeconds > 0 ? pipelineSeconds / wholeSeconds : 0;
        state.counters["pipeline_ms_per_frame"] = pipelineSeconds * 1000 / count;
        state.counters["whole_ms_per_frame"] = wholeSeconds * 1000 / count;
    }
}

} // namespace

BENCHMARK_CAPTURE(
    Session, typing, +[] { return test::typingSession(); })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(
    Session, scrolling_log, +[] { return test::scrollingSession(20, 30); })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char **argv)
{
    // OMP_THREAD_LIMIT only takes effect from the environment the program starts with.
    restartWithOpenMPThreadLimit(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // text drawing needs fonts
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
