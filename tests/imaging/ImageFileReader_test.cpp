#include "ocr/WebPFile.h"

#include "imaging/ImageFileReader.h"

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

struct Folder : QTemporaryDir {
    QString file(const char *name, const QByteArray &bytes) const
    {
        const QString path = filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    }
};

} // namespace

TEST(ReadImageFile, ReadsWebPPngAndJpegAndGivesANullImageAndAReasonForBadFiles)
{
    Folder dir;
    const QByteArray webp = test::encodeWebP(pattern());
    ASSERT_TRUE(pattern().save(dir.filePath(QStringLiteral("a.png"))));
    ASSERT_TRUE(pattern().save(dir.filePath(QStringLiteral("a.jpg")), "JPEG", 90));
    for (const QString &path : { dir.file("frame.webp", webp), dir.filePath(QStringLiteral("a.png")) }) {
        QString error;
        EXPECT_EQ(readImageFile(path, &error).convertToFormat(QImage::Format_RGB32), pattern()) << error.toStdString();
    }
    EXPECT_EQ(readImageFile(dir.filePath(QStringLiteral("a.jpg"))).size(), pattern().size());

    for (const QString &path :
        { dir.filePath(QStringLiteral("missing.png")), dir.file("cut.webp", webp.left(webp.size() / 2)),
            dir.file("empty.png", QByteArray()), dir.file("text.jpg", "hello"), QStringLiteral("/dev/zero") }) {
        QString error;
        EXPECT_TRUE(readImageFile(path, &error).isNull()) << path.toStdString();
        EXPECT_FALSE(error.isEmpty()) << path.toStdString();
    }
    EXPECT_TRUE(decodeImage(QByteArray("RIFF\0\0\0\0WEBPVP8 ", 16)).isNull());
}

TEST(ReadRegularFile, ReadsRegularFilesUpToTheLimitAndRefusesEverythingElseAtOnce)
{
    Folder dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString sparse = dir.file("huge.png", QByteArray());
    ASSERT_TRUE(QFile::resize(sparse, kMaxImageFileBytes + 1));
    const struct {
        const char *name;
        QString path;
        qint64 maxBytes;
        std::optional<QByteArray> expected;
        const char *reasonPart; // part of the reason when refused
    } cases[] = {
        { "fits exactly", dir.file("ten", "0123456789"), 10, QByteArray("0123456789"), "" },
        { "empty file", dir.file("empty", QByteArray()), 10, QByteArray(), "" },
        { "one byte over", dir.file("eleven", "0123456789a"), 10, std::nullopt, "too large" },
        { "missing", dir.filePath(QStringLiteral("gone")), 10, std::nullopt, "no such file" },
        { "folder", dir.path(), 10, std::nullopt, "folder" },
        { "fifo without a writer", fifo, kMaxImageFileBytes, std::nullopt, "not a regular file" },
        { "endless device", QStringLiteral("/dev/zero"), kMaxImageFileBytes, std::nullopt, "not a regular file" },
        { "sparse file past the image limit", sparse, kMaxImageFileBytes, std::nullopt, "too large" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_EQ(readRegularFile(c.path, c.maxBytes, &error), c.expected);
        EXPECT_TRUE(error.contains(QLatin1String(c.reasonPart))) << error.toStdString();
    }
    // A link is followed in a path the user names, never in the store.
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(dir.file("target", "bytes"), link));
    EXPECT_EQ(readRegularFile(link, 10), QByteArray("bytes"));
    QString linkError;
    EXPECT_EQ(readStoredFile(link, &linkError), std::nullopt);
    EXPECT_TRUE(linkError.contains(QLatin1String("symbolic link"))) << linkError.toStdString();
}
