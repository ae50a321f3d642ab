#include "RenderedText.h"

#include "ocr/OCRProcessor.h"
#include "ocr/RecognitionMemory.h"
#include "ocr/RecognizedText.h"
#include "support/FakeClock.h"
#include "support/FakeTextRecognizer.h"

#include <future>

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kLines { QStringLiteral("Quarterly budget review meeting"),
    QStringLiteral("Invoices are due on Friday"), QStringLiteral("Remember the projector cable") };

// Starts a request with a completion that fulfils a promise, and waits for it.
template <typename Start> Recognition waitFor(Start start)
{
    std::promise<Recognition> result;
    start([&result](Recognition r) { result.set_value(std::move(r)); });
    return result.get_future().get();
}

Recognition recognizeNow(OCRProcessor &processor, const QImage &image, std::optional<QUuid> recordingId = std::nullopt)
{
    return waitFor([&](auto done) { processor.processImage(image, recordingId, done); });
}

std::vector<OCRText> fragmentsOf(OCRProcessor &processor, const QImage &image, std::optional<QUuid> id = std::nullopt)
{
    Recognition r = recognizeNow(processor, image, id);
    EXPECT_TRUE(r) << (r ? "" : r.failure().reason.toStdString());
    return r ? std::move(r).value() : std::vector<OCRText> {};
}

class OCRProcessorTest : public ::testing::Test {
protected:
    FakeClock clock;
    OCRProcessor processor { std::nullopt, clock };
};

} // namespace

// Whether `text` contains every word, ignoring case.
static bool containsAllWords(const QString &text, const QStringList &words)
{
    return std::all_of(
        words.begin(), words.end(), [&](const QString &w) { return text.contains(w, Qt::CaseInsensitive); });
}

// Text of each size is enlarged by its own factor before recognition (7 and 8 point small print
// most, large text not at all); the bounds are in the original image all the same.
class OCRProcessorBounds : public OCRProcessorTest, public ::testing::WithParamInterface<int> { };

TEST_P(OCRProcessorBounds, AreImagePixelsWithTheOriginAtTheBottomLeft)
{
    const int pixelSize = GetParam();
    const QSize size(60 * pixelSize, 16 * pixelSize);
    const RenderedText rendered = renderText(kLines, { size, pixelSize });
    // One fragment a line, each carrying the recording id given, or one made for the call.
    const std::optional<QUuid> given = pixelSize % 2 ? std::optional(QUuid::createUuid()) : std::nullopt;
    const std::vector<OCRText> fragments = fragmentsOf(processor, rendered.image, given);
    ASSERT_EQ(fragments.size(), 3u) << joinRecognizedText(fragments).toStdString();
    EXPECT_EQ(fragments[0].recordingId, given.value_or(fragments[2].recordingId));
    const double tolerance = std::max(4.0, 0.3 * pixelSize);
    for (size_t i = 0; i < fragments.size(); ++i) {
        const QRect drawn = rendered.lineRects[i];
        const QRectF &bounds = fragments[i].bounds;
        EXPECT_TRUE(
            !fragments[i].recordingId.isNull() && !fragments[i].id.isNull() && fragments[i].timestamp == clock.now());
        EXPECT_NEAR(bounds.left(), drawn.left(), tolerance) << i;
        EXPECT_NEAR(bounds.width(), drawn.width(), 2 * tolerance) << i;
        EXPECT_NEAR(bounds.top(), size.height() - (drawn.y() + drawn.height()), tolerance) << i;
        EXPECT_NEAR(bounds.height(), drawn.height(), 2 * tolerance) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(TextSizes, OCRProcessorBounds, ::testing::Values(9, 11, 15, 22, 48));

TEST_F(OCRProcessorTest, ReadsSmallPrintAnswersImagesWithoutTextEmptyCompletesInOrderAndFailsOnEveryPath)
{
    // The head of a process table, as `top` shows it, at 7 and 8 points, light and dark.
    const QStringList table
        = QString::fromUtf8(readAll(QStringLiteral(PELLUX_SOURCE_DIR "/bench/data/ocr/xterm-window-dejavu7-light.txt")))
              .split(QLatin1Char('\n'))
              .mid(0, 14);
    const QStringList words { "PID", "USER", "CPU", "MEM", "www-data", "postgres", "containerd", "redis-server" };
    for (const double points : { 7.0, 8.0 }) {
        for (const bool dark : { false, true }) {
            const RenderedText rendered = renderText(table,
                { {}, pixelsForPoints(points), dark ? kLightInk : Qt::black, dark ? kDarkPaper : Qt::white,
                    "DejaVu Sans Mono" });
            const QString text = joinRecognizedText(fragmentsOf(processor, rendered.image));
            EXPECT_TRUE(containsAllWords(text, words)) << points << " pt, dark " << dark << ": " << text.toStdString();
        }
    }
    // A dark panel beside a light one: both read.
    QImage image(1200, 300, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.drawImage(
        0, 0, renderText({ "Terminal session finished" }, { { 600, 300 }, 22, kLightInk, kDarkPaper }).image);
    painter.drawImage(600, 0, renderText({ "Spreadsheet totals updated" }, { { 600, 300 } }).image);
    painter.end();
    const QString text = joinRecognizedText(fragmentsOf(processor, image));
    EXPECT_TRUE(containsAllWords(text, { "Terminal", "finished", "Spreadsheet", "updated" })) << text.toStdString();

    int nullCalls = 0;
    processor.processImage(QImage(), std::nullopt, [&](Recognition r) {
        ++nullCalls;
        EXPECT_TRUE(r && r.value().empty());
    });
    EXPECT_EQ(nullCalls, 1); // before processImage returned
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QImage sliver(2000, 2, QImage::Format_ARGB32);
    sliver.fill(Qt::transparent);
    for (const QImage &image : { blank.copy(0, 0, 1, 1), blank, sliver })
        EXPECT_TRUE(fragmentsOf(processor, image).empty()) << image.width() << "x" << image.height();

    // The queue and the failure paths, with a recogniser that can be told to fail.
    auto owned = std::make_unique<FakeTextRecognizer>();
    FakeTextRecognizer &fake = *owned;
    OCRProcessor processor(std::move(owned));
    const QImage rendered = renderText(kLines, { QSize(900, 360) }).image;

    std::mutex mutex;
    std::vector<int> completed;
    bool offQueue = false;
    for (int i = 0; i < 5; ++i) {
        processor.processImage(rendered, std::nullopt, [&, i](Recognition) {
            std::lock_guard lock(mutex);
            offQueue = offQueue || !processor.textRecognitionQueue().isCurrent();
            completed.push_back(i);
        });
    }
    processor.textRecognitionQueue().drain();
    EXPECT_FALSE(offQueue);
    // Recognition never competes with the user's own work.
    processor.textRecognitionQueue().sync([] { EXPECT_EQ(currentThreadPriority(), ThreadPriority::idle); });
    EXPECT_EQ(completed, (std::vector<int> { 0, 1, 2, 3, 4 }));

    // Whole, changed-line and video-frame recognition all answer the failure, and a failed frame
    // leaves nothing remembered for the window's next frame.
    for (const auto kind : { RecognitionFailure::Kind::unavailable, RecognitionFailure::Kind::image }) {
        fake.failNext({ kind, QStringLiteral("engine said no") });
        EXPECT_FALSE(recognizeNow(processor, rendered));
        auto memory = std::make_shared<RecognitionMemory>();
        const Recognition changed = waitFor([&](auto done) {
            processor.processChangedImage(rendered, QUuid::createUuid(), std::nullopt, memory, done);
        });
        ASSERT_FALSE(changed);
        EXPECT_EQ(
            std::pair(changed.failure().reason, changed.failure().kind), std::pair(QString("engine said no"), kind));
        EXPECT_FALSE(memory->fragments());
        EXPECT_FALSE(waitFor([&](auto done) {
            processor.processSampleBuffer(rendered, [done](Recognition r, QUuid) { done(std::move(r)); });
        }));
        EXPECT_EQ(processor.isRecognizerReady(), kind != RecognitionFailure::Kind::unavailable);
        EXPECT_EQ(processor.wholeImageRecognitions(), 0);
    }
    fake.recover();
    EXPECT_TRUE(recognizeNow(processor, rendered));
    EXPECT_TRUE(processor.isRecognizerReady());

    // Without a usable English model every request fails with the reason, which is said once, in our
    // own words: Tesseract's lines about a file it cannot load go nowhere.
    QTemporaryDir emptyFolder;
    QTemporaryDir badModelFolder;
    // Readable, so only Tesseract's Init can find out.
    ASSERT_TRUE(writeAll(badModelFolder.path() + "/eng.traineddata", "not a model"));

    const struct {
        const char *name;
        std::optional<QString> given;
        std::optional<QString> environment;
        QString named;
    } cases[] = {
        { "given folder, before TESSDATA_PREFIX", emptyFolder.path(), badModelFolder.path(), emptyFolder.path() },
        { "TESSDATA_PREFIX", std::nullopt, emptyFolder.path(), emptyFolder.path() },
        { "unloadable model", badModelFolder.path(), std::nullopt, badModelFolder.path() },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ModelFolderVariable variable(c.environment);
        // Tesseract writes to the process's standard error: a file in its place for the while.
        std::FILE *errors = std::tmpfile();
        std::fflush(stderr);
        const int savedStderr = dup(STDERR_FILENO);
        dup2(fileno(errors), STDERR_FILENO);
        {
            LogCapture log(LogCapture::Verbosity::quiet);
            OCRProcessor processor(c.given);
            for (int i = 0; i < 2; ++i) {
                const Recognition r = recognizeNow(processor, rendered);
                ASSERT_FALSE(r);
                EXPECT_EQ(r.failure().kind, RecognitionFailure::Kind::unavailable);
                EXPECT_TRUE(r.failure().reason.contains(c.named)) << r.failure().reason.toStdString();
            }
            EXPECT_FALSE(processor.isRecognizerReady());
            EXPECT_EQ(log.text().count("Failed to perform OCR: "), 1) << log.text().toStdString();
        }
        std::fflush(stderr);
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
        EXPECT_EQ(std::ftell(errors), 0);
        std::fclose(errors);
    }
}

// Light text on a dark or coloured panel beside a light pane, as chat sidebars, status bars,
// badges and buttons draw it, is read whole and as changed lines (the panel's names appear in
// the next frame); dark text on a bright coloured highlight still reads.
TEST_F(OCRProcessorTest, ReadsTextOnDarkAndColouredPanelsWholeAndAsChangedLines)
{
    const struct {
        const char *name;
        QColor panel, ink;
        QStringList words;
    } cases[] = {
        { "chat sidebar", QColor(0x3f, 0x0e, 0x40), QColor(0xcf, 0xc3, 0xcf),
            { "general", "design-review", "incident-4471" } },
        { "amber badge", QColor(0xf5, 0x9e, 0x0b), Qt::white, { "Verified", "Pending", "Friday" } },
        { "green button", QColor(0x16, 0xa3, 0x4a), Qt::white, { "Invite", "members", "Approve" } },
        { "blue status bar", QColor(0x00, 0x7a, 0xcc), Qt::white, { "Spaces", "Python", "Encoding" } },
        { "yellow highlight", QColor(0xff, 0xff, 0x00), Qt::black, { "Highlighted", "results", "Matches" } },
    };
    const QStringList pane { "Quarterly budget review", "Invoices are due today", "Remember the cable" };
    for (const auto &c : cases) {
        // The panel's names drawn in the second frame only, at the pane's line positions.
        const auto frame = [&](const QStringList &names) {
            QImage image(1000, 300, QImage::Format_RGB32);
            QPainter painter(&image);
            painter.drawImage(0, 0, renderText(names, { { 300, 300 }, 14, c.ink, c.panel }).image);
            painter.drawImage(300, 0, renderText(pane, { { 700, 300 }, 14 }).image);
            return image;
        };
        const QImage before = frame({}), after = frame(c.words);
        const QString whole = joinRecognizedText(fragmentsOf(processor, after));
        EXPECT_TRUE(containsAllWords(whole, c.words + pane)) << c.name << ": " << whole.toStdString();

        auto first = std::make_shared<RecognitionMemory>(), second = std::make_shared<RecognitionMemory>();
        const int changedBefore = processor.changedLineRecognitions();
        waitFor([&](auto done) { processor.processChangedImage(before, QUuid::createUuid(), {}, first, done); });
        const Recognition changed = waitFor([&](auto done) {
            processor.processChangedImage(after, QUuid::createUuid(), PreviousFrame { before, first }, second, done);
        });
        ASSERT_TRUE(changed) << c.name;
        EXPECT_EQ(processor.changedLineRecognitions(), changedBefore + 1) << c.name;
        const QString pieced = joinRecognizedText(changed.value());
        EXPECT_TRUE(containsAllWords(pieced, c.words + pane)) << c.name << ": " << pieced.toStdString();
    }
}
