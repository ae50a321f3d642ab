// Preparing a frame for recognition: the text height measured, the scale it gives, grey and
// polarity, and where a line found on the prepared image lies in the original.
#include "RenderedText.h"

#include "ocr/RecognitionImage.h"
#include "ocr/TextHeight.h"

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kTerminalLines { QStringLiteral("drwxr-xr-x  2 alice users  4096 Mar  3 09:12 Projects"),
    QStringLiteral("-rw-r--r--  1 alice users 18233 Mar  2 17:45 budget.ods"),
    QStringLiteral("-rw-------  1 alice users   912 Feb 27 08:01 notes.txt"),
    QStringLiteral("lrwxrwxrwx  1 alice users    21 Jan 14 11:30 mail -> /var/mail/alice"),
    QStringLiteral("-rwxr-xr-x  1 alice users  7164 Jan  9 16:22 backup.sh"),
    QStringLiteral("drwx------  5 alice users  4096 Mar  3 10:02 Keys and passwords") };

struct HeightCase {
    double points;
    bool dark;
    const char *family;
};

class MeasureTextLineHeight : public ::testing::TestWithParam<HeightCase> { };

} // namespace

TEST_P(MeasureTextLineHeight, IsTheCapitalHeightOfTheFont)
{
    const auto &[points, dark, family] = GetParam();
    const TextPage page { {}, pixelsForPoints(points), dark ? kLightInk : Qt::black, dark ? kDarkPaper : Qt::white,
        family };
    const std::optional<double> measured
        = measureTextLineHeight(renderText(kTerminalLines, page).image.convertToFormat(QImage::Format_Grayscale8));
    ASSERT_TRUE(measured);
    QFont font(family);
    font.setPixelSize(page.pixelSize);
    const double capital = QFontMetricsF(font).capHeight();
    // Anti-aliased top rows are faint and may not count; accents and ascenders may.
    EXPECT_NEAR(*measured, capital, std::max(1.5, 0.15 * capital)) << points << " pt";
}

INSTANTIATE_TEST_SUITE_P(PointSizes, MeasureTextLineHeight,
    ::testing::Values(HeightCase { 7, false, "DejaVu Sans Mono" }, HeightCase { 8, true, "DejaVu Sans Mono" },
        HeightCase { 11, false, "DejaVu Sans Mono" }, HeightCase { 20, true, "DejaVu Sans Mono" },
        HeightCase { 7, true, "Liberation Mono" }, HeightCase { 11, false, "DejaVu Sans" },
        HeightCase { 20, false, "Liberation Serif" }),
    // Names that are the same in every process (the default prints the bytes, a pointer among them).
    [](const auto &info) {
        return QString("%1%2pt%3")
            .arg(info.param.family)
            .arg(info.param.points)
            .arg(info.param.dark ? "Dark" : "")
            .remove(' ')
            .toStdString();
    });

TEST(MeasureTextLineHeightWithoutText, GivesNothing)
{
    EXPECT_FALSE(measureTextLineHeight(QImage()));
    QImage flat(640, 480, QImage::Format_Grayscale8);
    flat.fill(200);
    EXPECT_FALSE(measureTextLineHeight(flat));

    // Panel borders and rules: sharp edges, but no rows crossing several of them.
    QImage panels = flat.copy();
    for (int y = 0; y < panels.height(); ++y) {
        uchar *row = panels.scanLine(y);
        row[100] = row[101] = row[400] = 20;
        if (y % 60 == 0)
            std::fill(row, row + panels.width(), 20);
    }
    EXPECT_FALSE(measureTextLineHeight(panels));

    // Only colour images converted to grey are measured.
    QImage colour(640, 480, QImage::Format_RGB32);
    colour.fill(Qt::white);
    EXPECT_FALSE(measureTextLineHeight(colour));
}

TEST(ScaleForTextHeight, EnlargesSmallPrintMoreAndLeavesLargeTextAsItIs)
{
    const TextHeightScaling rule { .targetLineHeight_px = 24, .minimumScale = 1.0, .maximumScale = 3.0 };
    // Unmeasured text keeps the fallback, whatever the rule says.
    EXPECT_DOUBLE_EQ(scaleForTextHeight(std::nullopt, rule, 1.5), 1.5);
    EXPECT_DOUBLE_EQ(scaleForTextHeight(0.0, rule, 1.5), 1.5);

    const struct {
        double height_px;
        double scale;
    } table[] = { { 4, 3.0 }, { 6, 3.0 }, { 8, 3.0 }, { 10, 2.4 }, { 12, 2.0 }, { 16, 1.5 }, { 24, 1.0 }, { 30, 1.0 },
        { 80, 1.0 } };
    for (const auto &row : table)
        EXPECT_DOUBLE_EQ(scaleForTextHeight(row.height_px, rule, 1.5), row.scale) << row.height_px;

    const TextHeightScaling mayShrink { .targetLineHeight_px = 24, .minimumScale = 0.5, .maximumScale = 3.0 };
    EXPECT_DOUBLE_EQ(scaleForTextHeight(48.0, mayShrink, 1.5), 0.5);

    // Text that reads well from a height on is brought only to the lower target.
    TextHeightScaling stepped = rule;
    stepped.readableFrom_px = 12;
    stepped.readableTarget_px = 18;
    EXPECT_DOUBLE_EQ(scaleForTextHeight(8.0, stepped, 1.5), 3.0);
    EXPECT_DOUBLE_EQ(scaleForTextHeight(11.0, stepped, 1.5), 24.0 / 11.0);
    EXPECT_DOUBLE_EQ(scaleForTextHeight(12.0, stepped, 1.5), 1.5);
    EXPECT_DOUBLE_EQ(scaleForTextHeight(20.0, stepped, 1.5), 1.0);
}

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
