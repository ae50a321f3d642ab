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

// Dark text on light paper and light text on a dark theme, from several threads at once and
// without a language model (layout analysis loads none); nothing where there is no text.
TEST(DetectTextLines, FindsOneBoxPerLineInImageCoordinates)
{
    QTemporaryDir emptyFolder;
    const ModelFolderVariable noModel(emptyFolder.path());
    const RenderedText pages[] = { renderText(kLines, { { 800, 320 }, 22, Qt::black, Qt::white }),
        renderText(kLines, { { 800, 320 }, 22, QColor(0xdc, 0xdc, 0xdc), QColor(0x22, 0x22, 0x22) }) };
    std::vector<std::thread> threads;
    for (const RenderedText &rendered : pages) {
        threads.emplace_back([&rendered] {
            for (int round = 0; round < 3; ++round) {
                const std::vector<QRect> boxes = detectTextLines(rendered.image);
                ASSERT_EQ(boxes.size(), 3u);
                for (size_t i = 0; i < boxes.size(); ++i)
                    EXPECT_TRUE(covers(boxes[i], rendered.lineRects[i])) << i;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_TRUE(detectTextLines(QImage()).empty());
    QImage onePixel(1, 1, QImage::Format_RGB32);
    onePixel.fill(Qt::white);
    EXPECT_TRUE(detectTextLines(onePixel).empty());
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(QColor(0x30, 0x60, 0x90));
    EXPECT_TRUE(detectTextLines(blank).empty());
}
