#include "imaging/DeltaTestImages.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "support/ImageEncoder.h"

#include <QColorSpace>
#include <qcorotask.h>

#include <random>

using namespace pellux;
using namespace pellux::test;

namespace {

// A 1920 x 1080 gradient with coloured rectangles on it, like a wallpaper or a drawing.
QImage gradientWithRectangles()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 1920, 1080);
    gradient.setColorAt(0, QColor(20, 60, 200));
    gradient.setColorAt(1, QColor(250, 180, 40));
    painter.fillRect(image.rect(), gradient);
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i)
        painter.fillRect(
            QRect(int(random() % 1800), int(random() % 1000), 40 + int(random() % 300), 30 + int(random() % 200)),
            QColor(int(random() % 256), int(random() % 256), int(random() % 256)));
    return image;
}

// Same size and the same colour in every pixel; the colour-space tag a PNG brings is not compared.
bool samePixels(QImage a, QImage b)
{
    a = a.convertToFormat(QImage::Format_ARGB32);
    b = b.convertToFormat(QImage::Format_ARGB32);
    a.setColorSpace({});
    b.setColorSpace({});
    return a == b;
}

} // namespace

TEST(ContentRules, ScaleFactorScalingRegionMergingImageDifferenceAndClassificationByTextCoverage)
{
    const std::tuple<QSize, ContentType, double> factors[]
        = { { QSize(3840, 2160), ContentType::mixed, 0.375 }, { QSize(800, 600), ContentType::text, 1.0 },
              { QSize(300, 200), ContentType::flat, 0.5 }, { QSize(3840, 1000), ContentType::flat, 0.25 } };
    for (const auto &[size, type, factor] : factors)
        EXPECT_DOUBLE_EQ(ImageOptimizer::getOptimalScaleFactor(QImage(size, QImage::Format_RGB32), type), factor);
    // Never enlarged, thin images at least one pixel, and a nonsensical factor leaves the image as it is.
    const std::tuple<QSize, double, QSize> scaled[] = { { QSize(400, 300), 1.0, QSize(400, 300) },
        { QSize(400, 300), 2.5, QSize(400, 300) }, { QSize(400, 300), 0.375, QSize(150, 113) },
        { QSize(1, 900), 0.25, QSize(1, 225) }, { QSize(1, 1), 0.1, QSize(1, 1) },
        { QSize(400, 300), 0.0, QSize(400, 300) }, { QSize(400, 300), std::nan(""), QSize(400, 300) } };
    for (const auto &[size, factor, expected] : scaled)
        EXPECT_EQ(ImageOptimizer::scaleImage(solidImage(size.width(), size.height(), Qt::red), factor).size(), expected)
            << factor;
    // Touching rectangles merge, and so do ones where the second begins where the first ends
    // vertically, however far apart they are across.
    using Rects = std::vector<QRect>;
    const std::pair<Rects, Rects> merges[]
        = { { {}, {} }, { { QRect(64, 0, 64, 64), QRect(0, 0, 64, 64) }, { QRect(0, 0, 128, 64) } },
              { { QRect(0, 0, 64, 64), QRect(200, 200, 64, 64) }, { QRect(0, 0, 64, 64), QRect(200, 200, 64, 64) } },
              { { QRect(0, 0, 64, 64), QRect(1000, 64, 64, 64) }, { QRect(0, 0, 1064, 128) } },
              { { QRect(5, 5, 10, 10), QRect(0, 0, 10, 10) }, { QRect(0, 0, 15, 15) } } };
    for (const auto &[regions, merged] : merges)
        EXPECT_EQ(ImageOptimizer::mergeAdjacentRegions(regions), merged);
    // The variance between the mean channels.
    EXPECT_DOUBLE_EQ(*ImageOptimizer::analyzeImageStatistics(solidImage(20, 20, QColor(128, 128, 128))), 0.0);
    EXPECT_NEAR(*ImageOptimizer::analyzeImageStatistics(solidImage(20, 20, Qt::red)), 2.0 / 9.0, 1e-12);
    EXPECT_FALSE(ImageOptimizer::analyzeImageStatistics(QImage()));
    // The size of the source is that of an uncompressed RGBA TIFF.
    EXPECT_EQ(tiffRepresentationSize(QImage(1920, 1080, QImage::Format_RGB32)) + tiffRepresentationSize(QImage()),
        1920 * 1080 * 4 + 154);

    const QImage frame = desktopFrame();
    auto difference = [](const QImage &a, const QImage &b) {
        return QCoro::waitFor(test::imageEncoder().calculateImageDifference(a, b));
    };
    EXPECT_DOUBLE_EQ(difference(frame, frame.copy()), 0.0);
    EXPECT_DOUBLE_EQ(difference(solidImage(50, 40, Qt::black), solidImage(50, 40, Qt::white)), 1.0);
    EXPECT_DOUBLE_EQ(difference(QImage(), frame), 1.0);
    EXPECT_DOUBLE_EQ(difference(frame, QImage()), 1.0);

    // A half-red image against a black one: one channel of half the pixels.
    QImage halfRed = solidImage(100, 100, Qt::black);
    QPainter(&halfRed).fillRect(0, 0, 50, 100, Qt::red);
    EXPECT_NEAR(difference(halfRed, solidImage(100, 100, Qt::black)), 0.5 / 3.0, 1e-9);
    // Different sizes: the part only one image has differs from nothing.
    EXPECT_NEAR(difference(solidImage(100, 100, Qt::white), solidImage(100, 50, Qt::white)), 0.5, 1e-9);

    ImageOptimizer optimizer;
    QSize seen;
    double share = 0.31;
    optimizer.setTextLineDetector([&](const QImage &image) {
        seen = image.size();
        return std::vector<QRect> { QRect(0, 0, image.width(), int(image.height() * share)) };
    });
    const QImage desktop = desktopFrame();
    EXPECT_EQ(optimizer.analyzeContent(desktop), ContentType::text);
    EXPECT_EQ(seen, QSize(960, 540)) << "layout analysis works on a reduced copy";
    share = 0.29;
    EXPECT_EQ(optimizer.analyzeContent(desktop), ContentType::flat) << "grey terminals have a flat mean colour";
    EXPECT_EQ(optimizer.analyzeContent(solidImage(300, 200, QColor(200, 20, 20))), ContentType::mixed);
    EXPECT_EQ(optimizer.analyzeContent(QImage()), ContentType::mixed);

    ImageOptimizer &real = test::imageEncoder();
    // The xterm windows of the desktop screenshot, each on its own.
    for (const QRect window : { QRect(0, 0, 805, 790), QRect(901, 0, 815, 745) })
        EXPECT_EQ(real.analyzeContent(desktopFrame().copy(window)), ContentType::text);

    // A photograph and a drawing without text: whatever blocks layout analysis finds in them,
    // only text blocks count.
    for (const QImage &picture : { photographicFrame(1200, 800), gradientWithRectangles() })
        EXPECT_NE(real.analyzeContent(picture), ContentType::text);
}

TEST(Encoding, WebPFollowsTheQualityJpegIsProgressiveThreadsDoNotSpoilAFileAndScreenContentIsStoredPixelExact)
{
    const QImage frame = desktopFrame().copy(0, 0, 800, 600);
    const QByteArray low = test::imageEncoder().convertToWebP(frame, 0.3).value_or("");
    const QByteArray high = test::imageEncoder().convertToWebP(frame, 0.95).value_or("");
    EXPECT_TRUE(isWebPData(low) && low.size() < high.size() && decodeImage(high).size() == QSize(800, 600));
    for (const QImage::Format format : { QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_RGB888,
             QImage::Format_Grayscale8, QImage::Format_ARGB32_Premultiplied }) {
        const QByteArray jpeg = test::imageEncoder().compressToJPEG(frame.convertToFormat(format), 0.8).value_or("");
        EXPECT_TRUE(jpeg.startsWith("\xff\xd8") && jpeg.contains(QByteArray("\xff\xc2", 2))) << "progressive";
        EXPECT_EQ(decodeImage(jpeg).size(), QSize(800, 600)) << format;
    }

    const QImage small = desktopFrame().copy(0, 0, 320, 240);
    std::atomic<int> bad { 0 };
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 6; ++i) {
                    const auto jpeg = test::imageEncoder().compressToJPEG(small, 0.5 + 0.05 * i);
                    const auto webp = test::imageEncoder().convertToWebP(small, 0.5);
                    bad += !jpeg || decodeImage(*jpeg).isNull() || !webp || decodeImage(*webp).isNull();
                }
            });
    }
    EXPECT_EQ(bad.load(), 0);

    ImageOptimizer &optimizer = test::imageEncoder();
    const QImage red = solidImage(10, 10, Qt::red);
    EXPECT_FALSE(optimizer.convertToWebP(QImage(), 0.8) || optimizer.compressToJPEG(QImage(), 0.8)
        || optimizer.compressByContent(QImage()) || optimizer.convertToWebP(red, 1.5)
        || optimizer.compressToJPEG(red, -0.1));

    for (const QSize size : { QSize(1, 1), QSize(1, 500), QSize(500, 1) }) {
        const QImage thin = solidImage(size.width(), size.height(), Qt::darkGreen);
        EXPECT_TRUE(optimizer.convertToWebP(thin, 0.8) && optimizer.compressToJPEG(thin, 0.8)
            && optimizer.compressByContent(thin))
            << size.width() << "x" << size.height();
    }

    // Beyond WebP's 16383-pixel limit only JPEG can write the image.
    // Scaled for its content first, the same image fits WebP again.
    const QImage wide = solidImage(16384, 2, Qt::blue);
    EXPECT_FALSE(optimizer.convertToWebP(wide, 0.8) || optimizer.convertToLosslessWebP(wide));
    EXPECT_EQ(decodeImage(optimizer.compressToJPEG(wide, 0.8).value_or("")).width(), 16384);
    EXPECT_TRUE(optimizer.compressByContent(wide).value_or("").startsWith("RIFF"));

    // What each kind of frame is stored as, and that a lossless file gives back every pixel and is
    // no larger than the lossy encoding it replaces.
    const QImage photograph = photographicFrame(960, 540);
    const QImage panel = solidImage(640, 400, QColor(236, 236, 236));
    EXPECT_DOUBLE_EQ(
        ImageOptimizer::repeatedPixelShare(QImage()) + ImageOptimizer::repeatedPixelShare(solidImage(1, 50, Qt::red)),
        0.0);

    const struct {
        const char *name;
        QImage frame;
        ContentType type;
        bool lossless; // otherwise lossy WebP
    } cases[] = {
        { "xterm window, text", terminalWindowFrame(), ContentType::text, true },
        { "Qt dialog, text", sampleScreenshot("bench/data/ocr/qt-window-dejavusans10-light.png"), ContentType::text,
            true },
        { "desktop of xterms, flat", terminalDesktopFrame(), ContentType::flat, true },
        { "plain panel, flat", panel, ContentType::flat, true },
        { "photograph, flat", photograph, ContentType::flat, false },
        { "photograph misread as text", photographicFrame(200, 120, 3), ContentType::text, false },
        { "xterm window, mixed", terminalWindowFrame(), ContentType::mixed, false },
        { "photograph, mixed", photograph, ContentType::mixed, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray stored = optimizer.encodeForContent(c.frame, c.type).value_or("");
        const QImage scaled
            = ImageOptimizer::scaleImage(c.frame, ImageOptimizer::getOptimalScaleFactor(c.frame, c.type));
        const QByteArray lossy = optimizer.convertToWebP(scaled, compressionQuality(c.type)).value_or("");
        ASSERT_TRUE(isWebPData(stored) && isWebPData(lossy));
        EXPECT_EQ(isLosslessWebP(stored), c.lossless);
        EXPECT_LE(stored.size(), lossy.size()) << "never larger than the lossy encoding";
        // Lossless at full size (a reduced copy would lose the glyphs it exists to keep), read by the
        // cards at card size; lossy frames encoded exactly as before.
        if (c.lossless)
            EXPECT_TRUE(samePixels(decodeImage(stored), c.frame)
                && decodeImage(stored, c.frame.size() / 4).size() == c.frame.size() / 4);
        else
            EXPECT_EQ(stored, lossy);
    }

    const QImage terminal = terminalWindowFrame().copy(0, 0, 300, 200);
    for (int effort : { 0, 1, 3, 9 }) {
        const QByteArray bytes = optimizer.convertToLosslessWebP(terminal, effort).value_or("");
        EXPECT_TRUE(isLosslessWebP(bytes) && samePixels(decodeImage(bytes), terminal)) << effort;
    }
    EXPECT_FALSE(optimizer.convertToLosslessWebP(terminal, -1) || optimizer.convertToLosslessWebP(terminal, 10)
        || optimizer.convertToLosslessWebP(QImage()));
    // Transparent pixels keep their alpha.
    const QImage translucent = solidImage(40, 30, QColor(10, 200, 30, 128), QImage::Format_ARGB32);
    EXPECT_TRUE(samePixels(decodeImage(optimizer.convertToLosslessWebP(translucent).value_or("")), translucent));
}
