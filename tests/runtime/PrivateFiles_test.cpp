#include "runtime/PrivateFiles.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

#include <cerrno>

using namespace pellux;
using namespace pellux::test;

namespace {

int filesIn(const QString &folder) { return int(QDir(folder).entryList(QDir::Files | QDir::Hidden).size()); }

} // namespace

TEST(PrivateFiles, EveryWriteIsPrivateWhateverTheUmaskAFailureHasAReasonAndAReplacementKeepsTheFilesTime)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("a/b/c");
    // At umask 0 a mode left to the umask would show as 0666/0777.
    const mode_t savedMask = ::umask(0);
    QString error;
    EXPECT_TRUE(makePrivatePath(folder, &error)) << error.toStdString();
    const QString fresh = folder + "/new.bin", unsynced = folder + "/history.bin", list = folder + "/list.json";
    EXPECT_EQ(writeNewPrivateFile(fresh, "first", &error), WriteOutcome::written) << error.toStdString();
    EXPECT_EQ(writeNewPrivateFile(fresh, "second", &error), WriteOutcome::alreadyExists);
    EXPECT_EQ(writeNewPrivateFile(unsynced, "made again later", &error, Durability::unsynced), WriteOutcome::written);
    EXPECT_TRUE(writePrivateFileAtomically(list, "[1]", &error)) << error.toStdString();
    EXPECT_TRUE(writePrivateFileAtomically(list, "[1,2]", &error)) << error.toStdString();
    ::umask(savedMask);

    for (const QString &path : { dir.filePath("a"), dir.filePath("a/b"), folder })
        EXPECT_EQ(modeOf(path), 0700) << path.toStdString();
    for (const QString &path : { fresh, unsynced, list })
        EXPECT_EQ(modeOf(path), 0600) << path.toStdString();
    EXPECT_EQ(std::pair(readAll(fresh), readAll(list)), std::pair(QByteArray("first"), QByteArray("[1,2]")));
    EXPECT_EQ(filesIn(folder), 3); // no temporary left beside the list

    QTemporaryDir failing;
    const QString stored = failing.filePath("metadata.json"), plainFile = failing.filePath("plain");
    const QString big = failing.filePath("big"), gone = failing.filePath("gone/f");
    ASSERT_TRUE(writePrivateFileAtomically(stored, "[\"kept\"]"));
    ASSERT_EQ(writeNewPrivateFile(plainFile, "x"), WriteOutcome::written);
    const auto isNew = [](WriteOutcome outcome) { return outcome == WriteOutcome::written; };
    const struct {
        const char *name;
        std::function<bool(QString *)> attempt;
    } cases[] = {
        { "chmod of a missing file", [&](QString *e) { return makeFilePrivate(failing.filePath("missing"), e); } },
        { "folder below a file", [&](QString *e) { return makePrivatePath(plainFile + "/sub", e); } },
        { "folder that is a file", [&](QString *e) { return ensurePrivateFolder(plainFile, e); } },
        { "new file in a missing folder", [&](QString *e) { return isNew(writeNewPrivateFile(gone, "x", e)); } },
        { "replace in a missing folder", [&](QString *e) { return writePrivateFileAtomically(gone, "x", e); } },
        { "replace on a full disk",
            [&](QString *e) {
                test::FileSizeLimit full(4);
                return writePrivateFileAtomically(stored, "[\"a longer list than fits\"]", e);
            } },
        { "new file on a full disk",
            [&](QString *e) {
                test::FileSizeLimit full(4);
                return isNew(writeNewPrivateFile(big, "more than four bytes", e));
            } },
    };
    for (const auto &c : cases) {
        QString error;
        EXPECT_FALSE(c.attempt(&error)) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
    }
    EXPECT_TRUE(readAll(stored) == "[\"kept\"]" && !QFile::exists(big));
    EXPECT_EQ(filesIn(failing.path()), 2); // no temporaries
    EXPECT_EQ(std::pair(syncFolder(failing.path()), syncFolder(failing.filePath("gone"))), std::pair(0, ENOENT));

    // Replacing keeps the file's modification time and never brings back a file deleted meanwhile.
    const QString path = failing.filePath("shot.jpg");
    ASSERT_EQ(writeNewPrivateFile(path, "old"), WriteOutcome::written);
    const struct timespec times[2] = { { 1'600'000'000, 0 }, { 1'600'000'000, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    EXPECT_EQ(replaceExistingPrivateFile(path, "new"), ReplaceOutcome::replaced);
    EXPECT_EQ(std::tuple(readAll(path), QFileInfo(path).lastModified().toSecsSinceEpoch(), modeOf(path)),
        std::tuple(QByteArray("new"), 1'600'000'000, 0600));
    EXPECT_EQ(filesIn(failing.path()), 3); // no temporary left
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(replaceExistingPrivateFile(path, "new") == ReplaceOutcome::vanished && !QFileInfo::exists(path));
}
