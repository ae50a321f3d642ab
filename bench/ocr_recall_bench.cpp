// Text-recognition quality and cost on the committed corpus (bench/data/ocr: screenshots of real
// xterm and Qt windows with their exact text; scripts/make-ocr-corpus.sh rebuilds it).
//
// For each way of preparing images it reports word recall (the share of the distinct words of
// three or more letters of each image's text that the recognised text contains, case-insensitive,
// summed over the corpus) for whole screens, single windows, small print (7 and 8 point terminal
// fonts) and all frames, the recall of the worst frame, the milliseconds per frame (processor
// time, so the figures hold on a busy machine), and the cost as a ratio to plain recognition
// measured first in the same run. At the end a table compares every frame under the fixed 1.5x
// enlargement and the chosen settings (enlargement by measured text height), with the measured
// line height and the scale used. PELLUX_BENCH_DETAIL=1 also prints the recall and time of every
// image as it goes. Each variant reads the corpus once.
#include "ocr/OpenMPThreadLimit.h"
#include "ocr/RecognitionImage.h"
#include "ocr/TesseractEngine.h"
#include "ocr/TextHeight.h"
#include "ocr/TextLineDetector.h"
#include "runtime/ProcessorTime.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>

using namespace pellux;

namespace {

struct CorpusImage {
    QString name;
    QImage image;
    QSet<QString> words;
    bool wholeScreen = false;
    bool smallPrint = false;
};

// Recall and processor time of one frame under one variant.
struct FrameResult {
    double recall = 0;
    double ms = 0;
};
// Per variant name, per frame name.
std::map<std::string, std::map<QString, FrameResult>> g_frameResults;

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

const std::vector<CorpusImage> &corpus()
{
    static const std::vector<CorpusImage> images = [] {
        std::vector<CorpusImage> loaded;
        const QDir dir(QStringLiteral(PELLUX_SOURCE_DIR "/bench/data/ocr"));
        for (const QString &file : dir.entryList({ QStringLiteral("*.png") }, QDir::Files, QDir::Name)) {
            QFile truth(dir.filePath(QString(file).replace(QStringLiteral(".png"), QStringLiteral(".txt"))));
            if (!truth.open(QIODevice::ReadOnly))
                continue;
            static const QRegularExpression smallFont(QStringLiteral("^xterm-[a-z]+-[a-z]+[78]-"));
            loaded.push_back({ file, QImage(dir.filePath(file)), wordsOf(QString::fromUtf8(truth.readAll())),
                file.contains(QStringLiteral("-screen-")), smallFont.match(file).hasMatch() });
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
    int smallFound = 0;
    int smallTotal = 0;
    double worst = 1.0;
    auto &frameResults = g_frameResults[label];
    for (auto _ : state) {
        found[0] = found[1] = total[0] = total[1] = 0;
        seconds[0] = seconds[1] = 0;
        frames[0] = frames[1] = 0;
        smallFound = smallTotal = 0;
        worst = 1.0;
        for (const CorpusImage &sample : images) {
            const double start = processProcessorSeconds();
            const auto fragments = recognizeImage(engine(), sample.image, tuning);
            const double elapsed = processProcessorSeconds() - start;
            seconds[sample.wholeScreen] += elapsed;
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
            if (sample.smallPrint) {
                smallFound += hits;
                smallTotal += static_cast<int>(sample.words.size());
            }
            const double frameRecall = static_cast<double>(hits) / std::max<qsizetype>(1, sample.words.size());
            worst = std::min(worst, frameRecall);
            frameResults[sample.name] = { frameRecall, 1000.0 * elapsed };
            if (detail)
                std::fprintf(stderr, "  %-28s %-45s %5.1f%% %7.0f ms\n", label, qPrintable(sample.name),
                    100.0 * hits / std::max<qsizetype>(1, sample.words.size()), 1000.0 * elapsed);
        }
    }
    const double msPerFrame = 1000.0 * (seconds[0] + seconds[1]) / static_cast<double>(images.size());
    if (isBaseline)
        g_plainMsPerFrame = msPerFrame;
    state.counters["recall_screen_%"] = 100.0 * found[1] / std::max(1, total[1]);
    state.counters["recall_window_%"] = 100.0 * found[0] / std::max(1, total[0]);
    state.counters["recall_small_%"] = 100.0 * smallFound / std::max(1, smallTotal);
    state.counters["recall_all_%"] = 100.0 * (found[0] + found[1]) / std::max(1, total[0] + total[1]);
    state.counters["recall_worst_%"] = 100.0 * worst;
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

// The chosen settings with another height rule.
RecognitionTuning byHeight(double targetLineHeight_px, double minimumScale, double maximumScale)
{
    RecognitionTuning tuning = accurateTuning();
    tuning.byTextHeight = TextHeightScaling {
        .targetLineHeight_px = targetLineHeight_px, .minimumScale = minimumScale, .maximumScale = maximumScale
    };
    return tuning;
}

// The chosen settings as they were before enlargement followed the text height.
RecognitionTuning fixedScale(double scale)
{
    RecognitionTuning tuning = accurateTuning();
    tuning.byTextHeight.reset();
    tuning.scale = scale;
    return tuning;
}

// Every frame under two variants side by side, with the text height measured on it.
void printComparison(const char *before, const char *after)
{
    const auto &first = g_frameResults[before];
    const auto &second = g_frameResults[after];
    if (first.empty() || second.empty())
        return;
    const RecognitionTuning chosen = accurateTuning();
    std::printf("\n%-44s %7s %6s %10s %10s %9s %9s\n", "frame", "line_px", "scale",
        (std::string(before).substr(0, 10)).c_str(), (std::string(after).substr(0, 10)).c_str(), "ms_before",
        "ms_after");
    for (const CorpusImage &sample : corpus()) {
        const auto a = first.find(sample.name);
        const auto b = second.find(sample.name);
        if (a == first.end() || b == second.end())
            continue;
        const PreparedImage prepared = prepareForRecognition(sample.image, chosen);
        std::printf("%-44s %7.1f %6.2f %9.1f%% %9.1f%% %9.0f %9.0f\n", qPrintable(sample.name),
            prepared.textLineHeight_px.value_or(0), prepared.scale, 100.0 * a->second.recall, 100.0 * b->second.recall,
            a->second.ms, b->second.ms);
    }
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

// The text height measurement that chooses the enlargement, on a whole screen's grey image.
void textHeight(benchmark::State &state)
{
    const CorpusImage *sample = nullptr;
    for (const CorpusImage &image : corpus()) {
        if (image.wholeScreen && !sample)
            sample = &image;
    }
    if (!sample) {
        state.SkipWithError("no corpus in bench/data/ocr");
        return;
    }
    const QImage grey = sample->image.convertToFormat(QImage::Format_Grayscale8);
    double height = 0;
    for (auto _ : state)
        height = measureTextLineHeight(grey).value_or(0);
    state.counters["line_px"] = height;
}

} // namespace

BENCHMARK(textHeight)->Unit(benchmark::kMillisecond);
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
        { "fixed_scale1.5", fixedScale(1.5) },
        { "chosen", accurateTuning() },
        { "height18", byHeight(18, 1.0, kMaximumTextScale) },
        { "height25", byHeight(25, 1.0, kMaximumTextScale) },
        { "height30", byHeight(30, 1.0, kMaximumTextScale) },
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
    printComparison("fixed_scale1.5", "chosen");
    return 0;
}
