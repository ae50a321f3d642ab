#include "RenderedText.h"
#include "support/ImageEncoder.h"

using namespace pellux::test;

// `pellux ocr` prints the text of PNG, JPEG and WebP files as the capture service stores it, says
// which image has none, reports each file it cannot read on stderr and still reads the others, and
// says once when the model is missing. A FIFO without a writer would hang the command if it did not
// read through the store's reader, which refuses anything but a regular file.
TEST(OcrCommand, PrintsTheTextOfEachImageAndReportsWhatItCannotRead)
{
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    const QImage image = renderText({ "Weekly status report", "Shipping labels printed" }, { { 700, 220 } }).image;
    QImage blank(400, 300, QImage::Format_RGB32);
    blank.fill(Qt::white);
    ASSERT_TRUE(
        image.save(path("shot.png")) && image.save(path("shot.jpg"), "JPEG", 95) && blank.save(path("blank.png")));
    const QByteArray webp = imageEncoder().convertToLosslessWebP(image).value_or("");
    ASSERT_TRUE(writeAll(path("shot.webp"), webp) && writeAll(path("broken.webp"), webp.left(40)));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.png")).constData(), 0600), 0);

    const auto run
        = [](const QStringList &files, QProcessEnvironment environment = QProcessEnvironment::systemEnvironment()) {
              return runCommand(QStringList { QStringLiteral("ocr") } + files, environment, 300'000);
          };
    const CommandRun single = run({ path("shot.png") });
    EXPECT_EQ(single.exitCode, 0) << single.err.toStdString();
    EXPECT_EQ(single.out, QStringLiteral("Weekly status report\nShipping labels printed\n"));
    EXPECT_EQ(run({ path("blank.png") }).exitCode, 1);

    const CommandRun several = run({ path("shot.jpg"), path("missing.png"), path("broken.webp"), path("pipe.png"),
        path("blank.png"), path("shot.webp") });
    ASSERT_TRUE(several.finished);
    EXPECT_EQ(several.exitCode, 3);
    for (const char *file : { "shot.jpg", "shot.webp" })
        EXPECT_TRUE(several.out.contains("==> " + path(file) + " <==\nWeekly status report\nShipping labels printed"))
            << several.out.toStdString();
    for (const char *file : { "missing.png", "broken.webp", "pipe.png" })
        EXPECT_TRUE(several.err.contains("cannot read " + path(file))) << several.err.toStdString();
    EXPECT_TRUE(
        several.err.contains("not a regular file") && several.err.contains("no text found in " + path("blank.png")));

    QTemporaryDir emptyFolder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSDATA_PREFIX"), emptyFolder.path());
    const CommandRun noModel = run({ path("shot.png") }, environment);
    EXPECT_EQ(noModel.exitCode, 3);
    EXPECT_EQ(noModel.err.count(QLatin1Char('\n')), 1) << noModel.err.toStdString();
    EXPECT_TRUE(noModel.err.startsWith(QStringLiteral("Failed to perform OCR: "))) << noModel.err.toStdString();
    EXPECT_TRUE(noModel.out.isEmpty());
}
