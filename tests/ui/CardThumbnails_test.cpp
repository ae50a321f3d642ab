// The cards' images: a size the thumbnail serves is read from it; a screenshot stored without
// one has its frame read once and gets one; larger sizes read the screenshot.
#include "imaging/ImageFileReader.h"
#include "imaging/Thumbnail.h"
#include "runtime/PrivateFiles.h"
#include "support/ImageEncoder.h"
#include "support/TestFiles.h"
#include "ui/ScreenshotLoader.h"

namespace pellux::test {
namespace {

QImage filled(QSize size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 30;
}

TEST(CardThumbnails, SmallSizesComeFromTheThumbnailWhichAnOldScreenshotGetsWhenFirstShown)
{
    TempHome home;
    const QString folder = home.pelluxFolder() + QStringLiteral("/Screenshots/2025/03/30/10");
    ASSERT_TRUE(makePrivatePath(folder));
    const QString screenshot = folder + QStringLiteral("/20250330_100000_Kate.webp");
    const std::optional<QByteArray> red = imageEncoder().convertToWebP(filled({ 1280, 800 }, Qt::red), 0.8);
    ASSERT_TRUE(red && writeNewPrivateFile(screenshot, *red) == WriteOutcome::written);
    const QString thumbnailPath = thumbnail::pathFor(screenshot);
    ScreenshotLoader loader([](const QString &) { return std::nullopt; }, 0);

    // A screenshot without a thumbnail (stored before they were kept, or its thumbnail damaged):
    // the card is drawn from the frame, and the thumbnail is written, private and whole.
    for (const QByteArray &damaged : { QByteArray(), QByteArray("not an image") }) {
        if (!damaged.isEmpty()) {
            ASSERT_TRUE(writeAll(thumbnailPath, damaged));
        }
        const QImage card = loader.load(screenshot, { 280, 175 });
        EXPECT_EQ(card.size(), QSize(280, 175));
        EXPECT_TRUE(near(card.pixelColor(140, 80), Qt::red));
        EXPECT_EQ(decodeImage(readAll(thumbnailPath)).size(), QSize(320, 200));
        EXPECT_EQ(modeOf(thumbnailPath), 0600);
    }

    // What the thumbnail holds is what a card shows; a size beyond it reads the screenshot.
    const std::optional<QByteArray> green = thumbnail::encode(filled({ 1280, 800 }, Qt::green));
    ASSERT_TRUE(green && writePrivateFileAtomically(thumbnailPath, *green));
    const std::tuple<QSize, QSize, QColor> sizes[] = { { { 280, 175 }, { 280, 175 }, Qt::green },
        { { 320, 320 }, { 320, 200 }, Qt::green }, { { 321, 200 }, { 320, 200 }, Qt::red },
        { { 1600, 1000 }, { 1280, 800 }, Qt::red }, { {}, { 1280, 800 }, Qt::red } };
    for (const auto &[requested, size, color] : sizes) {
        const QImage image = loader.load(screenshot, requested);
        EXPECT_EQ(image.size(), size) << requested.width() << "x" << requested.height();
        EXPECT_TRUE(near(image.pixelColor(size.width() / 2, size.height() / 2), color))
            << requested.width() << "x" << requested.height();
    }

    // Nothing to show: the one failure text, and no thumbnail for a file that is not there.
    // Outside the store a frame is shown but nothing is written beside it.
    QString error;
    EXPECT_TRUE(loader.load(folder + QStringLiteral("/gone.webp"), { 280, 175 }, &error).isNull());
    EXPECT_EQ(error, ScreenshotLoader::unavailableText());
    EXPECT_FALSE(QFileInfo::exists(thumbnail::pathFor(folder + QStringLiteral("/gone.webp"))));
    const QString outside = home.path() + QStringLiteral("/elsewhere.webp");
    ASSERT_TRUE(writeAll(outside, *red));
    EXPECT_FALSE(loader.load(outside, { 280, 175 }).isNull());
    EXPECT_FALSE(QFileInfo::exists(thumbnail::pathFor(outside)));
}

} // namespace
} // namespace pellux::test
