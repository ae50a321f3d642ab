// `pellux capture` killed outright at random moments of a busy capture and started again each
// time: after a last clean run has healed the store, the recordings list, the database rows and the
// files agree, and every stored frame has its text. PELLUX_CRASH_KILLS sets the number of kills.
#include "persistence/DatabaseTestSupport.h"
#include "persistence/RecordingJson.h"
#include "support/PelluxRun.h"

using namespace pellux;
using namespace pellux::test;

namespace {

// An xterm whose text keeps changing: a new numbered line every fraction of a second.
QStringList busyXterm(const QString &title, const QString &word, const QString &geometry)
{
    return { "xterm", "-T", title, "-geometry", geometry, "-fa", "DejaVu Sans Mono", "-fs", "14", "-bg", "white", "-fg",
        "black", "-e", "sh", "-c",
        QStringLiteral("i=0; while true; do i=$((i+1)); echo \"%1 entry $i\"; sleep 0.4; done").arg(word) };
}

} // namespace

TEST(CrashRecovery, ListRowsAndFilesAgreeAndEveryFrameHasItsTextAfterRepeatedKills)
{
    TempHome home;
    XvfbSession session;
    ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString();
    ASSERT_TRUE(session.launch(busyXterm("ledger", "reconciliation", "60x10+0+0")));
    ASSERT_TRUE(session.launch(busyXterm("notes", "observatory", "60x10+700+400")));
    ASSERT_TRUE(session.waitForWindow("ledger"));
    ASSERT_TRUE(session.waitForWindow("notes"));

    const int asked = qEnvironmentVariableIntValue("PELLUX_CRASH_KILLS"), kills = asked > 0 ? asked : 8;
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    SCOPED_TRACE(QStringLiteral("seed %1, %2 kills").arg(seed).arg(kills).toStdString());
    for (int i = 0; i < kills; ++i) {
        PelluxRun capture({ "capture", "--verbose" }, session.display());
        // Busy once a frame is stored; then a kill at a random moment of what follows.
        ASSERT_TRUE(session.keepActiveUntil(
            [&] { return capture.readError().contains("Recording saved successfully"); }, 60'000))
            << "run " << i << ":\n"
            << capture.readError().toStdString() << capture.readOutput().toStdString();
        session.keepActiveUntil([] { return false; }, static_cast<int>(random.bounded(500, 3500)));
        ASSERT_TRUE(capture.isRunning()) << capture.err().toStdString();
        ::kill(static_cast<pid_t>(capture.pid()), SIGKILL);
        capture.finish(30'000);
    }

    PelluxRun last({ "capture" }, session.display());
    ASSERT_TRUE(session.keepActiveUntil([&] { return last.readError().contains("Store healing finished"); }, 240'000))
        << last.err().toStdString();
    last.terminate();
    ASSERT_EQ(last.finish(120'000), 0) << last.err().toStdString();

    const std::optional<std::vector<Recording>> list
        = decodeRecordings(readAll(home.pelluxFolder() + "/Recordings/metadata.json"));
    ASSERT_TRUE(list);
    RawDatabase db(home.pelluxFolder() + "/pellux_v2.db");
    QStringList stored = db.strings("SELECT id || ' ' || file_path FROM recordings"), listed;
    ASSERT_FALSE(stored.isEmpty());
    for (const Recording &r : *list) {
        listed << r.idText() + ' ' + r.localPath();
        EXPECT_TRUE(QFile::exists(r.localPath())) << r.localPath().toStdString();
    }
    stored.sort();
    listed.sort();
    EXPECT_EQ(listed, stored);
    // Every row has its text; the row is written before the entry, so a kill never takes a delta's
    // reference.
    EXPECT_EQ(db.strings("SELECT file_path FROM recordings r WHERE NOT EXISTS (SELECT 1 FROM ocr_text o WHERE "
                         "o.recording_id = r.id) OR (is_delta_frame = 1 AND reference_hash IS NULL)"),
        QStringList());
}
