#include "RenderedText.h"

#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "ocr/TesseractEngine.h"
#include "runtime/Log.h"
#include "support/FakeClock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <mutex>

#include <unistd.h>

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kLines { QStringLiteral("Quarterly budget review meeting"),
    QStringLiteral("Invoices are due on Friday"), QStringLiteral("Remember the projector cable") };

// Runs processImage and waits for its one completion.
std::vector<OCRText> recognizeNow(
    OCRProcessor &processor, const QImage &image, std::optional<QUuid> recordingId = std::nullopt)
{
    std::promise<std::vector<OCRText>> result;
    processor.processImage(
        image, recordingId, [&result](std::vector<OCRText> fragments) { result.set_value(std::move(fragments)); });
    return result.get_future().get();
}

// Sends the log lines to a temporary file for the lifetime of the object.
class CapturedLog {
public:
    CapturedLog()
        : m_file(std::tmpfile())
    {
        log::setStream(m_file);
    }
    ~CapturedLog()
    {
        log::setStream(nullptr);
        std::fclose(m_file);
    }
    QString text() const
    {
        std::fflush(m_file);
        std::rewind(m_file);
        QByteArray bytes;
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, m_file))
            bytes.append(buffer, static_cast<qsizetype>(n));
        return QString::fromUtf8(bytes);
    }

private:
    std::FILE *m_file;
};

class OCRProcessorTest : public ::testing::Test {
protected:
    FakeClock clock;
    OCRProcessor processor { std::nullopt, clock };
};

} // namespace

TEST_F(OCRProcessorTest, RecognisesEveryLineOfRenderedTextAsOneFragmentInReadingOrder)
{
    const RenderedText rendered = renderText(kLines, QSize(900, 360));
    const std::vector<OCRText> fragments = recognizeNow(processor, rendered.image);

    ASSERT_EQ(fragments.size(), 3u);
    for (size_t i = 0; i < fragments.size(); ++i)
        EXPECT_EQ(fragments[i].text, kLines[static_cast<qsizetype>(i)]) << i;
    EXPECT_EQ(joinRecognizedText(fragments), kLines.join(QLatin1Char(' ')));
    for (const OCRText &fragment : fragments) {
        EXPECT_FALSE(fragment.id.isNull());
        EXPECT_EQ(fragment.timestamp, clock.now());
    }
}

// Text of each size is enlarged by its own factor before recognition; the bounds are in the
// original image all the same.
class OCRProcessorBounds : public OCRProcessorTest, public ::testing::WithParamInterface<int> { };

TEST_P(OCRProcessorBounds, AreImagePixelsWithTheOriginAtTheBottomLeft)
{
    const int pixelSize = GetParam();
    const QSize size(60 * pixelSize, 16 * pixelSize);
    const RenderedText rendered = renderText(kLines, size, Qt::black, Qt::white, pixelSize, QPoint(40, 2 * pixelSize));
    const std::vector<OCRText> fragments = recognizeNow(processor, rendered.image);
    ASSERT_EQ(fragments.size(), 3u) << joinRecognizedText(fragments).toStdString();

    const double tolerance = std::max(4.0, 0.3 * pixelSize);
    for (size_t i = 0; i < fragments.size(); ++i) {
        const QRect drawn = rendered.lineRects[i];
        // The drawn rectangle flipped to a bottom-left origin.
        const QRectF expected(drawn.x(), size.height() - (drawn.y() + drawn.height()), drawn.width(), drawn.height());
        const QRectF &bounds = fragments[i].bounds;
        EXPECT_NEAR(bounds.left(), expected.left(), tolerance) << i;
        EXPECT_NEAR(bounds.right(), expected.right(), tolerance) << i;
        EXPECT_NEAR(bounds.top(), expected.top(), tolerance) << i;
        EXPECT_NEAR(bounds.bottom(), expected.bottom(), tolerance) << i;
    }
    // The first line is drawn highest, so its y is the largest.
    EXPECT_GT(fragments[0].bounds.y(), fragments[2].bounds.y());
}

// 7 and 8 point small print (enlarged most), ordinary sizes, and large text left as it is.
INSTANTIATE_TEST_SUITE_P(TextSizes, OCRProcessorBounds, ::testing::Values(9, 11, 15, 22, 48));

TEST_F(OCRProcessorTest, ReadsTheShortWordsOfSmallTerminalPrint)
{
    // The head of a process table, as `top` shows it.
    const QStringList table { QStringLiteral(
                                  "top - 14:02:11 up 3 days,  4:17,  2 users,  load average: 0.42, 0.51, 0.48"),
        QStringLiteral("Tasks: 213 total,   1 running, 212 sleeping,   0 stopped,   0 zombie"),
        QStringLiteral("%Cpu(s):  3.1 us,  1.0 sy,  0.0 ni, 95.6 id,  0.2 wa,  0.0 hi,  0.1 si,  0.0 st"),
        QStringLiteral("MiB Mem :  15895.2 total,   6210.4 free,   4127.9 used,   5556.9 buff/cache"), QString(),
        QStringLiteral("    PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND"),
        QStringLiteral("   1423 www-data  20   0  215644  18232  10400 S   2.3   0.1   3:12.45 nginx"),
        QStringLiteral("   2210 postgres  20   0  322140  28756  25412 S   1.7   0.2   1:58.02 postgres"),
        QStringLiteral("    911 root      20   0 1895432  84120  51200 S   1.3   0.5   7:40.11 containerd"),
        QStringLiteral("   3307 alice     20   0 3412876 412300 118744 S   1.0   2.5  22:14.87 firefox"),
        QStringLiteral("   1001 redis     20   0   72412  11240   8132 S   0.7   0.1   0:47.30 redis-server"),
        QStringLiteral("   1518 www-data  20   0  280112  34588  21040 S   0.7   0.2   0:33.19 php-fpm"),
        QStringLiteral("    744 message+  20   0    9616   5480   4212 S   0.3   0.0   0:05.91 dbus-daemon"),
        QStringLiteral("      1 root      20   0  168532  13120   8448 S   0.0   0.1   0:09.77 systemd") };
    for (const double points : { 7.0, 8.0 }) {
        for (const bool dark : { false, true }) {
            const RenderedText rendered = dark
                ? renderTerminalText(table, points, QColor(0xd4, 0xd4, 0xd4), QColor(0x1e, 0x1e, 0x1e))
                : renderTerminalText(table, points);
            const QString text = joinRecognizedText(recognizeNow(processor, rendered.image));
            EXPECT_TRUE(containsAllWords(text,
                { QStringLiteral("PID"), QStringLiteral("USER"), QStringLiteral("CPU"), QStringLiteral("MEM"),
                    QStringLiteral("www-data"), QStringLiteral("postgres"), QStringLiteral("containerd"),
                    QStringLiteral("redis-server") }))
                << points << " pt, dark " << dark << ": " << text.toStdString();
        }
    }
}

TEST_F(OCRProcessorTest, ReadsLightTextOnDarkPanelsBesideDarkTextOnLight)
{
    QImage image(1200, 300, QImage::Format_RGB32);
    const RenderedText dark = renderText({ QStringLiteral("Terminal session finished") }, QSize(600, 300),
        QColor(0xd4, 0xd4, 0xd4), QColor(0x1e, 0x1e, 0x1e));
    const RenderedText light = renderText({ QStringLiteral("Spreadsheet totals updated") }, QSize(600, 300));
    QPainter painter(&image);
    painter.drawImage(0, 0, dark.image);
    painter.drawImage(600, 0, light.image);
    painter.end();

    const QString text = joinRecognizedText(recognizeNow(processor, image));
    EXPECT_TRUE(containsAllWords(text,
        { QStringLiteral("Terminal"), QStringLiteral("session"), QStringLiteral("finished"),
            QStringLiteral("Spreadsheet"), QStringLiteral("totals"), QStringLiteral("updated") }))
        << text.toStdString();
}

TEST_F(OCRProcessorTest, FragmentsCarryTheGivenRecordingIdOrOneMadeForTheCall)
{
    const QImage image = renderText(kLines, QSize(900, 360)).image;
    const QUuid given = QUuid::createUuid();
    for (const OCRText &fragment : recognizeNow(processor, image, given))
        EXPECT_EQ(fragment.recordingId, given);

    const std::vector<OCRText> unnamed = recognizeNow(processor, image);
    ASSERT_FALSE(unnamed.empty());
    EXPECT_FALSE(unnamed.front().recordingId.isNull());
    for (const OCRText &fragment : unnamed)
        EXPECT_EQ(fragment.recordingId, unnamed.front().recordingId);
}

TEST_F(OCRProcessorTest, CompletesEachRequestExactlyOnceOnTheQueueInSubmissionOrder)
{
    const QStringList words { QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"),
        QStringLiteral("Delta"), QStringLiteral("Echo") };
    std::mutex mutex;
    std::vector<QString> completed;
    std::vector<int> calls(static_cast<size_t>(words.size()), 0);
    std::atomic<bool> offQueue { false };
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QImage image = renderText({ words[i] + QStringLiteral(" station") }, QSize(500, 120)).image;
        processor.processImage(image, std::nullopt, [&, i](std::vector<OCRText> fragments) {
            if (!processor.textRecognitionQueue().isCurrent())
                offQueue = true;
            std::lock_guard lock(mutex);
            ++calls[static_cast<size_t>(i)];
            completed.push_back(joinRecognizedText(fragments));
        });
    }
    processor.textRecognitionQueue().drain();

    EXPECT_FALSE(offQueue);
    EXPECT_EQ(calls, std::vector<int>(static_cast<size_t>(words.size()), 1));
    ASSERT_EQ(completed.size(), static_cast<size_t>(words.size()));
    for (qsizetype i = 0; i < words.size(); ++i)
        EXPECT_TRUE(completed[static_cast<size_t>(i)].contains(words[i]))
            << completed[static_cast<size_t>(i)].toStdString();
}

TEST_F(OCRProcessorTest, ImagesWithoutTextGiveOneEmptyCompletion)
{
    // A null image is answered before processImage returns.
    int nullCalls = 0;
    processor.processImage(QImage(), std::nullopt, [&](std::vector<OCRText> fragments) {
        ++nullCalls;
        EXPECT_TRUE(fragments.empty());
    });
    EXPECT_EQ(nullCalls, 1);

    QImage onePixel(1, 1, QImage::Format_RGB32);
    onePixel.fill(Qt::black);
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QImage sliver(2000, 2, QImage::Format_ARGB32);
    sliver.fill(Qt::transparent);
    for (const QImage &image : { onePixel, blank, sliver }) {
        int calls = 0;
        processor.processImage(image, std::nullopt, [&](std::vector<OCRText> fragments) {
            ++calls;
            EXPECT_TRUE(fragments.empty());
        });
        processor.textRecognitionQueue().drain();
        EXPECT_EQ(calls, 1) << image.width() << "x" << image.height();
    }
}

TEST_F(OCRProcessorTest, VideoFramesCompleteWithTheIdTheCallMadeUpAndEmptyFramesNever)
{
    int emptyCalls = 0;
    processor.processSampleBuffer(QImage(), [&](std::vector<OCRText>, QUuid) { ++emptyCalls; });

    std::promise<std::pair<std::vector<OCRText>, QUuid>> result;
    processor.processSampleBuffer(
        renderText(kLines, QSize(900, 360)).image, [&](std::vector<OCRText> fragments, QUuid id) {
            result.set_value({ std::move(fragments), id });
        });
    const auto [fragments, id] = result.get_future().get();
    processor.textRecognitionQueue().drain();

    EXPECT_EQ(emptyCalls, 0);
    EXPECT_FALSE(id.isNull());
    ASSERT_EQ(fragments.size(), 3u);
    for (const OCRText &fragment : fragments)
        EXPECT_EQ(fragment.recordingId, id);
}

TEST(OCRProcessorWithoutModel, SaysSoOnceAndAnswersEveryRequestWithAnEmptyList)
{
    QTemporaryDir emptyFolder;
    ASSERT_TRUE(emptyFolder.isValid());
    const QImage image = renderText(kLines, QSize(900, 360)).image;

    const auto check = [&](OCRProcessor &processor) {
        CapturedLog log;
        EXPECT_TRUE(recognizeNow(processor, image).empty());
        EXPECT_TRUE(recognizeNow(processor, image).empty());
        EXPECT_FALSE(processor.isRecognizerReady());
        const QString lines = log.text();
        EXPECT_EQ(lines.count(QStringLiteral("Failed to perform OCR: ")), 1) << lines.toStdString();
        EXPECT_TRUE(lines.contains(emptyFolder.path())) << lines.toStdString();
    };

    {
        OCRProcessor given(emptyFolder.path());
        check(given);
    }
    {
        const QByteArray saved = qgetenv("TESSDATA_PREFIX");
        const bool wasSet = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
        qputenv("TESSDATA_PREFIX", emptyFolder.path().toLocal8Bit());
        OCRProcessor fromEnvironment;
        check(fromEnvironment);
        if (wasSet)
            qputenv("TESSDATA_PREFIX", saved);
        else
            qunsetenv("TESSDATA_PREFIX");
    }
}

TEST(OCRProcessorWithoutModel, AModelTesseractCannotLoadIsOurOneLineNotTesseractsOwn)
{
    // Readable, so only Tesseract's Init can find out that it is no model.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile model(QDir(folder.path()).filePath(QStringLiteral("eng.traineddata")));
    ASSERT_TRUE(model.open(QIODevice::WriteOnly));
    model.write("not a model");
    model.close();

    std::FILE *errors = std::tmpfile();
    std::fflush(stderr);
    const int savedStderr = dup(STDERR_FILENO);
    dup2(fileno(errors), STDERR_FILENO);
    {
        OCRProcessor processor(folder.path());
        CapturedLog log;
        EXPECT_TRUE(recognizeNow(processor, renderText(kLines, QSize(900, 360)).image).empty());
        EXPECT_EQ(log.text().count(QStringLiteral("Failed to perform OCR: ")), 1);
    }
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    std::rewind(errors);
    char buffer[4096] = {};
    const size_t read = std::fread(buffer, 1, sizeof buffer - 1, errors);
    std::fclose(errors);
    EXPECT_EQ(read, 0u) << buffer;
}

TEST(TesseractModelFolder, IsTheGivenFolderElseTessdataPrefixElseTheOneTheLibraryWasBuiltWith)
{
    const QByteArray saved = qgetenv("TESSDATA_PREFIX");
    const bool wasSet = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
    qunsetenv("TESSDATA_PREFIX");
    EXPECT_EQ(TesseractEngine::modelFolder(QStringLiteral("/given")), QStringLiteral("/given"));
    const std::optional<QString> builtIn = TesseractEngine::modelFolder(std::nullopt);
    ASSERT_TRUE(builtIn) << "libtesseract's own folder was not found at build time";
    // This machine's English model is where Tesseract looks by itself, so the check made before
    // Init agrees with Init.
    EXPECT_TRUE(QFileInfo(QDir(*builtIn).filePath(QStringLiteral("eng.traineddata"))).isReadable())
        << builtIn->toStdString();
    EXPECT_TRUE(TesseractEngine(TesseractEngine::Purpose::recognition).isReady());

    qputenv("TESSDATA_PREFIX", "/from/the/environment");
    EXPECT_EQ(TesseractEngine::modelFolder(std::nullopt), QStringLiteral("/from/the/environment"));
    EXPECT_EQ(TesseractEngine::modelFolder(QStringLiteral("/given")), QStringLiteral("/given"));
    if (wasSet)
        qputenv("TESSDATA_PREFIX", saved);
    else
        qunsetenv("TESSDATA_PREFIX");
}
