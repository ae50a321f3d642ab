#include "ocr/RecognitionImage.h"
#include "ocr/RecognizedText.h"

#include <gtest/gtest.h>

using namespace pellux;

TEST(LowerLeftBounds, FlipsYAndUndoesTheEnlargement)
{
    const struct {
        QRect box; // as Tesseract reports it on the prepared image
        double scale;
        int originalHeight;
        QRectF expected;
    } cases[] = {
        // The normalised box (0.5, 0.25, 0.25, 0.5) of a 1000 x 800 image.
        { QRect(500, 200, 250, 400), 1.0, 800, QRectF(500, 200, 250, 400) },
        // The same line found on the image enlarged 1.5 times.
        { QRect(750, 300, 375, 600), 1.5, 800, QRectF(500, 200, 250, 400) },
        // A line at the top of the image is at the top in bottom-up coordinates too; one touching
        // the bottom edge starts at y = 0.
        { QRect(10, 0, 30, 20), 1.0, 100, QRectF(10, 80, 30, 20) },
        { QRect(0, 90, 50, 10), 1.0, 100, QRectF(0, 0, 50, 10) },
    };
    for (const auto &c : cases)
        EXPECT_EQ(lowerLeftBounds(c.box, c.scale, c.originalHeight), c.expected) << c.box.x() << "," << c.box.y();
}

// Polarity is decided by each pixel's surroundings: a dark panel beside a light one, and a
// highlighted line inside each, all come out as dark strokes on light paper.
TEST(InvertDarkSurroundings, TurnsDarkPanelsAndLinesLightAndLeavesLightOnesAlone)
{
    QImage grey(200, 60, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        uchar *row = grey.scanLine(y);
        const bool highlighted = y >= 24 && y < 38; // one line of text, reverse video in both panels
        for (int x = 0; x < grey.width(); ++x) {
            const bool darkPanel = x < 100;
            row[x] = (darkPanel != highlighted) ? 20 : 235;
        }
    }
    // A stroke in the middle of each of the four areas, in the panel's text colour.
    struct Stroke {
        QPoint at;
        uchar value;
        uchar expected;
    };
    const Stroke strokes[] = {
        { { 50, 10 }, 220, 35 }, // light text on the dark panel: negated
        { { 50, 31 }, 30, 30 }, // dark text on the light line across the dark panel: kept
        { { 150, 10 }, 30, 30 }, // dark text on the light panel: kept
        { { 150, 31 }, 220, 35 }, // light text on the dark line across the light panel: negated
    };
    for (const Stroke &stroke : strokes)
        grey.scanLine(stroke.at.y())[stroke.at.x()] = stroke.value;

    invertDarkSurroundings(grey, inversionRadiusFor(14.0));

    for (const Stroke &stroke : strokes)
        EXPECT_EQ(grey.scanLine(stroke.at.y())[stroke.at.x()], stroke.expected)
            << stroke.at.x() << "," << stroke.at.y();
    EXPECT_EQ(grey.scanLine(5)[20], 235); // the dark panel's paper
    EXPECT_EQ(grey.scanLine(31)[20], 235); // the highlighted line's paper, untouched
    EXPECT_EQ(grey.scanLine(31)[180], 235); // the dark line's paper, negated
    EXPECT_EQ(inversionRadiusFor(std::nullopt), kUnmeasuredInversionRadius);
    EXPECT_EQ(inversionRadiusFor(100.0), kMaximumInversionRadius);
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
