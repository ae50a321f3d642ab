// The screenshot store's per-save disk work: rewriting the recordings list and walking the folders
// for the storage figure, each reported as a multiple of writing one 100 KB screenshot file measured
// in the same run ("x_image_write").
#include "persistence/RecordingJson.h"
#include "runtime/PrivateFiles.h"
#include "storage/StorageFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

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

std::vector<Recording> recordings(int count)
{
    std::vector<Recording> out;
    for (int i = 0; i < count; ++i) {
        Recording r;
        r.id = QUuid::createUuid();
        r.timestamp = fromSecondsSince1970(1.7e9 + i);
        r.filePath = QUrl::fromLocalFile(
            QStringLiteral("/home/ann/Documents/Pellux/Screenshots/2024/03/05/14/20240305_1407%1_Firefox.webp").arg(i));
        r.thumbnailPath = r.filePath;
        r.appName = QStringLiteral("Firefox");
        r.windowTitle = QStringLiteral("Quarterly report - Mozilla Firefox");
        r.imageHash = QString(64, QLatin1Char('a'));
        out.push_back(r);
    }
    return out;
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

// Encoding the whole list and replacing metadata.json, synced, after every change.
void BM_RewriteList(benchmark::State &state)
{
    const std::vector<Recording> list = recordings(static_cast<int>(state.range(0)));
    const QString path = scratch().filePath(QStringLiteral("metadata.json"));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        static_cast<void>(writePrivateFileAtomically(path, encodeRecordings(list)));
        seconds += std::chrono::duration<double>(SteadyClock::now() - start).count();
    }
    reportRatio(state, seconds);
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
BENCHMARK(BM_RewriteList)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiskWalk)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
