#include "support/TestFiles.h"

#include "imaging/ImageFileReader.h"

using namespace pellux;

namespace {

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
