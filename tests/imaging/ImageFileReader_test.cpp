#include "ocr/WebPFile.h"

#include "imaging/ImageFileReader.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pellux;

namespace {

QImage pattern()
{
    QImage image(37, 21, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor(x * 6, y * 12, (x + y) * 4));
    return image;
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST(ReadImageFile, DecodesWebPWithLibwebpPixelForPixel)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame.webp"));
    write(path, test::encodeWebP(pattern()));

    QString error;
    const QImage image = readImageFile(path, &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), pattern());
}

TEST(ReadImageFile, ReadsPngAndJpegThroughQt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(pattern().save(dir.filePath(QStringLiteral("a.png"))));
    ASSERT_TRUE(pattern().save(dir.filePath(QStringLiteral("a.jpg")), "JPEG", 90));
    EXPECT_EQ(readImageFile(dir.filePath(QStringLiteral("a.png"))).convertToFormat(QImage::Format_RGB32), pattern());
    EXPECT_EQ(readImageFile(dir.filePath(QStringLiteral("a.jpg"))).size(), pattern().size());
}

TEST(ReadImageFile, GivesANullImageAndAReasonForBadFiles)
{
    QTemporaryDir dir;
    const QByteArray webp = test::encodeWebP(pattern());
    write(dir.filePath(QStringLiteral("cut.webp")), webp.left(webp.size() / 2));
    write(dir.filePath(QStringLiteral("empty.png")), QByteArray());
    write(dir.filePath(QStringLiteral("text.jpg")), "hello");

    for (const char *name : { "missing.png", "cut.webp", "empty.png", "text.jpg" }) {
        QString error;
        EXPECT_TRUE(readImageFile(dir.filePath(QString::fromLatin1(name)), &error).isNull()) << name;
        EXPECT_FALSE(error.isEmpty()) << name;
    }
    EXPECT_TRUE(decodeWebP(QByteArray("RIFF\0\0\0\0WEBPVP8 ", 16)).isNull());
}
