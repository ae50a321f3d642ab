// `pellux capture` killed outright at random moments of a busy capture and started again each
// time: after a last clean run has healed the store, the recordings list, the database rows and the
// files agree, and every stored frame has its text. PELLUX_CRASH_KILLS sets the number of kills.
#include "persistence/RecordingJson.h"
#include "support/PelluxRun.h"
#include "support/TempHome.h"
#include "support/XvfbSession.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sqlite3.h>

using namespace pellux;
using namespace pellux::test;

namespace {

constexpr int kDefaultKills = 8;

int killCount()
{
    bool ok = false;
    const int kills = qEnvironmentVariableIntValue("PELLUX_CRASH_KILLS", &ok);
    return ok && kills > 0 ? kills : kDefaultKills;
}

// An xterm whose text keeps changing: a new numbered line every fraction of a second.
QStringList busyXterm(const QString &title, const QString &word, const QString &geometry)
{
    return { QStringLiteral("xterm"), QStringLiteral("-T"), title, QStringLiteral("-geometry"), geometry,
        QStringLiteral("-fa"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("-fs"), QStringLiteral("14"),
        QStringLiteral("-bg"), QStringLiteral("white"), QStringLiteral("-fg"), QStringLiteral("black"),
        QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
        QStringLiteral("i=0; while true; do i=$((i+1)); echo \"%1 entry $i\"; sleep 0.4; done").arg(word) };
}

struct Row {
    QString path;
    bool hasText = false;
    bool deltaWithoutReference = false;
};

// id -> row, read straight from the file.
QHash<QString, Row> readRows(const QString &databasePath)
{
    QHash<QString, Row> rows;
    sqlite3 *raw = nullptr;
    const int opened
        = sqlite3_open_v2(QFile::encodeName(databasePath).constData(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> db(raw, &sqlite3_close);
    if (opened != SQLITE_OK)
        return rows;
    sqlite3_stmt *raw_stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(),
            "SELECT r.id, r.file_path, EXISTS (SELECT 1 FROM ocr_text o WHERE o.recording_id = r.id), "
            "r.is_delta_frame = 1 AND r.reference_hash IS NULL FROM recordings r",
            -1, &raw_stmt, nullptr)
        != SQLITE_OK)
        return rows;
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> stmt(raw_stmt, &sqlite3_finalize);
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        const auto text = [&](int column) {
            return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt.get(), column)));
        };
        rows.insert(
            text(0), { text(1), sqlite3_column_int(stmt.get(), 2) != 0, sqlite3_column_int(stmt.get(), 3) != 0 });
    }
    return rows;
}

} // namespace

TEST(CrashRecovery, ListRowsAndFilesAgreeAndEveryFrameHasItsTextAfterRepeatedKills)
{
    TempHome home;
    XvfbSession session;
    ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString();
    ASSERT_TRUE(session.launch(
        busyXterm(QStringLiteral("ledger"), QStringLiteral("reconciliation"), QStringLiteral("60x10+0+0"))));
    ASSERT_TRUE(session.launch(
        busyXterm(QStringLiteral("notes"), QStringLiteral("observatory"), QStringLiteral("60x10+700+400"))));
    ASSERT_TRUE(session.waitForWindow(QStringLiteral("ledger")));
    ASSERT_TRUE(session.waitForWindow(QStringLiteral("notes")));

    const int kills = killCount();
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    SCOPED_TRACE(QStringLiteral("seed %1, %2 kills").arg(seed).arg(kills).toStdString());
    for (int i = 0; i < kills; ++i) {
        PelluxRun capture({ QStringLiteral("capture"), QStringLiteral("--verbose") }, session.display());
        // Busy once a frame is stored; then a kill at a random moment of what follows.
        ASSERT_TRUE(session.keepActiveUntil(
            [&] { return capture.readError().contains(QStringLiteral("Recording saved successfully")); }, 60'000))
            << "run " << i << ":\n"
            << capture.readError().toStdString() << capture.readOutput().toStdString();
        session.keepActiveUntil([] { return false; }, static_cast<int>(random.bounded(500, 3500)));
        ASSERT_TRUE(capture.isRunning()) << capture.err().toStdString();
        ::kill(static_cast<pid_t>(capture.pid()), SIGKILL);
        capture.finish(30'000);
    }

    PelluxRun last({ QStringLiteral("capture") }, session.display());
    ASSERT_TRUE(session.keepActiveUntil(
        [&] { return last.readError().contains(QStringLiteral("Store healing finished")); }, 240'000))
        << last.err().toStdString();
    last.terminate();
    ASSERT_EQ(last.finish(120'000), 0) << last.err().toStdString();

    QFile metadata(home.pelluxFolder() + QStringLiteral("/Recordings/metadata.json"));
    ASSERT_TRUE(metadata.open(QIODevice::ReadOnly));
    const std::optional<std::vector<Recording>> list = decodeRecordings(metadata.readAll());
    ASSERT_TRUE(list);
    const QHash<QString, Row> rows = readRows(home.pelluxFolder() + QStringLiteral("/pellux_v2.db"));
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(list->size(), static_cast<size_t>(rows.size()));

    QSet<QString> listedPaths;
    for (const Recording &r : *list) {
        listedPaths.insert(r.localPath());
        const auto row = rows.constFind(r.idText());
        ASSERT_NE(row, rows.constEnd()) << "no row for " << r.localPath().toStdString();
        EXPECT_EQ(row->path, r.localPath());
        EXPECT_TRUE(QFile::exists(r.localPath())) << r.localPath().toStdString();
    }
    int withoutText = 0;
    int deltasWithoutReference = 0;
    for (const Row &row : rows) {
        withoutText += row.hasText ? 0 : 1;
        // The row is written before the entry: a kill never takes a delta's reference.
        deltasWithoutReference += row.deltaWithoutReference ? 1 : 0;
    }
    EXPECT_EQ(withoutText, 0);
    EXPECT_EQ(deltasWithoutReference, 0);

    // A kill between writing a file and listing it leaves the file alone: reported, never deleted.
    int unnamed = 0;
    QDirIterator it(home.pelluxFolder() + QStringLiteral("/Screenshots"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if ((path.endsWith(QLatin1String(".webp")) || path.endsWith(QLatin1String(".jpg")))
            && !listedPaths.contains(path))
            ++unnamed;
    }
    EXPECT_LE(unnamed, kills);
}
