// Deleting by age or by application keeps every screenshot that stays readable, when its delta
// chain ran through those that went.
#include "imaging/DeltaFrameReader.h"
#include "imaging/StoredScreenshotReader.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/ListedRecordings.h"
#include "support/LogCapture.h"
#include "support/SampleHistory.h"
#include "support/TestFiles.h"

#include <QPainter>

#include <qcorotask.h>

#include <algorithm>

namespace pellux::test {
namespace {

QImage frameOf(SimpleDatabaseManager &db, const QString &path)
{
    StoredScreenshotReader reader(StoredScreenshotReader::databaseLookup(db), 0);
    return reader.read(path, QSize()).convertToFormat(QImage::Format_RGB32);
}

// The editor's chain crosses the cutoff: its full frame and first deltas are three days old, two
// more deltas (and, after the deletion, a third) are today's.
TEST(BulkDeletionChains, TheNewerDeltasOfAWindowStayReadableAfterADeletionByAge)
{
    for (const bool damaged : { false, true }) {
        SCOPED_TRACE(damaged ? "a kept delta cannot be rebuilt" : "whole chains");
        CapturePipeline pipeline(std::make_unique<FakeTextRecognizer>());
        pipeline.makeService();
        captureSampleHistory(pipeline);
        SimpleDatabaseManager &db = *pipeline.database;
        const auto editorFrames = [&] {
            std::vector<Recording> editor = search(db, QStringLiteral("report.txt"));
            std::sort(editor.begin(), editor.end(), [](auto &a, auto &b) { return a.timestamp < b.timestamp; });
            return editor;
        };
        const auto edit = [&](int step) {
            QImage edited = frameOf(db, editorFrames().back().localPath());
            QPainter(&edited).fillRect(QRect(0, 16 + (8 + step) * 34, 900, 34), QColor(20 * step, 120, 40));
            pipeline.backend.setFrame(1, edited);
            pipeline.clock.advance(300);
            CapturePipeline::run(pipeline.service->captureTestScreenshot());
            pipeline.settle();
            return edited;
        };
        pipeline.clock.advance(3 * 86400);
        std::vector<QImage> kept { edit(1), edit(2) };
        const std::vector<Recording> before = editorFrames();
        ASSERT_EQ(before.size(), 6u);
        for (const size_t i : { 4, 5 })
            ASSERT_TRUE(DeltaFrameReader::isDeltaContainer(readAll(before[i].localPath()))) << i;
        ASSERT_TRUE(frameOf(db, before[5].localPath()) == kept[1]);
        if (damaged) {
            ASSERT_TRUE(writeAll(before[4].localPath(), "DLTA damaged"));
        }

        LogCapture log(LogCapture::Verbosity::quiet);
        const DeletionReport report = QCoro::waitFor(pipeline.storage->deleteOldRecordings(1));
        const std::vector<Recording> after = editorFrames();
        if (damaged) {
            // Nothing goes: the old frames are still what the kept ones would need.
            EXPECT_FALSE(report.ok);
            EXPECT_FALSE(report.failure.isEmpty());
            EXPECT_EQ(after.size(), 6u);
            EXPECT_EQ(listedRecordings(*pipeline.storage).size(), 7u);
            EXPECT_TRUE(log.text().contains(QStringLiteral("nothing was deleted"))) << log.text().toStdString();
            continue;
        }
        ASSERT_TRUE(report.ok) << report.failure.toStdString();
        EXPECT_EQ(report.count, 5); // four editor frames and the terminal's
        ASSERT_EQ(after.size(), 2u);
        for (size_t i = 0; i < kept.size(); ++i)
            EXPECT_TRUE(frameOf(db, after[i].localPath()) == kept[i]) << i << " not pixel-equal";
        // The window's next delta builds on what was kept.
        kept.push_back(edit(3));
        ASSERT_EQ(editorFrames().size(), 3u);
        EXPECT_TRUE(frameOf(db, editorFrames().back().localPath()) == kept[2]);
    }
}

// Which kept rows the database names for a deletion: a window's first kept delta (taking the
// window's reference hash), deltas of other applications matched against a frame that goes
// (keeping their own), and nothing whose reference stays.
TEST(BulkDeletionChains, TheDatabaseNamesEachKeptFrameThatWouldBreakOnce)
{
    TempHome home;
    SimpleDatabaseManager db;
    struct Row {
        double t;
        const char *path, *app, *hash;
        const char *reference; // a delta when given
    };
    const Row rows[] = {
        { 100, "editor-full", "Editor", "E", nullptr }, { 110, "editor-d1", "Editor", "e1", "E" },
        { 210, "editor-d2", "Editor", "e2", "E" }, { 220, "editor-d3", "Editor", "e3", "E" },
        { 105, "term-full", "XTerm", "T", nullptr }, { 215, "term-d1", "XTerm", "t1", "T" },
        { 230, "term-again", "XTerm", "T", nullptr }, // the same content again, stored in full
        { 240, "term-d2", "XTerm", "t2", "T" },
        { 212, "viewer-matched", "Viewer", "v1", "E" }, // matched against the editor's frame
    };
    for (const Row &r : rows)
        ASSERT_EQ(writeRecording(db, makeRecording(r.t, QString::fromLatin1(r.path), QString::fromLatin1(r.app)),
                      QString::fromLatin1(r.hash), 1000, r.reference != nullptr,
                      r.reference ? std::optional(QString::fromLatin1(r.reference)) : std::nullopt),
            RowWrite::written);
    const auto named = [&](std::optional<double> before, std::optional<QString> app) {
        const auto found
            = awaitCompletion<std::optional<std::vector<SimpleDatabaseManager::DependentFrame>>>([&](auto done) {
                  db.framesBuiltOnRemoval(
                      before ? std::optional(fromSecondsSince1970(*before)) : std::nullopt, std::move(app), done);
              });
        QStringList out;
        for (const auto &f : found.value())
            out << f.filePath + QLatin1Char(':') + f.takesHash.value_or(QStringLiteral("own"));
        return out;
    };
    EXPECT_EQ(named(200, std::nullopt), QStringList({ "editor-d2:E", "viewer-matched:own", "term-d1:T" }));
    EXPECT_EQ(named(100, std::nullopt), QStringList());
    EXPECT_EQ(named(std::nullopt, QStringLiteral("Editor")), QStringList({ "viewer-matched:own" }));
    EXPECT_EQ(named(std::nullopt, QStringLiteral("XTerm")), QStringList());
}

} // namespace
} // namespace pellux::test
