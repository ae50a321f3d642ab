#include "runtime/PrivateFiles.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

using namespace pellux;

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Runs the body with the umask at 0, where a mode left to the umask would show as 0666/0777.
void withOpenUmask(const std::function<void()> &body)
{
    const mode_t saved = ::umask(0);
    body();
    ::umask(saved);
}

} // namespace

TEST(PrivateFiles, EveryWriteIsPrivateWhateverTheUmask)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("a/b/c"));
    withOpenUmask([&] {
        QString error;
        ASSERT_TRUE(makePrivatePath(folder, &error)) << error.toStdString();
        const QString fresh = folder + QStringLiteral("/new.bin");
        EXPECT_EQ(writeNewPrivateFile(fresh, "first", &error), WriteOutcome::written) << error.toStdString();
        EXPECT_EQ(writeNewPrivateFile(fresh, "second", &error), WriteOutcome::alreadyExists);
        const QString unsynced = folder + QStringLiteral("/history.bin");
        EXPECT_EQ(
            writeNewPrivateFile(unsynced, "made again later", &error, Durability::unsynced), WriteOutcome::written);
        const QString list = folder + QStringLiteral("/list.json");
        ASSERT_TRUE(writePrivateFileAtomically(list, "[1]", &error)) << error.toStdString();
        ASSERT_TRUE(writePrivateFileAtomically(list, "[1,2]", &error)) << error.toStdString();

        for (const QString &path : { dir.filePath(QStringLiteral("a")), dir.filePath(QStringLiteral("a/b")), folder })
            EXPECT_EQ(modeOf(path), 0700u) << path.toStdString();
        for (const QString &path : { fresh, unsynced, list })
            EXPECT_EQ(modeOf(path), 0600u) << path.toStdString();
        EXPECT_EQ(test::readAll(fresh), "first");
        EXPECT_EQ(test::readAll(list), "[1,2]");
        // No temporary is left beside the list.
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
    });
}

TEST(PrivateFiles, FailuresAreReportedWithAReasonAndLeaveWhatWasThere)
{
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("metadata.json"));
    ASSERT_TRUE(writePrivateFileAtomically(list, "[\"kept\"]"));
    const QString plainFile = dir.filePath(QStringLiteral("plain"));
    ASSERT_EQ(writeNewPrivateFile(plainFile, "x"), WriteOutcome::written);

    const struct {
        const char *name;
        std::function<bool(QString *)> attempt;
    } cases[] = {
        { "chmod of a missing file",
            [&](QString *error) { return makeFilePrivate(dir.filePath(QStringLiteral("missing")), error); } },
        { "folder below a file",
            [&](QString *error) { return makePrivatePath(plainFile + QStringLiteral("/sub"), error); } },
        { "folder that is a file", [&](QString *error) { return ensurePrivateFolder(plainFile, error); } },
        { "new file in a missing folder",
            [&](QString *error) {
                return writeNewPrivateFile(dir.filePath(QStringLiteral("gone/f")), "x", error) == WriteOutcome::written;
            } },
        { "replace in a missing folder",
            [&](QString *error) {
                return writePrivateFileAtomically(dir.filePath(QStringLiteral("gone/f")), "x", error);
            } },
        { "replace on a full disk",
            [&](QString *error) {
                test::FileSizeLimit full(4);
                return writePrivateFileAtomically(list, "[\"a longer list than fits\"]", error);
            } },
        { "new file on a full disk",
            [&](QString *error) {
                test::FileSizeLimit full(4);
                return writeNewPrivateFile(dir.filePath(QStringLiteral("big")), "more than four bytes", error)
                    == WriteOutcome::written;
            } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_FALSE(c.attempt(&error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(test::readAll(list), "[\"kept\"]");
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("big"))));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporaries
    EXPECT_EQ(syncFolder(dir.path()), 0);
    EXPECT_EQ(syncFolder(dir.filePath(QStringLiteral("gone"))), ENOENT);
}

// Replacing keeps the file's modification time and never brings back a file deleted meanwhile.
TEST(PrivateFiles, ReplacingAnExistingFileKeepsItsTimeAndNeverRecreatesOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shot.jpg"));
    ASSERT_EQ(writeNewPrivateFile(path, "old"), WriteOutcome::written);
    const struct timespec times[2] = { { 1'600'000'000, 0 }, { 1'600'000'000, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    EXPECT_EQ(replaceExistingPrivateFile(path, "new"), ReplaceOutcome::replaced);
    EXPECT_EQ(test::readAll(path), QByteArray("new"));
    EXPECT_EQ(QFileInfo(path).lastModified().toSecsSinceEpoch(), 1'600'000'000);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() == 1) << "no temporary left";
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(replaceExistingPrivateFile(path, "new"), ReplaceOutcome::vanished);
    EXPECT_FALSE(QFileInfo::exists(path));
}
