#include "ocr/ChangedLines.h"
#include "ocr/LineCache.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognitionMemory.h"
#include "ocr/RecognizedText.h"
#include "support/FakeTextRecognizer.h"
#include "support/TypingSession.h"

#include <future>

using namespace pellux;

namespace {

constexpr int kHeight = 200;

// A fragment on rows [top, bottom) of a kHeight-tall image, spanning columns [left, left + width).
OCRText lineAt(int top, int bottom, const QString &text = QStringLiteral("line"), int left = 10, int width = 300)
{
    return OCRText { QUuid::createUuid(), QUuid::createUuid(), TimePoint {}, text,
        QRectF(left, kHeight - bottom, width, bottom - top) };
}

std::vector<OCRText> fourLines() { return { lineAt(10, 23), lineAt(26, 39), lineAt(42, 55), lineAt(58, 71) }; }

TEST(ChangedLines, ChangedRowsWidenToWholeLinesFollowScrollsAndMergeInReadingOrderKeepingUnchangedPositions)
{
    using Rows = std::vector<RowSpan>;
    const struct {
        const char *name;
        Rows changed;
        std::vector<OCRText> previous;
        std::optional<Rows> bands;
    } cases[] = {
        // Inside the second line: that line, padded only into the gaps to its neighbours.
        { "InsideOneLine", { { 30, 35 } }, fourLines(), Rows { { 23, 42 } } },
        // Between two lines the margin reaches both, and each is taken whole.
        { "BetweenTwoLines", { { 24, 25 } }, fourLines(), Rows { { 4, 42 } } },
        // Below all text (a new line typed): the change with its margins, twice over.
        { "InBlankRows", { { 100, 110 } }, fourLines(), Rows { { 88, 122 } } },
        { "WithoutPreviousText", { { 100, 110 } }, {}, Rows { { 88, 122 } } },
        { "FarApart", { { 12, 14 }, { 150, 152 } }, fourLines(), Rows { { 0, 26 }, { 138, 164 } } },
        { "AdjacentLinesMerge", { { 30, 31 }, { 45, 46 } }, fourLines(), Rows { { 23, 58 } } },
        { "ClampedToTheImage", { { 195, 200 } }, {}, Rows { { 183, 200 } } },
        { "NothingChanged", {}, fourLines(), Rows {} },
        // 80 rows is 40 % of the height: still pieced together; more is recognised whole.
        { "AtTheLimit", { { 112, 168 } }, {}, Rows { { 100, 180 } } },
        { "LargeChange", { { 20, 100 } }, fourLines(), std::nullopt },
        // A column of line numbers read as one tall line does not pull the band over its height.
        { "ColumnReadAsOneLine", { { 30, 35 } },
            { lineAt(10, 23), lineAt(26, 39), lineAt(42, 55), lineAt(58, 71), lineAt(10, 71, "1234", 0, 8) },
            Rows { { 23, 42 } } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(linesToRecognize(c.changed, c.previous, QSize(400, kHeight), 6), c.bands) << c.name;

    QImage before(64, 40, QImage::Format_RGB32);
    before.fill(Qt::white);
    QImage onePixel = before.copy();
    onePixel.setPixel(63, 7, qRgb(250, 255, 255));
    QImage twoRuns = before.copy();
    QPainter(&twoRuns).fillRect(QRect(3, 2, 5, 3), Qt::black);
    QPainter(&twoRuns).fillRect(QRect(30, 20, 2, 10), Qt::red);
    QImage unusedByte = before.copy();
    reinterpret_cast<quint32 *>(unusedByte.scanLine(5))[5] &= 0x00ffffffu;
    const struct {
        const char *name;
        QImage after;
        std::vector<RowSpan> rows;
    } differences[] = {
        { "identical", before.copy(), {} },
        { "one pixel", onePixel, { { 7, 8 } } },
        { "two runs", twoRuns, { { 2, 5 }, { 20, 30 } } },
        { "unused byte only", unusedByte, {} },
        { "other format, same pixels", before.convertToFormat(QImage::Format_RGB888), {} },
        { "other size", before.copy(0, 0, 64, 30), { { 0, 30 } } },
    };
    for (const auto &c : differences)
        EXPECT_EQ(changedRows(c.after, before), c.rows) << c.name;

    // A scroll is found from the rows that moved, and only the rows that came into view (or came
    // from nowhere) count as changed.
    const std::vector<QImage> log = test::scrollingSession(3);
    const int spacing = test::TerminalWindow().lineSpacing();
    const int height = log[0].height();
    QImage edited = log[1].copy();
    QPainter(&edited).fillRect(QRect(0, 40, 30, 3), Qt::red);
    QImage blank(log[0].size(), QImage::Format_RGB32);
    blank.fill(Qt::black);
    struct Scroll {
        const char *name;
        QImage current, previous;
        int shift;
        std::optional<RowSpan> firstChange; // and every changed row lies in the last 2 lines or here
    };
    const std::vector<Scroll> scrolls {
        { "two lines up", log[1], log[0], 2 * spacing, std::nullopt },
        { "four lines up", log[2], log[0], 4 * spacing, std::nullopt },
        { "scrolled and edited", edited, log[0], 2 * spacing, RowSpan { 40, 43 } },
        { "back down", log[0], log[1], -2 * spacing, std::nullopt },
        { "unchanged", log[1], log[1], 0, std::nullopt },
        { "nothing in common", log[1], blank, 0, std::nullopt },
        { "other size", log[1], log[0].copy(0, 0, 100, 100), 0, std::nullopt },
    };
    for (const Scroll &c : scrolls) {
        EXPECT_EQ(scrollShift(c.current, c.previous), c.shift) << c.name;
        if (c.shift == 0)
            continue;
        const std::vector<RowSpan> changed = changedRows(c.current, c.previous, c.shift);
        ASSERT_FALSE(changed.empty()) << c.name;
        // Rows that came into view (at the bottom after scrolling up, at the top after scrolling
        // down) and the window's margins, which stay put while the text moves.
        const RowSpan entered = c.shift > 0 ? RowSpan { height - c.shift, height } : RowSpan { 0, -c.shift };
        for (const RowSpan &span : changed) {
            const bool inView = span.top >= entered.top - spacing && span.bottom <= entered.bottom + spacing;
            const bool margin = span.bottom <= 4 || span.top >= height - 4;
            EXPECT_TRUE(inView || margin || (c.firstChange && span == *c.firstChange))
                << c.name << ": rows " << span.top << "-" << span.bottom;
        }
        EXPECT_TRUE(!c.firstChange || std::ranges::find(changed, *c.firstChange) != changed.end()) << c.name;
    }

    // The previous text follows the scroll; a line pushed partly out is read again, one pushed out
    // entirely is gone.
    std::vector<RowSpan> changed;
    const std::vector<OCRText> moved = scrolledFragments(
        { lineAt(2, 15, QStringLiteral("leaves")), lineAt(20, 33, QStringLiteral("cut")), lineAt(50, 63) }, 25, kHeight,
        changed);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(std::pair(rowsOfBounds(moved[0].bounds, kHeight), changed),
        std::pair(RowSpan { 25, 38 }, std::vector<RowSpan> { { 0, 8 } }));

    const std::vector<OCRText> previous { lineAt(10, 23, QStringLiteral("first")),
        lineAt(26, 39, QStringLiteral("second")), lineAt(42, 55, QStringLiteral("third")) };
    const QUuid recording = QUuid::createUuid();
    const TimePoint now = TimePoint {} + std::chrono::seconds(5);
    struct Merge {
        const char *name;
        std::vector<RowSpan> bands;
        std::vector<OCRText> recognized;
        QStringList texts;
    };
    const std::vector<Merge> merges {
        { "a line rewritten", { { 23, 42 } }, { lineAt(26, 39, QStringLiteral("second edited")) },
            { "first", "second edited", "third" } },
        { "a line typed below", { { 60, 80 } }, { lineAt(62, 75, QStringLiteral("fourth")) },
            { "first", "second", "third", "fourth" } },
        { "a line typed above all", { { 0, 9 } }, { lineAt(1, 8, QStringLiteral("zeroth"), 10, 20) },
            { "zeroth", "first", "second", "third" } },
        { "a line split in two", { { 23, 42 } },
            { lineAt(26, 32, QStringLiteral("sec"), 10, 100), lineAt(33, 39, QStringLiteral("ond"), 10, 100) },
            { "first", "sec", "ond", "third" } },
        // Side by side in one band: each takes the place of the line it overlaps.
        { "two columns", { { 4, 58 } },
            { lineAt(10, 23, QStringLiteral("left"), 10, 100), lineAt(10, 23, QStringLiteral("right"), 200, 100),
                lineAt(42, 55, QStringLiteral("below")) },
            { "left", "right", "below" } },
        { "a line deleted", { { 23, 42 } }, {}, { "first", "third" } },
    };
    for (const Merge &c : merges) {
        const std::vector<OCRText> merged = mergeChangedLines(previous, c.bands, c.recognized, kHeight, recording, now);
        QStringList texts;
        for (const OCRText &fragment : merged) {
            texts.append(fragment.text);
            EXPECT_TRUE(fragment.recordingId == recording && fragment.timestamp == now) << c.name;
            for (const OCRText &old : previous)
                EXPECT_TRUE(old.text != fragment.text || (fragment.bounds == old.bounds && fragment.id != old.id))
                    << c.name;
        }
        EXPECT_EQ(texts, c.texts) << c.name;
    }
}

std::vector<OCRText> recognised(const std::function<void(OCRProcessor::Completion)> &start)
{
    std::promise<Recognition> promise;
    start([&promise](Recognition fragments) { promise.set_value(std::move(fragments)); });
    Recognition result = promise.get_future().get();
    EXPECT_TRUE(result);
    return result ? std::move(result).value() : std::vector<OCRText> {};
}

// The first frames of a shell session typed into a terminal, and of a log scrolling by: each frame
// after the first has only its changed lines recognised and finds the words a whole recognition
// finds, each word's box where the whole recognition puts it (the words taken over moved with the
// scroll). Where the lines taken over go in the text is checked with the fake recogniser in the
// capture service's tests: the text stored equals a whole reading.
TEST(ChangedLines, TerminalSessionsAreRecognisedLineByLine)
{
    for (const auto &[name, session] :
        { std::pair("typing", test::typingSession()), std::pair("scrolling", test::scrollingSession(5)) }) {
        SCOPED_TRACE(name);
        ASSERT_GE(session.size(), 5u);
        OCRProcessor ocr;
        ASSERT_TRUE(ocr.isRecognizerReady());

        std::shared_ptr<RecognitionMemory> previousText;
        int found = 0, total = 0, placed = 0, boxes = 0;
        for (size_t i = 0; i < 5; ++i) {
            const auto previous = i > 0 ? std::optional(PreviousFrame { session[i - 1], previousText }) : std::nullopt;
            auto text = std::make_shared<RecognitionMemory>();
            const std::vector<OCRText> pieced = recognised(
                [&](auto done) { ocr.processChangedImage(session[i], QUuid::createUuid(), previous, text, done); });
            const std::vector<OCRText> whole
                = recognised([&](auto done) { ocr.processImage(session[i], std::nullopt, done); });
            EXPECT_EQ(
                joinRecognizedText(text->fragments().value_or(std::vector<OCRText> {})), joinRecognizedText(pieced))
                << i;

            const auto reference = test::wordCounts(joinRecognizedText(whole));
            found += test::wordsFound(reference, test::wordCounts(joinRecognizedText(pieced)));
            total += test::wordTotal(reference);
            // Recognition draws a word's box a few pixels taller or shorter from one reading to the next;
            // a box in the wrong place (a line off) would not hold the centre.
            const std::vector<WordBox> wholeWords = recognizedText(whole).words;
            for (const WordBox &word : recognizedText(pieced).words)
                placed += ++boxes && std::ranges::any_of(wholeWords, [&](const WordBox &other) {
                    return other.text == word.text && other.box.contains(word.box.center());
                });
            previousText = text;
        }
        EXPECT_EQ(std::pair(ocr.changedLineRecognitions(), ocr.wholeImageRecognitions()), std::pair(4, 1));
        // The processor time of each kind is counted (what `pellux capture` reports).
        EXPECT_TRUE(ocr.changedLineSeconds() > 0 && ocr.wholeImageSeconds() > 0);
        ASSERT_TRUE(total > 50 && boxes > 50);
        EXPECT_GE(double(found) / total, 0.99) << found << " of " << total;
        EXPECT_GE(double(placed) / boxes, 0.97) << placed << " of " << boxes;
    }
}

// A band that comes back is read from the cache of recognised lines, as it was read the first time;
// the cache keeps to its bounds, least recently used first.
TEST(ChangedLines, ABandSeenBeforeComesFromTheCacheAsItWasRead)
{
    const std::vector<QImage> session = test::typingSession();
    OCRProcessor ocr;
    ASSERT_TRUE(ocr.isRecognizerReady());
    std::shared_ptr<RecognitionMemory> previousText;
    QStringList texts;
    const QImage frames[] = { session[1], session[2], session[1], session[2] };
    for (size_t i = 0; i < std::size(frames); ++i) {
        const auto previous = i > 0 ? std::optional(PreviousFrame { frames[i - 1], previousText }) : std::nullopt;
        auto text = std::make_shared<RecognitionMemory>();
        texts << joinRecognizedText(recognised(
            [&](auto done) { ocr.processChangedImage(frames[i], QUuid::createUuid(), previous, text, done); }));
        previousText = text;
    }
    EXPECT_EQ(texts[3], texts[1]);
    EXPECT_TRUE(ocr.bandsFromCache() > 0 && ocr.bandsRead() > 0) << ocr.bandsFromCache() << " " << ocr.bandsRead();

    const std::vector<RecognizedLine> line { { "word", QRect(0, 0, 40, 10), { { "word", QRect(0, 0, 40, 10) } } } };
    LineCache cache(2, 1 << 20);
    cache.insert("a", line);
    cache.insert("b", line);
    EXPECT_TRUE(cache.find("a")); // "b" is now the least recently used
    cache.insert("c", line);
    EXPECT_EQ(std::tuple(bool(cache.find("a")), bool(cache.find("b")), bool(cache.find("c")), cache.size()),
        std::tuple(true, false, true, size_t(2)));
    LineCache small(100, 300);
    for (const char *key : { "d", "e", "f" })
        small.insert(key, line);
    EXPECT_LE(small.bytes(), 300);
    EXPECT_TRUE(small.find("f") && !small.find("d"));
    // The key is the picture and how it is read.
    QImage band(33, 8, QImage::Format_Grayscale8);
    band.fill(200);
    const QByteArray key = LineCache::keyOf(band, 0, false);
    EXPECT_TRUE(key != LineCache::keyOf(band, 1, false) && key != LineCache::keyOf(band, 0, true));
}

} // namespace
