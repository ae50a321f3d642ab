// Deleting screenshots from a history the real pipeline captured, delta chains included: one the
// user chose, or many by age, keeps every other screenshot readable pixel for pixel.
#include "imaging/DeltaFrameReader.h"
#include "imaging/StoredScreenshotReader.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/ListedRecordings.h"
#include "support/SampleHistory.h"

namespace pellux::test {
namespace {

// The sample history, its editor window's frames oldest first.
struct EditorHistory {
    EditorHistory()
    {
        pipeline.makeService();
        captureSampleHistory(pipeline);
    }
    QImage frameOf(const Recording &r)
    {
        StoredScreenshotReader reader(StoredScreenshotReader::databaseLookup(db), 0);
        return reader.read(r.localPath(), QSize()).convertToFormat(QImage::Format_RGB32);
    }
    std::vector<Recording> editorFrames()
    {
        std::vector<Recording> editor = search(db, QStringLiteral("report.txt"));
        std::sort(editor.begin(), editor.end(), [](auto &a, auto &b) { return a.timestamp < b.timestamp; });
        return editor;
    }
    // One more edited line, five minutes later: one more delta. Answers the frame shown.
    QImage edit(int step)
    {
        QImage edited = frameOf(editorFrames().back());
        QPainter(&edited).fillRect(QRect(0, 16 + (8 + step) * 34, 900, 34), QColor(20 * step, 120, 40));
        pipeline.backend.setFrame(1, edited);
        pipeline.clock.advance(300);
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        pipeline.settle();
        return edited;
    }

    CapturePipeline pipeline { std::make_unique<FakeTextRecognizer>() };
    SimpleDatabaseManager &db = *pipeline.database;
};

bool isDelta(const Recording &r) { return DeltaFrameReader::isDeltaContainer(readAll(r.localPath())); }

TEST(ScreenshotDeletion, EveryOtherFrameReadsBackPixelEqualAndTheDeletedOneIsGoneEverywhere)
{
    // The editor's frames: a full frame, the full frame its window's deltas build on, three deltas.
    // Deleted in order; with `damaged`, that frame's file is damaged first, refusing the deletion.
    const struct {
        const char *name;
        std::vector<int> deleted;
        std::optional<int> damaged;
    } cases[] = {
        { "the full frame the deltas build on", { 1 }, {} },
        { "the last delta", { 4 }, {} },
        { "a middle delta, then the full frame", { 3, 1 }, {} },
        { "the first delta, then the full frame", { 2, 1 }, {} },
        { "the frame built on it is unreadable", { 1 }, 2 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EditorHistory history;
        history.edit(0);
        const std::vector<Recording> editor = history.editorFrames();
        ASSERT_EQ(editor.size(), 5u);
        std::vector<QImage> before;
        for (size_t i = 0; i < editor.size(); ++i) {
            ASSERT_EQ(isDelta(editor[i]), i > 1) << i;
            before.push_back(history.frameOf(editor[i]));
        }
        std::vector<bool> gone(editor.size(), false);
        if (c.damaged) {
            ASSERT_TRUE(writeAll(editor[size_t(*c.damaged)].localPath(), "DLTA damaged"));
            LogCapture log(LogCapture::Verbosity::quiet);
            EXPECT_FALSE(QCoro::waitFor(history.pipeline.storage->deleteScreenshot(editor[size_t(c.deleted[0])])));
            EXPECT_TRUE(log.text().contains(QStringLiteral("could not be stored in full"))) << log.text().toStdString();
        }
        for (const int position : c.damaged ? std::vector<int> {} : c.deleted) {
            ASSERT_TRUE(QCoro::waitFor(history.pipeline.storage->deleteScreenshot(editor[size_t(position)])));
            gone[size_t(position)] = true;
        }
        const QStringList found = ids(search(history.db, QStringLiteral("report.txt")));
        const QStringList listed = ids(listedRecordings(*history.pipeline.storage));
        for (size_t i = 0; i < editor.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(QFileInfo::exists(editor[i].localPath()), !gone[i]);
            EXPECT_EQ(found.contains(editor[i].idText()), !gone[i]);
            EXPECT_EQ(listed.contains(editor[i].idText()), !gone[i]);
            if (!gone[i] && int(i) < c.damaged.value_or(int(editor.size()))) {
                EXPECT_TRUE(history.frameOf(editor[i]) == before[i]) << "not pixel-equal";
                EXPECT_EQ(modeOf(editor[i].localPath()), 0600);
            }
        }
    }
}

// The editor's chain crosses the cutoff: its full frame and first deltas are three days old, two
// more deltas (and, after the deletion, a third) are today's.
TEST(BulkDeletionChains, TheNewerDeltasOfAWindowStayReadableAfterADeletionByAge)
{
    for (const bool damaged : { false, true }) {
        SCOPED_TRACE(damaged ? "a kept delta cannot be rebuilt" : "whole chains");
        EditorHistory history;
        history.pipeline.clock.advance(3 * 86400);
        std::vector<QImage> kept { history.edit(1), history.edit(2) };
        const std::vector<Recording> before = history.editorFrames();
        ASSERT_EQ(before.size(), 6u);
        ASSERT_TRUE(isDelta(before[4]) && isDelta(before[5]));
        ASSERT_TRUE(history.frameOf(before[5]) == kept[1]);
        if (damaged) {
            ASSERT_TRUE(writeAll(before[4].localPath(), "DLTA damaged"));
        }
        LogCapture log(LogCapture::Verbosity::quiet);
        const DeletionReport report = QCoro::waitFor(history.pipeline.storage->deleteOldRecordings(1));
        const std::vector<Recording> after = history.editorFrames();
        if (damaged) {
            // Nothing goes: the old frames are still what the kept ones would need.
            EXPECT_FALSE(report.ok || report.failure.isEmpty());
            EXPECT_EQ(after.size(), 6u);
            EXPECT_EQ(listedRecordings(*history.pipeline.storage).size(), 7u);
            EXPECT_TRUE(log.text().contains(QStringLiteral("nothing was deleted"))) << log.text().toStdString();
            continue;
        }
        ASSERT_TRUE(report.ok) << report.failure.toStdString();
        EXPECT_EQ(report.count, 5); // four editor frames and the terminal's
        ASSERT_EQ(after.size(), 2u);
        for (size_t i = 0; i < kept.size(); ++i)
            EXPECT_TRUE(history.frameOf(after[i]) == kept[i]) << i << " not pixel-equal";
        // The window's next delta builds on what was kept.
        kept.push_back(history.edit(3));
        EXPECT_TRUE(history.frameOf(history.editorFrames().back()) == kept[2]);
    }
}

// Which kept rows the database names for a deletion: a window's first kept delta (taking the
// window's reference hash), deltas of other applications matched against a frame that goes
// (keeping their own), and nothing whose reference stays.
TEST(BulkDeletionChains, TheDatabaseNamesEachKeptFrameThatWouldBreakOnce)
{
    TempHome home;
    SimpleDatabaseManager db;
    const struct {
        double t;
        const char *path, *app, *hash;
        const char *reference; // a delta when given
    } rows[] = {
        { 100, "editor-full", "Editor", "E", nullptr }, { 110, "editor-d1", "Editor", "e1", "E" },
        { 210, "editor-d2", "Editor", "e2", "E" }, { 220, "editor-d3", "Editor", "e3", "E" },
        { 105, "term-full", "XTerm", "T", nullptr }, { 215, "term-d1", "XTerm", "t1", "T" },
        { 230, "term-again", "XTerm", "T", nullptr }, // the same content again, stored in full
        { 240, "term-d2", "XTerm", "t2", "T" },
        { 212, "viewer-matched", "Viewer", "v1", "E" }, // matched against the editor's frame
    };
    for (const auto &r : rows)
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
