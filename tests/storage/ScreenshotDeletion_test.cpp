// Deleting single screenshots from a history the real pipeline captured, delta chains included.
#include "imaging/DeltaFrameReader.h"
#include "imaging/StoredScreenshotReader.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/ListedRecordings.h"
#include "support/SampleHistory.h"
#include "support/TestFiles.h"

#include <qcorotask.h>

namespace pellux::test {
namespace {

struct DeletionCase {
    const char *name;
    // Positions in the editor's frames, oldest (the full frame) first, deleted in this order.
    std::vector<int> deleted;
    // A frame whose file is damaged first: the deletion is refused and nothing goes.
    std::optional<int> damaged;
};

QImage frameOf(SimpleDatabaseManager &db, const Recording &r)
{
    StoredScreenshotReader reader(StoredScreenshotReader::databaseLookup(db), 0);
    return reader.read(r.localPath(), QSize()).convertToFormat(QImage::Format_RGB32);
}

TEST(ScreenshotDeletion, EveryOtherFrameReadsBackPixelEqualAndTheDeletedOneIsGoneEverywhere)
{
    // The editor's frames: a full frame, the full frame its window's deltas build on, three deltas.
    const DeletionCase cases[] = {
        { "the full frame the deltas build on", { 1 }, {} },
        { "the last delta", { 4 }, {} },
        { "a middle delta, then the full frame", { 3, 1 }, {} },
        { "the first delta, then the full frame", { 2, 1 }, {} },
        { "the frame built on it is unreadable", { 1 }, 2 },
    };
    for (const DeletionCase &c : cases) {
        SCOPED_TRACE(c.name);
        CapturePipeline pipeline(std::make_unique<FakeTextRecognizer>());
        pipeline.makeService();
        captureSampleHistory(pipeline);
        SimpleDatabaseManager &db = *pipeline.database;
        const auto editorFrames = [&] {
            std::vector<Recording> editor = search(db, QStringLiteral("report.txt"));
            std::sort(editor.begin(), editor.end(), [](auto &a, auto &b) { return a.timestamp < b.timestamp; });
            return editor;
        };
        {
            // One more edited line, one more delta.
            QImage edited = frameOf(db, editorFrames().back());
            QPainter(&edited).fillRect(QRect(0, 16 + 8 * 34, 900, 2 * 34), Qt::darkGreen);
            pipeline.backend.setFrame(1, edited);
            pipeline.clock.advance(300);
            CapturePipeline::run(pipeline.service->captureTestScreenshot());
            pipeline.settle();
        }
        const std::vector<Recording> editor = editorFrames();
        ASSERT_EQ(editor.size(), 5u);
        for (size_t i = 0; i < editor.size(); ++i)
            ASSERT_EQ(DeltaFrameReader::isDeltaContainer(readAll(editor[i].localPath())), i > 1) << i;
        std::vector<QImage> before;
        for (const Recording &r : editor)
            before.push_back(frameOf(db, r));

        std::vector<bool> gone(editor.size(), false);
        if (c.damaged) {
            ASSERT_TRUE(writeAll(editor[size_t(*c.damaged)].localPath(), "DLTA damaged"));
            LogCapture log(LogCapture::Verbosity::quiet);
            EXPECT_FALSE(QCoro::waitFor(pipeline.storage->deleteScreenshot(editor[size_t(c.deleted[0])])));
            EXPECT_TRUE(log.text().contains(QStringLiteral("could not be stored in full"))) << log.text().toStdString();
        } else {
            for (const int position : c.deleted) {
                ASSERT_TRUE(QCoro::waitFor(pipeline.storage->deleteScreenshot(editor[size_t(position)])));
                gone[size_t(position)] = true;
            }
        }

        const std::vector<Recording> found = search(db, QStringLiteral("report.txt"));
        const std::vector<Recording> listed = listedRecordings(*pipeline.storage);
        for (size_t i = 0; i < editor.size(); ++i) {
            SCOPED_TRACE(i);
            const auto has = [&](const std::vector<Recording> &list) {
                return std::any_of(list.begin(), list.end(), [&](const Recording &r) { return r.id == editor[i].id; });
            };
            EXPECT_EQ(QFileInfo::exists(editor[i].localPath()), !gone[i]);
            EXPECT_EQ(has(found), !gone[i]);
            EXPECT_EQ(has(listed), !gone[i]);
            if (!gone[i] && int(i) < c.damaged.value_or(int(editor.size()))) {
                EXPECT_TRUE(frameOf(db, editor[i]) == before[i]) << "not pixel-equal";
                struct stat info { };
                ASSERT_EQ(::stat(QFile::encodeName(editor[i].localPath()).constData(), &info), 0);
                EXPECT_EQ(info.st_mode & 0777, 0600u);
            }
        }
    }
}

} // namespace
} // namespace pellux::test
