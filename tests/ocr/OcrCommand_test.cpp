#include "RenderedText.h"
#include "WebPFile.h"

using namespace pellux::test;

namespace {

CommandRun runOcr(const QStringList &arguments,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(), int timeoutMs = 300'000)
{
    return runCommand(QStringList { QStringLiteral("ocr") } + arguments, environment, timeoutMs);
}

class OcrCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        image = renderText({ "Weekly status report", "Shipping labels printed" }, { { 700, 220 } }).image;
    }
    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    QImage image;
};

} // namespace

TEST_F(OcrCommand, PrintsTheStoredTextOfPngJpegAndWebPFiles)
{
    ASSERT_TRUE(image.save(path("shot.png")));
    ASSERT_TRUE(image.save(path("shot.jpg"), "JPEG", 95));
    ASSERT_TRUE(writeAll(path("shot.webp"), encodeWebP(image)));

    const CommandRun single = runOcr({ path("shot.png") });
    EXPECT_EQ(single.exitCode, 0) << single.err.toStdString();
    // The fragments joined with one space, as the capture service stores them.
    EXPECT_EQ(single.out, QStringLiteral("Weekly status report\nShipping labels printed\n"));

    const CommandRun several = runOcr({ path("shot.jpg"), path("shot.webp") });
    EXPECT_EQ(several.exitCode, 0) << several.err.toStdString();
    EXPECT_TRUE(several.out.contains(QStringLiteral("==> ") + path("shot.jpg") + QStringLiteral(" <==")));
    EXPECT_TRUE(several.out.contains(QStringLiteral("==> ") + path("shot.webp") + QStringLiteral(" <==")));
    EXPECT_EQ(several.out.count(QStringLiteral("Weekly status report\nShipping labels printed")), 2)
        << several.out.toStdString();
}

TEST_F(OcrCommand, SaysWhenAnImageHasNoTextAndWhenTheModelIsMissing)
{
    QImage blank(400, 300, QImage::Format_RGB32);
    blank.fill(Qt::white);
    ASSERT_TRUE(blank.save(path("blank.png")));
    const CommandRun empty = runOcr({ path("blank.png") });
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(empty.err.contains(QStringLiteral("no text found"))) << empty.err.toStdString();

    ASSERT_TRUE(image.save(path("shot.png")));
    QTemporaryDir emptyFolder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSDATA_PREFIX"), emptyFolder.path());
    const CommandRun noModel = runOcr({ path("shot.png") }, environment);
    EXPECT_EQ(noModel.exitCode, 3);
    EXPECT_EQ(noModel.err.count(QLatin1Char('\n')), 1) << noModel.err.toStdString();
    EXPECT_TRUE(noModel.err.startsWith(QStringLiteral("Failed to perform OCR: "))) << noModel.err.toStdString();
    EXPECT_TRUE(noModel.out.isEmpty());
}

// Each is reported on stderr and the others are still read. A FIFO without a writer would hang the
// command if it did not read through the store's reader, which refuses anything but a regular file
// (every refusal of that reader is its own test's).
TEST_F(OcrCommand, ReportsUnreadableFilesAndRefusesPipes)
{
    ASSERT_TRUE(writeAll(path("broken.webp"), encodeWebP(image).left(40)));
    const QString fifo = path("pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(image.save(path("good.png")));
    const std::pair<QString, const char *> cases[] = {
        { path("missing.png"), "" },
        { path("broken.webp"), "" },
        { fifo, "not a regular file" },
    };
    for (const auto &[unreadable, reason] : cases) {
        SCOPED_TRACE(unreadable.toStdString());
        const CommandRun run
            = runOcr({ unreadable, path("good.png") }, QProcessEnvironment::systemEnvironment(), 30'000);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_TRUE(run.err.contains("cannot read " + unreadable)) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(reason))) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("Weekly status report"))) << run.out.toStdString();
    }
}
