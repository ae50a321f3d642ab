// What the results grid pays for its screenshots: 100 stored 1920×1080 frames (WebP and JPEG)
// loaded at card size (560×350) against a full decode of the same files, measured in the same run
// ("x_full"); and a card of a delta frame, rebuilt from a chain of eight deltas, cold and as a
// grid of the window's consecutive deltas. With thumbnails: the same 100 frames and the delta card
// loaded at a size the stored thumbnail serves (320x200), from the thumbnail against the frame
// ("x_without"), and the thumbnails' bytes as a share of the stored images' bytes. Times are
// thread CPU time ("cpu_ms"; the loader runs on the calling thread); "ms" is wall time for
// reference.
#include "imaging/DeltaFrameProcessor.h"
#include "imaging/ImageOptimizer.h"
#include "imaging/Thumbnail.h"
#include "ocr/OpenMPThreadLimit.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/ProcessorTime.h"
#include "support/ImageEncoder.h"
#include "ui/ScreenshotLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>

using namespace pellux;

namespace {

constexpr int kFiles = 100;
constexpr int kDeltas = 8;
const QSize kCard(560, 350);
// A card the thumbnail serves.
const QSize kSmallCard(320, 200);

QTemporaryDir *g_folder = nullptr;
std::map<std::string, std::vector<QString>> g_files; // by format
std::vector<QString> g_chain; // base frame, then the deltas
SimpleDatabaseManager *g_database = nullptr;
std::map<std::string, double> g_fullDecodeSeconds; // CPU seconds per file, by format

QImage desktopFrame(int seed)
{
    static const QImage desktop = QImage(QStringLiteral(PELLUX_SOURCE_DIR "/tests/data/xterm-desktop.png"))
                                      .convertToFormat(QImage::Format_RGB32);
    QImage frame = desktop.isNull() ? QImage(1920, 1080, QImage::Format_RGB32) : desktop.copy();
    if (desktop.isNull())
        frame.fill(QColor(245, 245, 240));
    QPainter painter(&frame);
    painter.fillRect(QRect(1500, 900, 300, 40), QColor(40, 60, 90));
    painter.setPen(Qt::white);
    painter.drawText(1510, 925, QStringLiteral("frame %1").arg(seed));
    return frame;
}

QString write(const QString &name, const QByteArray &bytes)
{
    const QString path = g_folder->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::abort();
    return path;
}

void prepareFiles()
{
    for (int i = 0; i < kFiles; ++i) {
        const QImage frame = desktopFrame(i);
        g_files["webp"].push_back(
            write(QStringLiteral("%1.webp").arg(i), *test::imageEncoder().convertToWebP(frame, 0.85)));
        g_files["jpeg"].push_back(
            write(QStringLiteral("%1.jpg").arg(i), *test::imageEncoder().compressToJPEG(frame, 0.85)));
    }
}

// A window's reference frame and eight deltas of a few changed tiles each, with their rows.
void prepareChain()
{
    QImage frame = desktopFrame(0);
    const auto save = [](const QString &path, const QString &hash, const std::optional<QString> &reference,
                          double seconds, double ratio) {
        Recording recording;
        recording.id = QUuid::createUuid();
        recording.timestamp = fromSecondsSince1970(1.7e9 + seconds);
        recording.filePath = QUrl::fromLocalFile(path);
        recording.appName = QStringLiteral("XTerm");
        g_database->saveRecordingWithDeltaFrame(
            recording, hash, QFileInfo(path).size(), reference.has_value(), reference, ratio);
    };
    const QByteArray base = *DeltaFrameProcessor::encodeFullFrame(test::imageEncoder(), frame);
    g_chain.push_back(write(QStringLiteral("base.webp"), base));
    save(g_chain.back(), QStringLiteral("h0"), std::nullopt, 0, double(tiffRepresentationSize(frame)) / base.size());
    std::srand(3);
    for (int d = 1; d <= kDeltas; ++d) {
        const QRect area(64 * (2 + 3 * d), 64 * 4, 128, 64);
        {
            QPainter painter(&frame);
            for (int y = area.top(); y <= area.bottom(); y += 4)
                for (int x = area.left(); x <= area.right(); x += 4)
                    painter.fillRect(
                        QRect(x, y, 4, 4), QColor(std::rand() % 256, std::rand() % 256, std::rand() % 256));
        }
        const QByteArray delta = *DeltaFrameProcessor::encodeDeltaData(test::imageEncoder(), frame, { area });
        g_chain.push_back(write(QStringLiteral("delta%1.jpg").arg(d), delta));
        save(g_chain.back(), QStringLiteral("h%1").arg(d), QStringLiteral("h0"), 5.0 * d,
            double(tiffRepresentationSize(frame)) / delta.size());
    }
    g_database->waitUntilIdle();
}

template <typename F> void runTimed(benchmark::State &state, double baselineSeconds, F &&work)
{
    double wall = 0;
    double cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadProcessorSeconds();
        work();
        cpu += threadProcessorSeconds() - cpuStart;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double iterations = double(state.iterations());
    state.counters["ms"] = wall / iterations * 1e3;
    state.counters["cpu_ms"] = cpu / iterations * 1e3;
    if (baselineSeconds > 0)
        state.counters["x_full"] = cpu / iterations / baselineSeconds;
}

// Loads every file of the format; answers the bytes of pixels the views would hold per image.
double loadAll(const std::string &format, QSize size)
{
    ScreenshotLoader loader(nullptr);
    qint64 bytes = 0;
    for (const QString &path : g_files[format]) {
        const QImage image = loader.load(path, size, nullptr);
        if (image.isNull())
            std::abort();
        bytes += image.sizeInBytes();
        benchmark::DoNotOptimize(image.constBits());
    }
    return double(bytes) / double(g_files[format].size());
}

std::map<std::string, double> g_fullDecodeBytes; // pixel bytes per image, by format

// The baseline: every file decoded in full, as the viewer does.
void FullDecode100(benchmark::State &state, const char *format)
{
    double bytes = 0;
    runTimed(state, 0, [&] { bytes = loadAll(format, QSize()); });
    g_fullDecodeSeconds[format] = state.counters["cpu_ms"] / 1e3;
    g_fullDecodeBytes[format] = bytes;
    state.counters["MiB_per_image"] = bytes / (1024.0 * 1024.0);
}

void CardSize100(benchmark::State &state, const char *format)
{
    double bytes = 0;
    runTimed(state, g_fullDecodeSeconds[format], [&] { bytes = loadAll(format, kCard); });
    state.counters["MiB_per_image"] = bytes / (1024.0 * 1024.0);
    if (g_fullDecodeBytes[format] > 0)
        state.counters["x_full_memory"] = bytes / g_fullDecodeBytes[format];
}

// One card of the newest delta with nothing cached: the base and all eight deltas, against a full
// decode of the base frame alone.
void DeltaCardCold(benchmark::State &state)
{
    double baseSeconds = 0;
    {
        ScreenshotLoader plain(nullptr);
        const double start = threadProcessorSeconds();
        for (int i = 0; i < 5; ++i)
            benchmark::DoNotOptimize(plain.load(g_chain.front(), QSize(), nullptr).constBits());
        baseSeconds = (threadProcessorSeconds() - start) / 5;
    }
    const ScreenshotLoader::DeltaChainLookup lookup = ScreenshotLoader::databaseLookup(*g_database);
    runTimed(state, baseSeconds, [&] {
        ScreenshotLoader loader(lookup);
        const QImage card = loader.load(g_chain.back(), kCard, nullptr);
        if (card.isNull())
            std::abort();
    });
}

// The window's eight delta cards newest first with one loader, per card, against the cold card.
void DeltaCardsOfOneWindow(benchmark::State &state)
{
    const ScreenshotLoader::DeltaChainLookup lookup = ScreenshotLoader::databaseLookup(*g_database);
    double coldSeconds = 0;
    {
        const double start = threadProcessorSeconds();
        for (int i = 0; i < 3; ++i) {
            ScreenshotLoader loader(lookup);
            benchmark::DoNotOptimize(loader.load(g_chain.back(), kCard, nullptr).constBits());
        }
        coldSeconds = (threadProcessorSeconds() - start) / 3;
    }
    double cpu = 0;
    for (auto _ : state) {
        const double start = threadProcessorSeconds();
        ScreenshotLoader loader(lookup);
        for (int d = kDeltas; d >= 1; --d) {
            if (loader.load(g_chain[size_t(d)], kCard, nullptr).isNull())
                std::abort();
        }
        cpu += threadProcessorSeconds() - start;
    }
    const double perCard = cpu / double(state.iterations()) / kDeltas;
    state.counters["cpu_ms_per_card"] = perCard * 1e3;
    state.counters["x_cold_card"] = perCard / coldSeconds;
}

// Writes (or removes) the thumbnail of each file, made from the file's frame.
void setThumbnails(const std::vector<QString> &paths, bool present, qint64 *bytes = nullptr)
{
    ScreenshotLoader loader(ScreenshotLoader::databaseLookup(*g_database));
    for (const QString &path : paths) {
        const QString thumb = thumbnail::pathFor(path);
        QFile::remove(thumb);
        if (!present)
            continue;
        const QByteArray encoded = *thumbnail::encode(loader.load(path, QSize(), nullptr));
        QFile file(thumb);
        if (!file.open(QIODevice::WriteOnly) || file.write(encoded) != encoded.size())
            std::abort();
        if (bytes)
            *bytes += encoded.size();
    }
}

// 100 cards a thumbnail serves, read from the thumbnails, against the same cards read from the
// frames (no thumbnail beside them) in the same run.
void SmallCard100(benchmark::State &state, const char *format)
{
    const std::vector<QString> &paths = g_files[format];
    setThumbnails(paths, false);
    double withoutSeconds = 0;
    {
        const double start = threadProcessorSeconds();
        for (int i = 0; i < 3; ++i)
            loadAll(format, kSmallCard);
        withoutSeconds = (threadProcessorSeconds() - start) / 3;
    }
    qint64 thumbnailBytes = 0;
    setThumbnails(paths, true, &thumbnailBytes);
    runTimed(state, 0, [&] { loadAll(format, kSmallCard); });
    qint64 storedBytes = 0;
    for (const QString &path : paths)
        storedBytes += QFileInfo(path).size();
    setThumbnails(paths, false);
    state.counters["without_ms"] = withoutSeconds * 1e3;
    state.counters["x_without"] = state.counters["cpu_ms"] / 1e3 / withoutSeconds;
    state.counters["thumb_bytes_share"] = double(thumbnailBytes) / double(storedBytes);
    state.counters["thumb_KiB"] = double(thumbnailBytes) / paths.size() / 1024.0;
}

// The newest delta's card at a size the thumbnail serves: from its thumbnail, against the cold
// rebuild of its chain (no thumbnail) in the same run.
void DeltaSmallCard(benchmark::State &state)
{
    const ScreenshotLoader::DeltaChainLookup lookup = ScreenshotLoader::databaseLookup(*g_database);
    const std::vector<QString> newest { g_chain.back() };
    setThumbnails(newest, false);
    double coldSeconds = 0;
    {
        const double start = threadProcessorSeconds();
        for (int i = 0; i < 3; ++i) {
            ScreenshotLoader loader(lookup);
            benchmark::DoNotOptimize(loader.load(g_chain.back(), kSmallCard, nullptr).constBits());
        }
        coldSeconds = (threadProcessorSeconds() - start) / 3;
    }
    setThumbnails(newest, true);
    runTimed(state, 0, [&] {
        ScreenshotLoader loader(lookup);
        if (loader.load(g_chain.back(), kSmallCard, nullptr).isNull())
            std::abort();
    });
    setThumbnails(newest, false);
    state.counters["without_ms"] = coldSeconds * 1e3;
    state.counters["x_without"] = state.counters["cpu_ms"] / 1e3 / coldSeconds;
}

} // namespace

BENCHMARK_CAPTURE(FullDecode100, webp, "webp")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(CardSize100, webp, "webp")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(FullDecode100, jpeg, "jpeg")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(CardSize100, jpeg, "jpeg")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(DeltaCardCold)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(DeltaCardsOfOneWindow)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(SmallCard100, webp, "webp")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(SmallCard100, jpeg, "jpeg")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(DeltaSmallCard)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv)
{
    pellux::restartWithOpenMPThreadLimit(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    QTemporaryDir folder;
    if (!home.isValid() || !folder.isValid())
        return EXIT_FAILURE;
    // The database of the delta chain lives in a private home, never the user's.
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/share")));
    QGuiApplication app(argc, argv); // text drawing needs fonts
    g_folder = &folder;
    SimpleDatabaseManager database;
    g_database = &database;
    prepareFiles();
    prepareChain();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
