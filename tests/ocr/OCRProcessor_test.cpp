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

TEST_F(OCRProcessorTest, BoundsAreImagePixelsWithTheOriginAtTheBottomLeft)
{
    const QSize size(900, 600);
    const RenderedText rendered = renderText(kLines, size);
    const std::vector<OCRText> fragments = recognizeNow(processor, rendered.image);
    ASSERT_EQ(fragments.size(), 3u);

    for (size_t i = 0; i < fragments.size(); ++i) {
        const QRect drawn = rendered.lineRects[i];
        // The drawn rectangle flipped to a bottom-left origin.
        const QRectF expected(drawn.x(), size.height() - (drawn.y() + drawn.height()), drawn.width(), drawn.height());
        const QRectF &bounds = fragments[i].bounds;
        EXPECT_NEAR(bounds.left(), expected.left(), 6) << i;
        EXPECT_NEAR(bounds.right(), expected.right(), 6) << i;
        EXPECT_NEAR(bounds.top(), expected.top(), 6) << i;
        EXPECT_NEAR(bounds.bottom(), expected.bottom(), 6) << i;
    }
    // The first line is drawn highest, so its y is the largest.
    EXPECT_GT(fragments[0].bounds.y(), fragments[2].bounds.y());
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
