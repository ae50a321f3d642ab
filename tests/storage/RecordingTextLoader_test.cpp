// A recording's words: loaded from the database, recognised again (and kept) for a recording
// stored before word boxes were, and gone with the recording.

#include "ocr/OCRProcessor.h"
#include "ocr/RenderedText.h"
#include "persistence/DatabaseTestSupport.h"
#include "storage/RecordingTextLoader.h"
#include "support/ImageEncoder.h"

using namespace pellux;
using namespace pellux::test;

namespace {

class RecordingTextLoaderTest : public DatabaseTest {
protected:
    std::optional<RecordingText> load(const Recording &r)
    {
        return awaitCompletion<std::optional<RecordingText>>([&](auto done) { loader.load(r, done); });
    }
    std::optional<RecordingText> stored(const QUuid &id)
    {
        return awaitCompletion<std::optional<RecordingText>>([&](auto done) { db().getRecordingText(id, done); });
    }
    qint64 boxRows() { return raw().integer("SELECT count(*) FROM ocr_words"); }

    OCRProcessor ocr;
    RecordingTextLoader loader { db(), ocr };
};

} // namespace

TEST_F(RecordingTextLoaderTest, RecognisesOlderRecordingsOnceAndKeepsBoxesOnlyWithTheirRecording)
{
    const RenderedText rendered
        = renderText({ QStringLiteral("Quarterly budget review"), QStringLiteral("Invoices are due on Friday") },
            TextPage { .size = QSize(640, 180) });
    const QString file = QDir(home.path()).filePath(QStringLiteral("frame.webp"));
    ASSERT_TRUE(writeAll(file, imageEncoder().convertToLosslessWebP(rendered.image).value()));
    const Recording older = makeRecording(1'000, file);
    const Recording gone = makeRecording(2'000, QDir(home.path()).filePath(QStringLiteral("missing.webp")));
    const Recording blank = makeRecording(3'000, file);
    for (const Recording &r : { older, gone, blank })
        ASSERT_TRUE(saveRecording(db(), r));
    db().saveOCRText(older.id, QStringLiteral("Quarterly budget review Invoices are due on Friday"), older.timestamp);
    db().saveOCRText(gone.id, QStringLiteral("kept as it was"), gone.timestamp);

    // Recognised from the image; the new text and its boxes replace the old text.
    const std::optional<RecordingText> first = load(older);
    ASSERT_TRUE(first && !first->words.empty());
    EXPECT_EQ(first->text, QStringLiteral("Quarterly budget review\nInvoices are due on Friday"));
    EXPECT_EQ(first->words.front().text, QStringLiteral("Quarterly"));
    EXPECT_TRUE(rendered.lineRects.front().intersects(first->words.front().box));
    EXPECT_EQ(
        raw().integer(QStringLiteral("SELECT count(*) FROM ocr_text WHERE recording_id = '%1'").arg(older.idText())),
        1);
    // The next load reads them from the database: the image is no longer needed.
    ASSERT_TRUE(QFile::remove(file));
    const std::optional<RecordingText> again = load(older);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->text, first->text);
    EXPECT_EQ(again->words, first->words);

    {
        LogCapture log;
        // An image that cannot be read: the stored text without boxes, and why.
        const std::optional<RecordingText> unread = load(gone);
        ASSERT_TRUE(unread);
        EXPECT_EQ(unread->text, QStringLiteral("kept as it was"));
        EXPECT_TRUE(unread->words.empty());
        EXPECT_EQ(log.text().count(QStringLiteral("cannot be found")), 1) << log.text().toStdString();
        // No text at all: nothing to recognise.
        const std::optional<RecordingText> none = load(blank);
        ASSERT_TRUE(none);
        EXPECT_TRUE(none->text.isEmpty() && none->words.empty());
        // Damaged boxes are no boxes, said once.
        log.clear();
        raw().exec(
            QStringLiteral("UPDATE ocr_words SET boxes = x'0109' WHERE recording_id = '%1'").arg(older.idText()));
        const std::optional<RecordingText> damaged = stored(older.id);
        ASSERT_TRUE(damaged);
        EXPECT_EQ(damaged->text, first->text);
        EXPECT_TRUE(damaged->words.empty());
        EXPECT_EQ(log.text().count(QStringLiteral("word boxes")), 1) << log.text().toStdString();
    }

    // Boxes leave with their recording, one by one or all at once.
    db().saveOCRText(gone.id,
        RecordingText {
            QStringLiteral("two words"), { { "two", QRect(0, 0, 9, 9) }, { "words", QRect(12, 0, 9, 9) } } },
        gone.timestamp);
    db().waitUntilIdle();
    EXPECT_EQ(boxRows(), 2);
    EXPECT_EQ(awaitCompletion<int>([&](auto done) { db().deleteRecordings({ older.id }, done); }), 1);
    EXPECT_EQ(boxRows(), 1);
    EXPECT_TRUE(awaitCompletion<bool>([&](auto done) { db().deleteAllData(done); }));
    EXPECT_EQ(boxRows(), 0);
}
