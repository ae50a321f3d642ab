// Change detection and changed-region deltas of a 1920×1080 window frame, each reported as a
// multiple of a plain copy of the same frame measured in the same run ("x_copy"). Both are timed
// in thread CPU time, which a shared, busy machine disturbs far less than wall time; "ms" is the
// wall time per iteration for reference.
#include "imaging/DeltaFrameProcessor.h"
#include "ocr/OpenMPThreadLimit.h"
#include "runtime/ProcessorTime.h"
#include "support/ImageEncoder.h"

#include <QColor>
#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

using namespace pellux;

namespace {

using Clock = std::chrono::steady_clock;

// A real 1920×1080 desktop of terminal windows; the synthetic frame below varies it per window.
QImage desktopFrame()
{
    static const QImage frame = QImage(QStringLiteral(PELLUX_SOURCE_DIR "/tests/data/xterm-desktop.png"))
                                    .convertToFormat(QImage::Format_RGB32);
    return frame;
}

QImage windowFrame(int seed)
{
    if (seed == 0 && !desktopFrame().isNull() && desktopFrame().size() == QSize(1920, 1080))
        return desktopFrame();
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(245, 245, 240));
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, 1920, 32), QColor(60, 70, 90));
    painter.fillRect(QRect(1100, 120, 600, 400), QColor(120, 160, 200));
    for (int y = 60; y < 1060; y += 20)
        painter.drawText(20, y, QStringLiteral("A line of text in an editor window, number %1 (%2)").arg(y).arg(seed));
    return image;
}

QImage withChangedTiles(const QImage &frame, int tiles)
{
    QImage changed = frame.copy();
    QPainter painter(&changed);
    std::srand(7);
    for (int t = 0; t < tiles; ++t) {
        const QRect tile(200 + t * 64 * 3, 64 * 5, 64, 64);
        for (int y = tile.top(); y <= tile.bottom(); y += 4)
            for (int x = tile.left(); x <= tile.right(); x += 4)
                painter.fillRect(QRect(x, y, 4, 4), QColor(std::rand() % 256, std::rand() % 256, std::rand() % 256));
    }
    return changed;
}

double g_copySeconds = 0;

// CPU seconds per plain deep copy of a 1920×1080 RGB32 frame: the fastest of several batches.
double measureCopy(const QImage &frame)
{
    QImage target(frame.size(), frame.format());
    double best = 1e9;
    for (int batch = 0; batch < 8; ++batch) {
        const int rounds = 50;
        const double start = threadProcessorSeconds();
        for (int i = 0; i < rounds; ++i) {
            std::memcpy(target.bits(), frame.constBits(), size_t(frame.sizeInBytes()));
            benchmark::DoNotOptimize(target.constBits());
            benchmark::ClobberMemory();
        }
        best = std::min(best, (threadProcessorSeconds() - start) / rounds);
    }
    return best;
}

template <typename F> void runTimed(benchmark::State &state, F &&work)
{
    double wall = 0;
    double cpu = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double cpuStart = threadProcessorSeconds();
        work();
        cpu += threadProcessorSeconds() - cpuStart;
        wall += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double iterations = double(state.iterations());
    state.counters["ms"] = wall / iterations * 1e3;
    state.counters["cpu_ms"] = cpu / iterations * 1e3;
    state.counters["x_copy"] = cpu / iterations / g_copySeconds;
}

void PlainCopy(benchmark::State &state)
{
    const QImage frame = windowFrame(0);
    QImage target(frame.size(), frame.format());
    runTimed(state, [&] {
        std::memcpy(target.bits(), frame.constBits(), size_t(frame.sizeInBytes()));
        benchmark::DoNotOptimize(target.constBits());
    });
}

void ChangedTilesIdentical(benchmark::State &state)
{
    const QImage a = windowFrame(0);
    const QImage b = a.copy();
    runTimed(state, [&] { benchmark::DoNotOptimize(DeltaFrameProcessor::changedTiles(a, b)); });
}

void ChangedTilesEverywhere(benchmark::State &state)
{
    // Every row differs in every tile: the full arithmetic, no equal runs to skip.
    const QImage a = windowFrame(0);
    QImage b = a.copy();
    for (int y = 0; y < b.height(); ++y) {
        auto *row = reinterpret_cast<std::uint32_t *>(b.scanLine(y));
        for (int x = 0; x < b.width(); ++x)
            row[x] ^= 0x00101010u;
    }
    runTimed(state, [&] { benchmark::DoNotOptimize(DeltaFrameProcessor::changedTiles(a, b)); });
}

void ChangedTilesTypical(benchmark::State &state)
{
    const QImage a = windowFrame(0);
    const QImage b = withChangedTiles(a, 3);
    runTimed(state, [&] { benchmark::DoNotOptimize(DeltaFrameProcessor::changedTiles(a, b)); });
}

// What a frame with a few changed tiles costs end to end: tiles, merge, cut, encode, container.
void DeltaOfFewTiles(benchmark::State &state)
{
    const QImage previous = windowFrame(0);
    const QImage current = withChangedTiles(previous, int(state.range(0)));
    runTimed(state, [&] {
        const std::vector<QRect> regions
            = DeltaFrameProcessor::mergeAdjacentRegions(DeltaFrameProcessor::changedTiles(current, previous));
        benchmark::DoNotOptimize(DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), current, regions));
    });
}

void FullFrame(benchmark::State &state)
{
    const QImage frame = windowFrame(0);
    runTimed(
        state, [&] { benchmark::DoNotOptimize(DeltaFrameProcessor::encodeFullFrame(test::imageEncoder(), frame)); });
}

// Memory held by the reference frames of ten 1920×1080 windows (the desktop and nine editor-like
// frames).
void ReferenceCacheTenWindows(benchmark::State &state)
{
    DeltaFrameProcessor processor { test::imageEncoder() };
    for (int window = 0; window < 10; ++window) {
        const std::optional<QByteArray> full
            = DeltaFrameProcessor::encodeFullFrame(test::imageEncoder(), windowFrame(window));
        processor.storeReferenceFrame(
            QString::number(1000 + window), QString(64, QLatin1Char('a' + window)), full.value_or(QByteArray()));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(processor.referenceFrameBytes());
    state.counters["KiB"] = double(processor.referenceFrameBytes()) / 1024.0;
    state.counters["x_raw_frame"] = double(processor.referenceFrameBytes()) / (10.0 * 1920 * 1080 * 4);
}

} // namespace

BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(ChangedTilesIdentical)->Unit(benchmark::kMillisecond);
BENCHMARK(ChangedTilesTypical)->Unit(benchmark::kMillisecond);
BENCHMARK(ChangedTilesEverywhere)->Unit(benchmark::kMillisecond);
BENCHMARK(DeltaOfFewTiles)->Arg(1)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(FullFrame)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(ReferenceCacheTenWindows)->Iterations(1);

int main(int argc, char **argv)
{
    // OMP_THREAD_LIMIT only takes effect from the environment the program starts with.
    pellux::restartWithOpenMPThreadLimit(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // text drawing needs fonts
    g_copySeconds = measureCopy(windowFrame(0));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
