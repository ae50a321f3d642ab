#include "persistence/TextMatches.h"
#include "support/TestFiles.h"

using namespace pellux;

namespace {

// Two lines of words 10 px per character, 6 px apart, 20 px high; the second line 30 px lower.
RecordingText twoLines()
{
    const QString text = QStringLiteral("open checksum_window now\nwindow closed");
    std::vector<QRect> boxes { { 0, 0, 40, 20 }, { 46, 0, 150, 20 }, { 202, 0, 30, 20 }, { 0, 30, 60, 20 },
        { 66, 30, 60, 20 } };
    return withWordBoxes(text, boxes);
}

} // namespace

TEST(TextMatches, FindsEachOccurrenceAsBoxesPerLine)
{
    struct Case {
        const char *query;
        std::vector<std::vector<QRect>> expected;
    };
    const Case cases[] = {
        { "open", { { { 0, 0, 40, 20 } } } },
        // Part of a word: its share of the box; "_" matches the underscore, as search folds it.
        { "checksum_w", { { { 46, 0, 100, 20 } } } },
        { "sum", { { { 96, 0, 30, 20 } } } },
        // Both occurrences, in reading order; case does not matter.
        { "WINDOW", { { { 136, 0, 60, 20 } }, { { 0, 30, 60, 20 } } } },
        // Across words of one line: one rectangle; across lines: one per line.
        { "window now", { { { 136, 0, 96, 20 } } } },
        { "now window", { { { 202, 0, 30, 20 }, { 0, 30, 60, 20 } } } },
        { "absent", {} },
    };
    for (const Case &c : cases) {
        const std::vector<TextMatch> matches = findMatches(twoLines(), QString::fromUtf8(c.query));
        std::vector<std::vector<QRect>> boxes;
        for (const TextMatch &match : matches)
            boxes.push_back(match.boxes);
        EXPECT_EQ(boxes, c.expected) << c.query;
    }
    // Boxes that are not one per word are no boxes.
    EXPECT_TRUE(findMatches(RecordingText { QStringLiteral("open window"), {} }, QStringLiteral("open")).empty());
    EXPECT_TRUE(withWordBoxes(QStringLiteral("open window"), { QRect(0, 0, 1, 1) }).words.empty());
}

TEST(TextMatches, RegionTextKeepsLinesOfWordsMostlyInside)
{
    const RecordingText text = twoLines();
    EXPECT_EQ(regionText(text, QRect(0, 0, 300, 60)), QStringLiteral("open checksum_window now\nwindow closed"));
    // More than half of "checksum_window" and "closed" inside, less than half of "window".
    EXPECT_EQ(regionText(text, QRect(90, 0, 200, 60)), QStringLiteral("checksum_window now\nclosed"));
    EXPECT_EQ(regionText(text, QRect(80, 25, 200, 40)), QStringLiteral("closed"));
    EXPECT_EQ(regionText(text, QRect(500, 500, 10, 10)), QString());
}

TEST(TextMatches, WordBoxesRoundTripAndDamageIsRefused)
{
    const RecordingText text = twoLines();
    const QByteArray stored = encodeWordBoxes(text.words);
    EXPECT_LE(stored.size(), 2 + 5 * static_cast<qsizetype>(text.words.size()));
    std::vector<QRect> expected;
    for (const WordBox &word : text.words)
        expected.push_back(word.box);
    EXPECT_EQ(decodeWordBoxes(stored), expected);
    EXPECT_EQ(decodeWordBoxes(encodeWordBoxes({})), std::vector<QRect> {});

    QByteArray wrongVersion = stored;
    wrongVersion[0] = 9;
    QByteArray moreWords = stored;
    moreWords[1] = 6;
    QByteArray unterminated = stored;
    unterminated[unterminated.size() - 1] = static_cast<char>(0x80);
    for (const QByteArray &damaged : { QByteArray(), wrongVersion, moreWords, stored.left(stored.size() - 1),
             stored + QByteArray(1, 0), unterminated, QByteArray("\x01\xff\xff\xff\xff\x0f", 6) })
        EXPECT_FALSE(decodeWordBoxes(damaged).has_value()) << damaged.toHex().constData();
}
