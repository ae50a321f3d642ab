// What keeping the box of every recognised word costs in disk space, on the committed corpus
// (bench/data/ocr): each image recognised as the capture pipeline recognises a frame, its word
// boxes encoded as the database stores them (encodeWordBoxes), and the image encoded as the
// pipeline stores a full frame (ImageOptimizer: classified, scaled for its content, WebP or
// progressive JPEG). Counters: words, box_bytes and image_bytes over the corpus, share_percent
// (box bytes as a share of image bytes), bytes_per_word, and the worst image's share.
// PELLUX_BENCH_DETAIL=1 prints every image. On this machine: 5,042 words in 20.9 KB of boxes
// (4.2 bytes a word) against 359 KB of images, 5.8 % (the worst image, xterm in a 7-point font,
// 9.8 %). The processor time recognition spends on the words is measured by running
// ocr_recall_bench ("chosen") on a build with and one without them: 1,701 against 1,656 ms a frame,
// the means of two runs each, alternated on a busy machine (1.03x; recall unchanged).
#include "ocr/OCRProcessor.h"
#include "ocr/OpenMPThreadLimit.h"
#include "ocr/RecognizedText.h"
#include "persistence/RecordingText.h"
#include "support/ImageEncoder.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <future>

using namespace pellux;

namespace {

void boxBytes(benchmark::State &state)
{
    const QDir dir(QStringLiteral(PELLUX_SOURCE_DIR "/bench/data/ocr"));
    const QStringList files = dir.entryList({ QStringLiteral("*.png") }, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        state.SkipWithError("no corpus in bench/data/ocr");
        return;
    }
    const bool detail = qEnvironmentVariableIntValue("PELLUX_BENCH_DETAIL") == 1;
    OCRProcessor ocr;
    qint64 words = 0, boxes = 0, images = 0;
    double worst = 0;
    for (auto _ : state) {
        words = boxes = images = 0;
        worst = 0;
        for (const QString &file : files) {
            const QImage image(dir.filePath(file));
            std::promise<Recognition> result;
            ocr.processImage(image, std::nullopt, [&](Recognition r) { result.set_value(std::move(r)); });
            const Recognition fragments = result.get_future().get();
            const std::optional<QByteArray> stored = test::imageEncoder().compressByContent(image);
            if (!fragments || !stored) {
                state.SkipWithError("recognition or encoding failed");
                return;
            }
            const RecordingText text = recognizedText(fragments.value());
            const qint64 boxBytes = text.words.empty() ? 0 : encodeWordBoxes(text.words).size();
            words += static_cast<qint64>(text.words.size());
            boxes += boxBytes;
            images += stored->size();
            worst = std::max(worst, 100.0 * static_cast<double>(boxBytes) / static_cast<double>(stored->size()));
            if (detail)
                std::printf("%-48s %5zu words %6lld box bytes %8lld image bytes %5.2f %%\n", qPrintable(file),
                    text.words.size(), static_cast<long long>(boxBytes), static_cast<long long>(stored->size()),
                    100.0 * static_cast<double>(boxBytes) / static_cast<double>(stored->size()));
        }
    }
    state.counters["words"] = static_cast<double>(words);
    state.counters["box_bytes"] = static_cast<double>(boxes);
    state.counters["image_bytes"] = static_cast<double>(images);
    state.counters["share_percent"] = 100.0 * static_cast<double>(boxes) / static_cast<double>(images);
    state.counters["worst_share_percent"] = worst;
    state.counters["bytes_per_word"] = words ? static_cast<double>(boxes) / static_cast<double>(words) : 0;
}

} // namespace

BENCHMARK(boxBytes)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char **argv)
{
    restartWithOpenMPThreadLimit(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
