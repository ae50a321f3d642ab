// The processor time of the hourly re-compression pass over 200,000 screenshots in the hour
// folders of 120 days, reported as a multiple ("x_listing") of a plain recursive listing of the
// same tree measured in the same run. The files are small stand-ins: the passes after the first
// must not look at them at all.
#include "imaging/ExtendedAttributes.h"
#include "imaging/RecompressionWorker.h"
#include "imaging/ScreenshotFileName.h"
#include "runtime/PrivateFiles.h"
#include "runtime/ProcessorTime.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/xattr.h>
#include <unistd.h>

using namespace pellux;

namespace {

constexpr int kFiles = 200'000;
constexpr int kDays = 120;
constexpr int kHourFolders = kDays * 24;
constexpr double kNow = 1'800'000'000.0;

struct Tree {
    QTemporaryDir dir;
    QString screenshots;
    std::vector<QString> hourFolders;
};

// 200,000 files of 16 bytes, about 70 per hour folder, over the 120 days before kNow.
Tree &tree()
{
    static Tree *built = [] {
        auto *t = new Tree;
        t->screenshots = t->dir.path() + QStringLiteral("/Screenshots");
        const QByteArray content(16, 'w');
        for (int folder = 0; folder < kHourFolders; ++folder) {
            const double hourStart = kNow - double(kHourFolders - folder) * 3600;
            const int first = int(qint64(folder) * kFiles / kHourFolders);
            const int last = int(qint64(folder + 1) * kFiles / kHourFolders);
            const TimePoint start = fromSecondsSince1970(hourStart);
            const QString path = t->screenshots + QLatin1Char('/') + hourFolderName(start);
            static_cast<void>(makePrivatePath(path)); // a failure shows when the files are written
            t->hourFolders.push_back(path);
            for (int i = first; i < last; ++i) {
                const TimePoint taken = fromSecondsSince1970(hourStart + double(i - first) * 3600 / (last - first));
                const QString name = screenshotFileName(taken, QStringLiteral("Firefox"), QStringLiteral("webp"));
                const QByteArray file = QFile::encodeName(path + QLatin1Char('/') + name);
                const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                if (fd >= 0) {
                    if (::write(fd, content.constData(), size_t(content.size())) != content.size())
                        std::perror("write");
                    ::close(fd);
                }
            }
        }
        return t;
    }();
    return *built;
}

// Every name below the folder, without looking into any file.
long long listRecursively(const QByteArray &path)
{
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.constData()), ::closedir);
    if (!dir)
        return 0;
    long long count = 0;
    while (const dirent *e = ::readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        ++count;
        if (e->d_type == DT_DIR)
            count += listRecursively(path + '/' + e->d_name);
    }
    return count;
}

double listingSeconds()
{
    static const double seconds = [] {
        const QByteArray root = QFile::encodeName(tree().screenshots);
        listRecursively(root); // warm the caches, as the passes find them
        const int rounds = 5;
        const double start = processProcessorSeconds();
        for (int i = 0; i < rounds; ++i)
            benchmark::DoNotOptimize(listRecursively(root));
        return (processProcessorSeconds() - start) / rounds;
    }();
    return seconds;
}

// What the service runs on its queue for one pass: the scan, then every candidate, folder by folder.
RecompressionScan runPass(RecompressionWorker &worker, double now)
{
    RecompressionScan scan = worker.scan(fromSecondsSince1970(now));
    for (const FolderVisit &folder : scan.folders) {
        bool handled = true;
        for (const RecompressionCandidate &candidate : folder.candidates) {
            const FileOutcome outcome = worker.optimizeScreenshot(candidate);
            scan.filesRead += outcome.read ? 1 : 0;
            handled = handled && outcome.kind != FileOutcome::Kind::failed;
        }
        worker.finishFolder(folder, handled);
    }
    return scan;
}

void forgetFolderRecords()
{
    for (const QString &folder : tree().hourFolders)
        ::removexattr(QFile::encodeName(folder).constData(), "user.com.pellux.optimized.folder");
}

void report(benchmark::State &state, double cpuSeconds, int passes, const RecompressionScan &scan)
{
    const double perPass = cpuSeconds / passes;
    state.counters["cpu_ms"] = perPass * 1000;
    state.counters["x_listing"] = perPass / listingSeconds();
    state.counters["folders_listed"] = scan.foldersListed;
    state.counters["files_read"] = scan.filesRead;
}

// One pass, its processor time added to `cpuSeconds`.
RecompressionScan timedPass(RecompressionWorker &worker, double now, double &cpuSeconds, int &passes)
{
    const double start = processProcessorSeconds();
    RecompressionScan scan = runPass(worker, now);
    cpuSeconds += processProcessorSeconds() - start;
    ++passes;
    return scan;
}

void BM_RecursiveListing(benchmark::State &state)
{
    const QByteArray root = QFile::encodeName(tree().screenshots);
    long long names = 0;
    for (auto _ : state)
        names = listRecursively(root);
    state.counters["names"] = double(names);
    state.counters["cpu_ms"] = listingSeconds() * 1000;
    state.counters["x_listing"] = 1.0;
}

// The first pass ever: every folder listed, every file's capture time read from its name, every
// old file opened (and found too small).
void BM_FirstPass(benchmark::State &state)
{
    listingSeconds();
    RecompressionScan scan;
    double cpu = 0;
    int passes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        forgetFolderRecords();
        RecompressionWorker worker(tree().screenshots);
        state.ResumeTiming();
        scan = timedPass(worker, kNow, cpu, passes);
    }
    report(state, cpu, passes, scan);
}

// The hourly pass with nothing new: the same hour, records in memory.
void BM_HourlyPassNothingNew(benchmark::State &state)
{
    listingSeconds();
    RecompressionWorker worker(tree().screenshots);
    runPass(worker, kNow);
    RecompressionScan scan;
    double cpu = 0;
    int passes = 0;
    for (auto _ : state) {
        scan = timedPass(worker, kNow + 60, cpu, passes);
    }
    report(state, cpu, passes, scan);
}

// The pass after a start: records read back from the folders.
void BM_LaunchPassNothingNew(benchmark::State &state)
{
    listingSeconds();
    {
        RecompressionWorker worker(tree().screenshots);
        runPass(worker, kNow);
    }
    RecompressionScan scan;
    double cpu = 0;
    int passes = 0;
    for (auto _ : state) {
        RecompressionWorker worker(tree().screenshots);
        scan = timedPass(worker, kNow + 60, cpu, passes);
    }
    report(state, cpu, passes, scan);
}

// An hour later: the few folders whose files reached the next age level are listed again.
void BM_HourlyPassAnHourLater(benchmark::State &state)
{
    listingSeconds();
    RecompressionWorker worker(tree().screenshots);
    double now = kNow;
    runPass(worker, now);
    RecompressionScan scan;
    double cpu = 0;
    int passes = 0;
    for (auto _ : state) {
        now += 3600;
        scan = timedPass(worker, now, cpu, passes);
    }
    report(state, cpu, passes, scan);
}

} // namespace

BENCHMARK(BM_RecursiveListing)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_FirstPass)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(1);
BENCHMARK(BM_HourlyPassNothingNew)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(20);
BENCHMARK(BM_LaunchPassNothingNew)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK(BM_HourlyPassAnHourLater)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(10);

BENCHMARK_MAIN();
