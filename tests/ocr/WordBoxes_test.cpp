#include "RenderedText.h"

#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "persistence/SearchFolding.h"
#include "persistence/TextMatches.h"

#include <future>

using namespace pellux;
using namespace pellux::test;

namespace {

RecordingText recognisedText(const std::function<void(OCRProcessor::Completion)> &start)
{
    std::promise<Recognition> promise;
    start([&promise](Recognition fragments) { promise.set_value(std::move(fragments)); });
    Recognition result = promise.get_future().get();
    EXPECT_TRUE(result);
    return result ? recognizedText(result.value()) : RecordingText {};
}

QString folded(const QString &text) { return search_folding::fold(text.simplified()).toLower(); }

} // namespace

// Each occurrence's boxes, cut out of the image, read as the query: whole words, a word with "_",
// a query running over two words and one running onto the next line.
TEST(WordBoxes, MatchesCutOutOfTheImageReadAsTheQuery)
{
    const RenderedText rendered = renderText(
        { QStringLiteral("Quarterly budget review meeting"), QStringLiteral("run checksum_window before the upload"),
            QStringLiteral("window sizes differ on every screen") },
        TextPage { .size = QSize(900, 260) });
    OCRProcessor ocr;
    ASSERT_TRUE(ocr.isRecognizerReady());
    const RecordingText text = recognisedText([&](auto done) { ocr.processImage(rendered.image, std::nullopt, done); });
    ASSERT_FALSE(text.words.empty()) << text.text.toStdString();
    EXPECT_EQ(text.text.count(QLatin1Char('\n')), 2) << text.text.toStdString();

    const struct {
        const char *query;
        size_t occurrences;
        size_t boxesEach;
    } cases[] = { { "checksum_window", 1, 1 }, { "budget review", 1, 1 }, { "upload window", 1, 2 } };
    for (const auto &c : cases) {
        const QString query = QString::fromUtf8(c.query);
        const std::vector<TextMatch> matches = findMatches(text, query);
        ASSERT_EQ(matches.size(), c.occurrences) << c.query << " in " << text.text.toStdString();
        QStringList read;
        for (const TextMatch &match : matches) {
            ASSERT_EQ(match.boxes.size(), c.boxesEach) << c.query;
            for (const QRect &box : match.boxes) {
                EXPECT_TRUE(rendered.image.rect().contains(box)) << c.query;
                const QImage cut = rendered.image.copy(box.adjusted(-6, -6, 6, 6));
                read << recognisedText([&](auto done) { ocr.processImage(cut, std::nullopt, done); }).text;
            }
        }
        EXPECT_EQ(folded(read.join(QLatin1Char(' '))), folded(query)) << c.query;
    }
}
