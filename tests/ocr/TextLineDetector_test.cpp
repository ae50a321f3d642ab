#include "RenderedText.h"

#include "ocr/TextLineDetector.h"

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kLines { QStringLiteral("Build finished with two warnings"),
    QStringLiteral("Tests passed: 118 of 118"), QStringLiteral("Deploying to the staging server") };

// Whether the detected box covers the drawn line, give or take a few pixels.
bool covers(const QRect &box, const QRect &drawn)
{
    return box.adjusted(-4, -4, 4, 4).contains(drawn) && box.height() < 2 * drawn.height() + 8;
}

} // namespace

// Dark text on light paper and light text on a dark theme; nothing where there is no text.
TEST(DetectTextLines, FindsOneBoxPerLineInImageCoordinates)
{
    for (const auto &[ink, paper] : { std::pair<QColor, QColor>(Qt::black, Qt::white),
             std::pair<QColor, QColor>(QColor(0xdc, 0xdc, 0xdc), QColor(0x22, 0x22, 0x22)) }) {
        const RenderedText rendered = renderText(kLines, { { 800, 320 }, 22, ink, paper });
        const std::vector<QRect> boxes = detectTextLines(rendered.image);
        ASSERT_EQ(boxes.size(), 3u);
        for (size_t i = 0; i < boxes.size(); ++i)
            EXPECT_TRUE(covers(boxes[i], rendered.lineRects[i])) << i;
    }
    EXPECT_TRUE(detectTextLines(QImage()).empty());
    QImage onePixel(1, 1, QImage::Format_RGB32);
    onePixel.fill(Qt::white);
    EXPECT_TRUE(detectTextLines(onePixel).empty());
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(QColor(0x30, 0x60, 0x90));
    EXPECT_TRUE(detectTextLines(blank).empty());
}

TEST(DetectTextLines, WorksFromSeveralThreadsAtOnceAndNeedsNoLanguageModel)
{
    // Layout analysis loads no model, so a missing one does not matter.
    QTemporaryDir emptyFolder;
    const ModelFolderVariable noModel(emptyFolder.path());
    const RenderedText rendered = renderText(kLines, { { 800, 320 } });
    std::vector<std::vector<QRect>> results(3);
    std::vector<std::thread> threads;
    for (auto &result : results)
        threads.emplace_back([&rendered, &result] {
            for (int i = 0; i < 3; ++i)
                result = detectTextLines(rendered.image);
        });
    for (std::thread &thread : threads)
        thread.join();
    for (const auto &result : results) {
        EXPECT_EQ(result.size(), 3u);
        EXPECT_EQ(result, results.front());
    }
}
