#include "ocr/RecognitionImage.h"
#include "ocr/RecognizedText.h"

#include <gtest/gtest.h>

using namespace pellux;

struct BoundsCase {
    QRect box; // as Tesseract reports it on the prepared image
    double scale;
    int originalHeight;
    QRectF expected;
};

class LowerLeftBounds : public ::testing::TestWithParam<BoundsCase> { };

TEST_P(LowerLeftBounds, FlipsYAndUndoesTheEnlargement)
{
    const BoundsCase &c = GetParam();
    const QRectF bounds = lowerLeftBounds(c.box, c.scale, c.originalHeight);
    EXPECT_DOUBLE_EQ(bounds.x(), c.expected.x());
    EXPECT_DOUBLE_EQ(bounds.y(), c.expected.y());
    EXPECT_DOUBLE_EQ(bounds.width(), c.expected.width());
    EXPECT_DOUBLE_EQ(bounds.height(), c.expected.height());
}

INSTANTIATE_TEST_SUITE_P(Boxes, LowerLeftBounds,
    ::testing::Values(
        // The normalised box (0.5, 0.25, 0.25, 0.5) of a 1000 x 800 image.
        BoundsCase { QRect(500, 200, 250, 400), 1.0, 800, QRectF(500, 200, 250, 400) },
        // The same line found on the image enlarged 1.5 times.
        BoundsCase { QRect(750, 300, 375, 600), 1.5, 800, QRectF(500, 200, 250, 400) },
        // A line at the top of the image is at the top in bottom-up coordinates too.
        BoundsCase { QRect(10, 0, 30, 20), 1.0, 100, QRectF(10, 80, 30, 20) },
        // And one touching the bottom edge starts at y = 0.
        BoundsCase { QRect(0, 90, 50, 10), 1.0, 100, QRectF(0, 0, 50, 10) }));

TEST(InvertDarkTiles, TurnsDarkPanelsLightAndLeavesLightOnesAlone)
{
    QImage grey(64, 32, QImage::Format_Grayscale8);
    grey.fill(250);
    for (int y = 0; y < 32; ++y) {
        uchar *row = grey.scanLine(y);
        for (int x = 0; x < 32; ++x)
            row[x] = 20; // left tile: dark background
    }
    grey.scanLine(10)[5] = 220; // a light "stroke" on the dark tile
    grey.scanLine(10)[40] = 10; // a dark stroke on the light tile

    invertDarkTiles(grey, 32);

    EXPECT_EQ(grey.scanLine(0)[0], 235);
    EXPECT_EQ(grey.scanLine(10)[5], 35);
    EXPECT_EQ(grey.scanLine(0)[40], 250);
    EXPECT_EQ(grey.scanLine(10)[40], 10);
}

TEST(PrepareForRecognition, ConvertsToGreyAndEnlargesByTheTuningsScale)
{
    QImage image(200, 100, QImage::Format_ARGB32);
    image.fill(QColor(10, 10, 10));
    const PreparedImage prepared = prepareForRecognition(image, accurateTuning());
    EXPECT_EQ(prepared.grey.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(prepared.grey.size(), QSize(300, 150));
    EXPECT_DOUBLE_EQ(prepared.scale, 1.5);
    // The dark image came out light.
    EXPECT_GT(meanGrey(prepared.grey), kDarkBackgroundMeanGrey);

    const PreparedImage plain = prepareForRecognition(image, fastTuning());
    EXPECT_EQ(plain.grey.size(), image.size());
    EXPECT_LT(meanGrey(plain.grey), kDarkBackgroundMeanGrey);

    EXPECT_TRUE(prepareForRecognition(QImage(), accurateTuning()).grey.isNull());

    // Large screens are enlarged only up to the ceiling.
    QImage large(3840, 2160, QImage::Format_RGB32);
    large.fill(Qt::white);
    const PreparedImage capped = prepareForRecognition(large, accurateTuning());
    EXPECT_EQ(capped.grey.width(), kMaximumPreparedSide);
    EXPECT_NEAR(capped.scale, kMaximumPreparedSide / 3840.0, 1e-9);
}

TEST(JoinRecognizedText, PutsOneSpaceBetweenFragmentsInOrder)
{
    const auto fragment = [](const char *text) {
        return OCRText { QUuid(), QUuid(), {}, QString::fromUtf8(text), {} };
    };
    EXPECT_EQ(joinRecognizedText({}), QString());
    EXPECT_EQ(joinRecognizedText({ fragment("File") }), QStringLiteral("File"));
    EXPECT_EQ(joinRecognizedText({ fragment("File  Edit"), fragment("View"), fragment("Zoom 100%") }),
        QStringLiteral("File  Edit View Zoom 100%"));
}
