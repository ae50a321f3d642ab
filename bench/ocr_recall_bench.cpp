// Text-recognition quality and cost on the committed corpus (bench/data/ocr: screenshots of real
// xterm and Qt windows with their exact text; scripts/make-ocr-corpus.sh rebuilds it).
//
// For each way of preparing images it reports word recall (the share of the distinct words of
// three or more letters of each image's text that the recognised text contains, case-insensitive,
// summed over the corpus) for whole screens, single windows and all frames, the milliseconds per
// frame (processor time, so the figures hold on a busy machine), and the cost as a ratio to plain recognition measured
// first in the same run. PELLUX_BENCH_DETAIL=1 also prints the recall of every image. Each variant reads the corpus
// once.
#include "ocr/OpenMPThreadLimit.h"
#include "ocr/RecognitionImage.h"
#include "ocr/TesseractEngine.h"
#include "ocr/TextLineDetector.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

using namespace pellux;

namespace {

struct CorpusImage {
    QString name;
    QImage image;
    QSet<QString> words;
    bool wholeScreen = false;
};

QSet<QString> wordsOf(const QString &text)
{
    static const QRegularExpression nonLetters(QStringLiteral("[^a-z]+"));
    QSet<QString> words;
    for (const QString &word : text.toLower().split(nonLetters, Qt::SkipEmptyParts)) {
        if (word.size() >= 3)
            words.insert(word);
    }
    return words;
}

double processSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

const std::vector<CorpusImage> &corpus()
{
    static const std::vector<CorpusImage> images = [] {
        std::vector<CorpusImage> loaded;
        const QDir dir(QStringLiteral(PELLUX_SOURCE_DIR "/bench/data/ocr"));
        for (const QString &file : dir.entryList({ QStringLiteral("*.png") }, QDir::Files, QDir::Name)) {
            QFile truth(dir.filePath(QString(file).replace(QStringLiteral(".png"), QStringLiteral(".txt"))));
            if (!truth.open(QIODevice::ReadOnly))
                continue;
            loaded.push_back({ file, QImage(dir.filePath(file)), wordsOf(QString::fromUtf8(truth.readAll())),
                file.contains(QStringLiteral("-screen-")) });
        }
        return loaded;
    }();
    return images;
}

TesseractEngine &engine()
{
    static TesseractEngine instance(TesseractEngine::Purpose::recognition);
    return instance;
}

double g_plainMsPerFrame = 0;

void recall(benchmark::State &state, const char *label, RecognitionTuning tuning, bool isBaseline)
{
    const auto &images = corpus();
    if (images.empty() || !engine().isReady()) {
        state.SkipWithError("no corpus in bench/data/ocr or no English model");
        return;
    }
    const bool detail = qEnvironmentVariable("PELLUX_BENCH_DETAIL") == QLatin1String("1");
    int found[2] = { 0, 0 };
    int total[2] = { 0, 0 };
    double seconds[2] = { 0, 0 };
    int frames[2] = { 0, 0 };
    for (auto _ : state) {
        found[0] = found[1] = total[0] = total[1] = 0;
        seconds[0] = seconds[1] = 0;
        frames[0] = frames[1] = 0;
        for (const CorpusImage &sample : images) {
            const double start = processSeconds();
            const auto fragments = recognizeImage(engine(), sample.image, tuning);
            seconds[sample.wholeScreen] += processSeconds() - start;
            ++frames[sample.wholeScreen];
            QString text;
            for (const RecognizedFragment &fragment : fragments)
                text += fragment.text + QLatin1Char(' ');
            const QSet<QString> recognised = wordsOf(text);
            int hits = 0;
            for (const QString &word : sample.words)
                hits += recognised.contains(word) ? 1 : 0;
            found[sample.wholeScreen] += hits;
            total[sample.wholeScreen] += static_cast<int>(sample.words.size());
            if (detail)
                std::fprintf(stderr, "  %-28s %-45s %5.1f%%\n", label, qPrintable(sample.name),
                    100.0 * hits / std::max<qsizetype>(1, sample.words.size()));
        }
    }
    const double msPerFrame = 1000.0 * (seconds[0] + seconds[1]) / static_cast<double>(images.size());
    if (isBaseline)
        g_plainMsPerFrame = msPerFrame;
    state.counters["recall_screen_%"] = 100.0 * found[1] / std::max(1, total[1]);
    state.counters["recall_window_%"] = 100.0 * found[0] / std::max(1, total[0]);
    state.counters["recall_all_%"] = 100.0 * (found[0] + found[1]) / std::max(1, total[0] + total[1]);
    state.counters["ms_per_frame"] = msPerFrame;
    state.counters["ms_screen"] = 1000.0 * seconds[1] / std::max(1, frames[1]);
    state.counters["ms_window"] = 1000.0 * seconds[0] / std::max(1, frames[0]);
    if (g_plainMsPerFrame > 0)
        state.counters["cost_vs_plain"] = msPerFrame / g_plainMsPerFrame;
}

RecognitionTuning tuned(double scale, Inversion inversion, PageLayout layout, bool inversionPass)
{
    return { .scale = scale, .inversion = inversion, .layout = layout, .tesseractInversionPass = inversionPass };
}

// Layout analysis alone, on a whole screen and on a window, against recognising the same image.
void lineDetection(benchmark::State &state, bool wholeScreen)
{
    const CorpusImage *sample = nullptr;
    for (const CorpusImage &image : corpus()) {
        if (image.wholeScreen == wholeScreen && image.name.startsWith(QStringLiteral("xterm")))
            sample = &image;
    }
    if (!sample) {
        state.SkipWithError("no corpus in bench/data/ocr");
        return;
    }
    std::size_t lines = 0;
    for (auto _ : state)
        lines = detectTextLines(sample->image).size();
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["pixels"] = static_cast<double>(sample->image.width()) * sample->image.height();
}

} // namespace

BENCHMARK_CAPTURE(lineDetection, screen, true)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(lineDetection, window, false)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv)
{
    restartWithOpenMPThreadLimit(argv);
    struct Variant {
        const char *name;
        RecognitionTuning tuning;
    };
    // Plain recognition is the baseline and runs first.
    const Variant variants[] = {
        { "plain", fastTuning() },
        { "chosen", accurateTuning() },
        { "whole_invert", tuned(1.0, Inversion::wholeImage, PageLayout::automatic, true) },
        { "region_invert", tuned(1.0, Inversion::darkRegions, PageLayout::automatic, true) },
        { "region_invert_no_tesseract_retry", tuned(1.0, Inversion::darkRegions, PageLayout::automatic, false) },
        { "region_invert_scale2", tuned(2.0, Inversion::darkRegions, PageLayout::automatic, true) },
        { "plain_single_block", tuned(1.0, Inversion::none, PageLayout::singleBlock, true) },
        { "plain_scale2", tuned(2.0, Inversion::none, PageLayout::automatic, true) },
    };
    for (const Variant &variant : variants) {
        benchmark::RegisterBenchmark((std::string("recall/") + variant.name).c_str(), recall, variant.name,
            variant.tuning, variant.name == variants[0].name)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
