#include "ocr/WebPFile.h"

#include "imaging/ImageFileReader.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <vector>

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

TEST(ReadImageFile, ReadsWebPPngAndJpeg)
{
    QTemporaryDir dir;
    write(dir.filePath(QStringLiteral("frame.webp")), test::encodeWebP(pattern()));
    ASSERT_TRUE(pattern().save(dir.filePath(QStringLiteral("a.png"))));
    ASSERT_TRUE(pattern().save(dir.filePath(QStringLiteral("a.jpg")), "JPEG", 90));
    for (const char *name : { "frame.webp", "a.png" }) {
        QString error;
        const QImage image = readImageFile(dir.filePath(QString::fromLatin1(name)), &error);
        EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), pattern()) << name << error.toStdString();
    }
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
    EXPECT_TRUE(decodeImage(QByteArray("RIFF\0\0\0\0WEBPVP8 ", 16)).isNull());
}

namespace {

struct RegularFileCase {
    const char *name;
    std::function<QString(const QTemporaryDir &)> make; // the path to read
    qint64 maxBytes;
    std::optional<QByteArray> expected;
    const char *reasonPart; // part of the reason when refused
};

} // namespace

TEST(ReadRegularFile, ReadsRegularFilesUpToTheLimitAndRefusesEverythingElseAtOnce)
{
    const auto file = [](const char *name, QByteArray bytes) {
        return [name, bytes](const QTemporaryDir &dir) {
            const QString path = dir.filePath(QString::fromLatin1(name));
            write(path, bytes);
            return path;
        };
    };
    const std::vector<RegularFileCase> cases {
        { "fits exactly", file("ten", "0123456789"), 10, QByteArray("0123456789"), "" },
        { "empty file", file("empty", QByteArray()), 10, QByteArray(), "" },
        { "one byte over", file("eleven", "0123456789a"), 10, std::nullopt, "too large" },
        { "missing", [](const QTemporaryDir &dir) { return dir.filePath(QStringLiteral("gone")); }, 10, std::nullopt,
            "no such file" },
        { "folder", [](const QTemporaryDir &dir) { return dir.path(); }, 10, std::nullopt, "folder" },
        { "fifo without a writer",
            [](const QTemporaryDir &dir) {
                const QString path = dir.filePath(QStringLiteral("pipe"));
                EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
                return path;
            },
            kMaxImageFileBytes, std::nullopt, "not a regular file" },
        { "endless device", [](const QTemporaryDir &) { return QStringLiteral("/dev/zero"); }, kMaxImageFileBytes,
            std::nullopt, "not a regular file" },
        { "sparse file past the image limit",
            [](const QTemporaryDir &dir) {
                const QString path = dir.filePath(QStringLiteral("huge.png"));
                QFile huge(path);
                EXPECT_TRUE(huge.open(QIODevice::WriteOnly));
                EXPECT_TRUE(huge.resize(kMaxImageFileBytes + 1));
                return path;
            },
            kMaxImageFileBytes, std::nullopt, "too large" },
    };
    for (const RegularFileCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = c.make(dir);
        QString error;
        const std::optional<QByteArray> bytes = readRegularFile(path, c.maxBytes, &error);
        EXPECT_EQ(bytes, c.expected);
        if (!c.expected) {
            EXPECT_TRUE(error.contains(QLatin1String(c.reasonPart))) << error.toStdString();
        }
    }
    // A link is followed in a path the user names, never in the store.
    QTemporaryDir dir;
    write(dir.filePath(QStringLiteral("target")), "bytes");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("target")), dir.filePath(QStringLiteral("link"))));
    EXPECT_EQ(readRegularFile(dir.filePath(QStringLiteral("link")), 10), QByteArray("bytes"));
    QString linkError;
    EXPECT_EQ(readStoredFile(dir.filePath(QStringLiteral("link")), &linkError), std::nullopt);
    EXPECT_TRUE(linkError.contains(QLatin1String("symbolic link"))) << linkError.toStdString();
    // readImageFile applies the same rules.
    QString error;
    EXPECT_TRUE(readImageFile(QStringLiteral("/dev/zero"), &error).isNull());
    EXPECT_TRUE(error.contains(QLatin1String("not a regular file"))) << error.toStdString();
}
