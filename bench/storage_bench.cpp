// The screenshot store at scale. Storing one frame (file, list entry, database row) in a history of
// 1,000 to 500,000 recordings, reported as a multiple of the same at 1,000 in this run
// ("x_at_1000"); and the disk walk behind the storage figure, as a multiple of writing one 100 KB
// screenshot file ("x_image_write").
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/PrivateFiles.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageFiles.h"
#include "storage/StorageManager.h"
#include "support/SyntheticHistory.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <qcorotask.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>

using namespace pellux;

namespace {

using SteadyClock = std::chrono::steady_clock;

QTemporaryDir &scratch()
{
    static QTemporaryDir dir;
    return dir;
}

const QByteArray &imageBytes()
{
    static const QByteArray bytes(100 * 1024, 'i');
    return bytes;
}

// Seconds per new 100 KB file, the work every save does anyway.
double imageWriteSeconds()
{
    static const double seconds = [] {
        const QString folder = scratch().filePath(QStringLiteral("baseline"));
        QDir().mkpath(folder);
        const int rounds = 200;
        const auto start = SteadyClock::now();
        for (int i = 0; i < rounds; ++i)
            static_cast<void>(writeNewPrivateFile(folder + QStringLiteral("/%1.jpg").arg(i), imageBytes()));
        return std::chrono::duration<double>(SteadyClock::now() - start).count() / rounds;
    }();
    return seconds;
}

void reportRatio(benchmark::State &state, double seconds)
{
    state.counters["x_image_write"] = seconds / static_cast<double>(state.iterations()) / imageWriteSeconds();
}

void BM_ImageWrite(benchmark::State &state)
{
    const QString folder = scratch().filePath(QStringLiteral("images"));
    QDir().mkpath(folder);
    int n = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        static_cast<void>(writeNewPrivateFile(folder + QStringLiteral("/%1.jpg").arg(n++), imageBytes()));
        seconds += std::chrono::duration<double>(SteadyClock::now() - start).count();
    }
    reportRatio(state, seconds);
}

// One save into a history of range(0) recordings (rows with text, the list file; image files are
// left out, which only a walk of the disk would notice). Synced to the disk like every save.
void BM_StoreOneFrame(benchmark::State &state)
{
    static std::map<int64_t, double> perSave;
    const int size = static_cast<int>(state.range(0));
    test::TempHome home;
    test::SyntheticHistoryOptions options;
    options.recordings = size;
    options.textCharacters = 60;
    options.withMetadata = true;
    if (!test::writeSyntheticHistory(options)) {
        state.SkipWithError("the history could not be written");
        return;
    }
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index(database);
    StorageManager store(index);
    const QByteArray frame(40 * 1024, 'w');
    TimePoint at = fromSecondsSince1970(options.firstCaptureSeconds + size * options.cycleSeconds);
    double seconds = 0;
    for (auto _ : state) {
        at = at + std::chrono::seconds(5);
        const auto start = SteadyClock::now();
        const std::optional<Recording> saved
            = QCoro::waitFor(store.saveScreenshot(frame, at, 0, QStringLiteral("Firefox"),
                QStringLiteral("Quarterly report"), QStringLiteral("hash"), false, std::nullopt, 2.0));
        seconds += std::chrono::duration<double>(SteadyClock::now() - start).count();
        if (!saved) {
            state.SkipWithError("a save failed");
            return;
        }
    }
    const double each = seconds / static_cast<double>(state.iterations());
    perSave[size] = each;
    if (perSave.count(1000))
        state.counters["x_at_1000"] = each / perSave[1000];
}

// The storage figure: a walk over hour folders holding range(0) files.
void BM_DiskWalk(benchmark::State &state)
{
    const int files = static_cast<int>(state.range(0));
    const QString root = scratch().filePath(QStringLiteral("tree%1").arg(files));
    for (int i = 0; i < files; ++i) {
        const QString hour = root + QStringLiteral("/2024/03/%1/%2").arg(i / 2400 + 1).arg((i / 100) % 24);
        QDir().mkpath(hour);
        static_cast<void>(writeNewPrivateFile(
            hour + QStringLiteral("/%1.webp").arg(i), QByteArray(16, 'w'), nullptr, Durability::unsynced));
    }
    double seconds = 0;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        benchmark::DoNotOptimize(diskUsage(root));
        seconds += std::chrono::duration<double>(SteadyClock::now() - start).count();
    }
    reportRatio(state, seconds);
}

} // namespace

BENCHMARK(BM_ImageWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoreOneFrame)
    ->Arg(1000)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(500'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);
BENCHMARK(BM_DiskWalk)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
