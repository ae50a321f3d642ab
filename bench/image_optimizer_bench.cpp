// Costs of the image optimiser's per-frame work on a 1920x1080 screenshot of terminal windows, and
// of the thumbnail each stored frame keeps.
// "ms" is wall time, "cpu_ms" the processor time of the whole process (Qt scales on several
// threads), and "x_copy" that processor time as a multiple of one plain copy of the frame
// measured in the same run: on a shared machine the processor time is the steadier figure.
#include "imaging/ImageOptimizer.h"
#include "imaging/Thumbnail.h"
#include "ocr/OpenMPThreadLimit.h"
#include "ocr/TextLineDetector.h"
#include "runtime/ProcessorTime.h"
#include "support/ImageEncoder.h"
#include "support/SampleImages.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

using namespace pellux;

namespace {

const QImage &frame()
{
    static const QImage image = QImage(QStringLiteral(PELLUX_SOURCE_DIR "/tests/data/xterm-desktop.png"))
                                    .convertToFormat(QImage::Format_RGB32);
    return image;
}

// The frame with one line typed into a terminal: a few 64-pixel tiles change.
QImage typedFrame(int n)
{
    QImage changed = frame().copy();
    QPainter painter(&changed);
    painter.fillRect(QRect(40, 584, 200, 22), Qt::white);
    painter.setPen(Qt::black);
    painter.setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 11));
    painter.drawText(QPoint(40, 600), QStringLiteral("$ make test %1").arg(n));
    return changed;
}

double secondsNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Median time of one deep copy of the frame, the unit every figure here is compared with.
double copySeconds()
{
    static const double seconds = [] {
        std::vector<double> samples;
        for (int i = 0; i < 200; ++i) {
            const double start = processProcessorSeconds();
            QImage copy = frame().copy();
            benchmark::DoNotOptimize(copy.constBits());
            samples.push_back(processProcessorSeconds() - start);
        }
        std::nth_element(samples.begin(), samples.begin() + 100, samples.end());
        return samples[100];
    }();
    return seconds;
}

template <typename F> void measure(benchmark::State &state, F &&work)
{
    const double unit = copySeconds();
    double wall = 0;
    double processor = 0;
    for (auto _ : state) {
        const double start = secondsNow();
        const double startProcessor = processProcessorSeconds();
        work();
        processor += processProcessorSeconds() - startProcessor;
        wall += secondsNow() - start;
    }
    const double iterations = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["ms"] = wall / iterations * 1000.0;
    state.counters["cpu_ms"] = processor / iterations * 1000.0;
    state.counters["x_copy"] = processor / iterations / unit;
}

void BM_CopyFrame(benchmark::State &state)
{
    measure(state, [] {
        QImage copy = frame().copy();
        benchmark::DoNotOptimize(copy.constBits());
    });
}

void BM_PerceptualHash(benchmark::State &state)
{
    measure(state, [] { benchmark::DoNotOptimize(ImageOptimizer::perceptualHash(frame())); });
}

void BM_ImageDifference(benchmark::State &state)
{
    const QImage other = typedFrame(0);
    measure(state, [&] { benchmark::DoNotOptimize(ImageOptimizer::imageDifference(frame(), other)); });
}

void BM_BlockHashes(benchmark::State &state)
{
    measure(state, [] { benchmark::DoNotOptimize(ImageOptimizer::blockHashes(frame())); });
}

// Layout analysis at the frame's size and at reduced copies; "text_share" is the area share the
// detected lines cover (above 0.3 means "text").
void BM_TextLineDetection(benchmark::State &state)
{
    const int side = int(state.range(0));
    const QImage input = side >= frame().width() ? frame() : frame().scaledToWidth(side, Qt::SmoothTransformation);
    double share = 0;
    measure(state, [&] {
        double covered = 0;
        for (const QRect &line : detectTextLines(input))
            covered += double(line.width()) * line.height();
        share = covered / (double(input.width()) * input.height());
    });
    state.counters["text_share"] = share;
}

void BM_AnalyzeContent(benchmark::State &state)
{
    ContentType type = ContentType::mixed;
    measure(state, [&] { type = test::imageEncoder().analyzeContent(frame()); });
    state.counters["type"] = double(int(type));
}

void BM_WebP(benchmark::State &state)
{
    qsizetype bytes = 0;
    measure(state, [&] { bytes = test::imageEncoder().convertToWebP(frame(), 0.85).value_or(QByteArray()).size(); });
    state.counters["KB"] = double(bytes) / 1024.0;
}

void BM_ProgressiveJPEG(benchmark::State &state)
{
    qsizetype bytes = 0;
    measure(state, [&] { bytes = test::imageEncoder().compressToJPEG(frame(), 0.85).value_or(QByteArray()).size(); });
    state.counters["KB"] = double(bytes) / 1024.0;
}

struct EncodingCost {
    double processorSeconds = 0;
    qsizetype bytes = 0;
};

template <typename F> EncodingCost timeEncoding(F &&encode)
{
    const double start = processProcessorSeconds();
    const qsizetype bytes = encode().value_or(QByteArray()).size();
    return { processProcessorSeconds() - start, bytes };
}

// Lossless WebP at each effort level against lossy quality 0.85, method 0, on the full-size
// desktop of terminals, alternated within each iteration so both see the same machine load.
void BM_LosslessEffort(benchmark::State &state)
{
    const int effort = int(state.range(0));
    const ImageOptimizer &optimizer = test::imageEncoder();
    EncodingCost lossy;
    EncodingCost exact;
    for (auto _ : state) {
        const EncodingCost a = timeEncoding([&] { return optimizer.convertToWebP(frame(), 0.85); });
        const EncodingCost b = timeEncoding([&] { return optimizer.convertToLosslessWebP(frame(), effort); });
        lossy = { lossy.processorSeconds + a.processorSeconds, a.bytes };
        exact = { exact.processorSeconds + b.processorSeconds, b.bytes };
    }
    const double iterations = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["lossy_KB"] = double(lossy.bytes) / 1024.0;
    state.counters["lossless_KB"] = double(exact.bytes) / 1024.0;
    state.counters["lossy_ms"] = lossy.processorSeconds / iterations * 1000.0;
    state.counters["lossless_ms"] = exact.processorSeconds / iterations * 1000.0;
    state.counters["bytes_ratio"] = double(exact.bytes) / double(std::max<qsizetype>(1, lossy.bytes));
    state.counters["time_ratio"] = exact.processorSeconds / std::max(1e-9, lossy.processorSeconds);
}

// The frames the encoding rule is compared on.
const QImage &ruleFrame(int index)
{
    static const std::vector<QImage> frames { test::terminalWindowFrame(), test::terminalDesktopFrame(),
        test::sampleScreenshot("bench/data/ocr/qt-window-dejavusans10-light.png"),
        test::photographicFrame(1920, 1080) };
    return frames[size_t(index)];
}

// The scaling and encoding of a full frame under the former rule (scaled for its class, lossy WebP
// at the class quality, method 0) and the current one (encodeForContent); classification is the
// same for both and left out. The frames: 0 an xterm window, 1 a
// desktop of xterms, 2 a Qt dialog, 3 a photograph. "bytes_ratio" and "time_ratio" are current ÷
// former, processor time, alternated within each iteration.
void BM_EncodingRule(benchmark::State &state)
{
    const ImageOptimizer &optimizer = test::imageEncoder();
    const QImage &source = ruleFrame(int(state.range(0)));
    const ContentType type = optimizer.analyzeContent(source);
    EncodingCost former;
    EncodingCost current;
    for (auto _ : state) {
        const EncodingCost a = timeEncoding([&] {
            const QImage scaled
                = ImageOptimizer::scaleImage(source, ImageOptimizer::getOptimalScaleFactor(source, type));
            return optimizer.convertToWebP(scaled, compressionQuality(type));
        });
        const EncodingCost b = timeEncoding([&] { return optimizer.encodeForContent(source, type); });
        former = { former.processorSeconds + a.processorSeconds, a.bytes };
        current = { current.processorSeconds + b.processorSeconds, b.bytes };
    }
    const double iterations = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["type"] = double(int(type));
    state.counters["repeat_share"] = ImageOptimizer::repeatedPixelShare(source);
    state.counters["old_KB"] = double(former.bytes) / 1024.0;
    state.counters["new_KB"] = double(current.bytes) / 1024.0;
    state.counters["old_ms"] = former.processorSeconds / iterations * 1000.0;
    state.counters["new_ms"] = current.processorSeconds / iterations * 1000.0;
    state.counters["bytes_ratio"] = double(current.bytes) / double(std::max<qsizetype>(1, former.bytes));
    state.counters["time_ratio"] = current.processorSeconds / std::max(1e-9, former.processorSeconds);
}

// Classification, scaling and encoding of a whole frame.
void BM_FullFrameOptimisation(benchmark::State &state)
{
    qsizetype bytes = 0;
    measure(state, [&] { bytes = test::imageEncoder().compressByContent(frame()).value_or(QByteArray()).size(); });
    state.counters["KB"] = double(bytes) / 1024.0;
}

// The block-based delta of a frame in which one typed line changed a few tiles: the grid, the
// search among the cached grids and the container of the changed blocks.
void BM_BlockDelta(benchmark::State &state)
{
    ImageOptimizer &optimizer = test::imageEncoder();
    optimizer.findPartialMatchesBlocking(frame(), ImageOptimizer::kPartialMatchThreshold);
    std::vector<QImage> changed;
    for (int i = 0; i < 8; ++i)
        changed.push_back(typedFrame(i + 1));
    size_t next = 0;
    qsizetype bytes = 0;
    double blocks = 0;
    measure(state, [&] {
        const QImage &image = changed[next++ % changed.size()];
        const auto match = optimizer.findPartialMatchesBlocking(image, ImageOptimizer::kPartialMatchThreshold);
        if (match) {
            blocks = match->totalBlocks - double(match->matchingBlocks.size());
            bytes = optimizer.createPartialDeltaFrameBlocking(image, *match).value_or(QByteArray()).size();
        }
    });
    state.counters["changed_blocks"] = blocks;
    state.counters["KB"] = double(bytes) / 1024.0;
}

// The card's thumbnail made from the frame in hand, for every stored frame (whole or delta): read
// against BM_FullFrameOptimisation and BM_BlockDelta, the stored frame's own cost.
void BM_Thumbnail(benchmark::State &state)
{
    qsizetype bytes = 0;
    measure(state, [&] { bytes = thumbnail::encode(frame()).value_or(QByteArray()).size(); });
    state.counters["KB"] = double(bytes) / 1024.0;
}

// Heap held by the grid cache once ten windows' frames are in it.
void BM_GridCacheForTenWindows(benchmark::State &state)
{
    ImageOptimizer optimizer;
    for (int i = 0; i < 10; ++i)
        optimizer.findPartialMatchesBlocking(typedFrame(100 + i), ImageOptimizer::kPartialMatchThreshold);
    measure(state, [&] { benchmark::DoNotOptimize(optimizer.blockHashCacheBytes()); });
    state.counters["cache_KB"] = double(optimizer.blockHashCacheBytes()) / 1024.0;
}

} // namespace

BENCHMARK(BM_CopyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerceptualHash)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageDifference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockHashes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextLineDetection)->Arg(1920)->Arg(1280)->Arg(1152)->Arg(1024)->Arg(960)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzeContent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WebP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressiveJPEG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LosslessEffort)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodingRule)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullFrameOptimisation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockDelta)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thumbnail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridCacheForTenWindows)->Iterations(1);

int main(int argc, char **argv)
{
    // OMP_THREAD_LIMIT only takes effect from the environment the program starts with.
    pellux::restartWithOpenMPThreadLimit(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
