// The store's own files: the recordings list, the screenshot names and the session mark.
#include "imaging/ScreenshotFileName.h"
#include "persistence/RecordingJson.h"
#include "storage/RecordingsFile.h"
#include "storage/StorageTestSupport.h"
#include "storage/StoreSession.h"

namespace pellux {
namespace {

using test::readAll;
using test::writeAll;

Recording entry(int n)
{
    Recording r;
    r.id = QUuid::createUuid();
    r.timestamp = fromSecondsSince1970(1'700'000'000.0 + n);
    r.filePath = QUrl::fromLocalFile(QStringLiteral("/home/u/Documents/Pellux/Screenshots/%1.webp").arg(n));
    r.thumbnailPath = r.filePath;
    r.appName = QStringLiteral("App \"%1\" {x}").arg(n); // quotes and braces inside strings
    return r;
}

std::vector<Recording> readEverything(recordings_file::Reader &reader)
{
    EXPECT_TRUE(reader.open());
    std::vector<Recording> all;
    while (!reader.atEnd())
        for (Recording &r : reader.next(3))
            all.push_back(std::move(r));
    return all;
}

class RecordingsFileTest : public ::testing::Test {
protected:
    test::TempHome home;
    QString path = home.path() + QStringLiteral("/metadata.json");
};

// Appending keeps the file one JSON array that any reader takes whole: on a missing file, on the
// compact newest-first form earlier versions wrote, and on an empty list.
TEST_F(RecordingsFileTest, AppendedEntriesKeepTheFileOneArray)
{
    const Recording a = entry(1), b = entry(2), c = entry(3);
    const struct {
        const char *name;
        QByteArray before; // empty: no file
        std::vector<Recording> listed;
    } cases[] = {
        { "missing", {}, {} },
        { "empty", "[]", {} },
        { "compact", encodeRecordings({ b, a }), { b, a } },
        { "written here", "[\n" + encodeRecording(a) + "\n]\n  \n", { a } },
    };
    for (const auto &c3 : cases) {
        SCOPED_TRACE(c3.name);
        QFile::remove(path);
        if (!c3.before.isEmpty()) {
            ASSERT_TRUE(writeAll(path, c3.before));
        }
        const recordings_file::AppendResult first = recordings_file::append(path, { c });
        ASSERT_TRUE(first.ok) << first.error.toStdString();
        const recordings_file::AppendResult second = recordings_file::append(path, { entry(4), entry(5) });
        ASSERT_TRUE(second.ok);
        EXPECT_EQ(QFileInfo(path).size(), c3.before.size() + first.bytesAdded + second.bytesAdded);
        EXPECT_EQ(recordings_file::endingOf(path), recordings_file::Ending::closed);

        const std::optional<std::vector<Recording>> decoded = decodeRecordings(readAll(path));
        ASSERT_TRUE(decoded);
        recordings_file::Reader reader(path);
        const std::vector<Recording> streamed = readEverything(reader);
        EXPECT_TRUE(reader.wellFormed());
        ASSERT_EQ(streamed.size(), c3.listed.size() + 3);
        EXPECT_EQ(encodeRecordings(streamed), encodeRecordings(*decoded));
        EXPECT_EQ(streamed[c3.listed.size()].id, c.id);
        EXPECT_EQ(test::modeOf(path), 0600);
    }
}

// How a file ends decides what a start does with it; the reader tells a cut from damage.
TEST_F(RecordingsFileTest, EndingsAndDamageAreToldApart)
{
    const QByteArray one = encodeRecording(entry(1));
    const QByteArray whole = "[\n" + one + ",\n" + encodeRecording(entry(2)) + "\n]\n";
    const struct {
        const char *name;
        QByteArray bytes;
        recordings_file::Ending ending;
        size_t readable;
        bool wellFormed;
    } cases[] = {
        { "whole", whole, recordings_file::Ending::closed, 2, true },
        { "empty list", "[ ]", recordings_file::Ending::closed, 0, true },
        { "cut in an entry", whole.left(whole.size() - 20), recordings_file::Ending::cutShort, 1, false },
        { "cut after an entry", "[\n" + one + ",", recordings_file::Ending::cutShort, 1, false },
        { "empty file", "", recordings_file::Ending::cutShort, 0, false },
        { "an object", "{\"a\": 1}", recordings_file::Ending::cutShort, 0, false },
        { "not a recording", "[" + one + ",{\"id\": 3}]", recordings_file::Ending::closed, 1, false },
        { "nested close", "[[1]]", recordings_file::Ending::unreadable, 0, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeAll(path, c.bytes));
        EXPECT_EQ(recordings_file::endingOf(path), c.ending);
        recordings_file::Reader reader(path);
        EXPECT_EQ(readEverything(reader).size(), c.readable);
        EXPECT_EQ(reader.wellFormed(), c.wellFormed);
        if (c.ending != recordings_file::Ending::closed) {
            EXPECT_FALSE(recordings_file::append(path, { entry(9) }).ok);
        }
    }
    QFile::remove(path);
    EXPECT_EQ(recordings_file::endingOf(path), recordings_file::Ending::missing);
}

// A rewrite keeps what its edit keeps, leaves a damaged file alone unless told to drop what it
// cannot read, and streams: entries spanning the reader's chunks come back whole.
TEST_F(RecordingsFileTest, RewriteKeepsWhatTheEditKeepsAndRefusesDamageUnlessTold)
{
    std::vector<Recording> many;
    for (int i = 0; i < 12'000; ++i)
        many.push_back(entry(i));
    ASSERT_TRUE(recordings_file::writeAll(path, many));
    ASSERT_GT(QFileInfo(path).size(), 2 << 20); // more than one read chunk
    const recordings_file::RewriteResult odd
        = recordings_file::rewrite(path, [](Recording &r) { return int(secondsSince1970(r.timestamp)) % 2 == 0; });
    ASSERT_TRUE(odd.ok);
    EXPECT_EQ(odd.removed, 6000);
    EXPECT_EQ(odd.kept, 6000);
    recordings_file::Reader reader(path);
    const std::vector<Recording> left = readEverything(reader);
    ASSERT_EQ(left.size(), 6000u);
    EXPECT_EQ(left[1].id, many[2].id);

    const QByteArray damaged = "[" + encodeRecording(many[0]) + ",{\"id\": 3}]";
    ASSERT_TRUE(writeAll(path, damaged));
    const recordings_file::RewriteResult refused = recordings_file::rewrite(path, [](Recording &) { return true; });
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.damaged);
    EXPECT_EQ(readAll(path), damaged);
    const recordings_file::RewriteResult dropped
        = recordings_file::rewrite(path, [](Recording &) { return true; }, { .dropUnreadable = true });
    EXPECT_TRUE(dropped.ok);
    EXPECT_EQ(QJsonDocument::fromJson(readAll(path)).array().size(), 1);
}

// (Names and folders as the store gives them: the store's tests.) The capture time read back from
// a name, the extension from the WebP header within the first twelve bytes, and names that are
// safe and fit the file system's limit.
TEST(ScreenshotFileName, CaptureTimeExtensionAndSafeNamesThatFitTheFileSystemLimit)
{
    EXPECT_EQ(
        captureTimeFromFileName(QStringLiteral("20240305_140709_Kate_2.jpg")), test::localTime(2024, 3, 5, 14, 7, 9));
    EXPECT_EQ(captureTimeFromFileName(QStringLiteral("notes.jpg")), std::nullopt);
    const std::pair<QByteArray, const char *> extensions[] = { { test::webpBytes(), "webp" },
        { test::jpegBytes(), "jpg" }, { "DLTA", "jpg" }, { "RIFF00000WEBP", "jpg" }, { {}, "jpg" } };
    for (const auto &[bytes, extension] : extensions)
        EXPECT_EQ(screenshotExtension(bytes), QLatin1String(extension)) << bytes.toStdString();

    const TimePoint t = test::localTime(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(fileNameAppPart(QStringLiteral("a b/c") + QChar(u'\0') + QStringLiteral("d")), QStringLiteral("a_b_c_d"));
    EXPECT_EQ(fileNameAppPart(QStringLiteral("../..")), QStringLiteral(".._..")); // no separator left
    EXPECT_EQ(fileNameAppPart(QStringLiteral("Cl\ts\nx<b>\u202e Caf\u00e9-2.1 \U0001F600")),
        QStringLiteral("Cl_s_x_b___Caf\u00e9-2.1__"));

    // Two-byte and four-byte characters: the cut never splits one.
    for (const QString &unit : { QStringLiteral("é"), QStringLiteral("\U00020000"), QStringLiteral("x") }) {
        const QString longName = unit.repeated(400);
        for (int attempt : { 1, 2, 123 }) {
            const QString name = screenshotFileName(t, longName, QStringLiteral("webp"), attempt);
            const QByteArray bytes = name.toUtf8();
            EXPECT_LE(bytes.size(), kMaxFileNameBytes) << name.toStdString();
            EXPECT_GT(bytes.size(), kMaxFileNameBytes - 4) << name.toStdString();
            EXPECT_EQ(QString::fromUtf8(bytes), name); // valid UTF-8
            EXPECT_TRUE(name.startsWith(QStringLiteral("20240305_140709_") + unit));
            EXPECT_TRUE(name.endsWith(attempt > 1 ? QStringLiteral("_%1.webp").arg(attempt) : QStringLiteral(".webp")));
        }
    }
}

// Healing is owed from a start that finds the store in use, or without a mark, until a session
// ends in order after healing; a session that leaves frames half-done owes it again.
TEST(StoreSession, HealingIsOwedUntilASessionEndsInOrderAfterHealing)
{
    using LastEnd = StoreSession::LastEnd;
    const struct {
        const char *name;
        const char *before; // nullptr: no mark
        LastEnd last;
        bool leftInOrder;
        bool healed;
        LastEnd next;
    } cases[] = {
        { "first start, healed", nullptr, LastEnd::unknown, true, true, LastEnd::inOrder },
        { "first start, healing stopped", nullptr, LastEnd::unknown, true, false, LastEnd::interrupted },
        { "after a clean end", "in order\n", LastEnd::inOrder, true, false, LastEnd::inOrder },
        { "frames left without text", "in order\n", LastEnd::inOrder, false, false, LastEnd::interrupted },
        { "after a crash, healed", "in use\n", LastEnd::interrupted, true, true, LastEnd::inOrder },
        { "after a crash, not healed", "in use\n", LastEnd::interrupted, true, false, LastEnd::interrupted },
        { "a mark of garbage", "???", LastEnd::interrupted, true, true, LastEnd::inOrder },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::TempHome home;
        const QString folder = home.path() + QStringLiteral("/Recordings");
        ASSERT_TRUE(QDir().mkpath(folder));
        StoreSession session(folder);
        if (c.before) {
            ASSERT_TRUE(test::writeAll(session.markPath(), c.before));
        }
        EXPECT_EQ(session.begin(), c.last);
        EXPECT_EQ(test::modeOf(session.markPath()), 0600);
        session.end(c.leftInOrder, c.healed);
        EXPECT_EQ(StoreSession(folder).begin(), c.next);
    }
}

} // namespace
} // namespace pellux
