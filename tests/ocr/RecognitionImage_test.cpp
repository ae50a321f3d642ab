// Preparing a frame for recognition: the text height measured, the scale it gives, grey and
// polarity. (Where a line found on the prepared image lies in the original: the processor's tests.)
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

} // namespace

// The capital height of the font, light and dark, at the sizes terminals and documents use.
TEST(MeasureTextLineHeight, IsTheCapitalHeightOfTheFont)
{
    const std::tuple<double, bool, const char *> cases[] = { { 7, false, "DejaVu Sans Mono" },
        { 8, true, "DejaVu Sans Mono" }, { 11, false, "DejaVu Sans Mono" }, { 20, true, "DejaVu Sans Mono" },
        { 7, true, "Liberation Mono" }, { 11, false, "DejaVu Sans" }, { 20, false, "Liberation Serif" } };
    for (const auto &[points, dark, family] : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 pt dark %3").arg(family).arg(points).arg(dark).toStdString());
        const TextPage page { {}, pixelsForPoints(points), dark ? kLightInk : Qt::black, dark ? kDarkPaper : Qt::white,
            family };
        const std::optional<double> measured
            = measureTextLineHeight(renderText(kTerminalLines, page).image.convertToFormat(QImage::Format_Grayscale8));
        ASSERT_TRUE(measured);
        QFont font(family);
        font.setPixelSize(page.pixelSize);
        const double capital = QFontMetricsF(font).capHeight();
        // Anti-aliased top rows are faint and may not count; accents and ascenders may.
        EXPECT_NEAR(*measured, capital, std::max(1.5, 0.15 * capital));
    }
}

// Nothing without text: no image, a flat one, panel borders and rules (sharp edges, but no rows
// crossing several of them), and a colour image not yet converted to grey.
TEST(MeasureTextLineHeightWithoutText, GivesNothing)
{
    QImage flat(640, 480, QImage::Format_Grayscale8);
    flat.fill(200);
    QImage panels = flat.copy();
    for (int y = 0; y < panels.height(); ++y) {
        uchar *row = panels.scanLine(y);
        row[100] = row[101] = row[400] = 20;
        if (y % 60 == 0)
            std::fill(row, row + panels.width(), 20);
    }
    for (const QImage &image : { QImage(), flat, panels, renderText(kTerminalLines, {}).image })
        EXPECT_FALSE(measureTextLineHeight(image)) << image.format();
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

    EXPECT_DOUBLE_EQ(scaleForTextHeight(48.0, { .targetLineHeight_px = 24, .minimumScale = 0.5 }, 1.5), 0.5);

    // Text that reads well from a height on is brought only to the lower target.
    TextHeightScaling stepped = rule;
    stepped.readableFrom_px = 12;
    stepped.readableTarget_px = 18;
    EXPECT_DOUBLE_EQ(scaleForTextHeight(8.0, stepped, 1.5), 3.0);
    EXPECT_DOUBLE_EQ(scaleForTextHeight(11.0, stepped, 1.5), 24.0 / 11.0);
    EXPECT_DOUBLE_EQ(scaleForTextHeight(12.0, stepped, 1.5), 1.5);
    EXPECT_DOUBLE_EQ(scaleForTextHeight(20.0, stepped, 1.5), 1.0);
}

// Polarity is decided by each pixel's surroundings: a dark panel beside a light one, and a
// highlighted line across both, all come out as dark strokes on light paper.
TEST(InvertDarkSurroundings, TurnsDarkPanelsAndLinesLightAndLeavesLightOnesAlone)
{
    QImage grey(200, 60, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        for (int x = 0; x < grey.width(); ++x)
            grey.scanLine(y)[x] = ((x < 100) != (y >= 24 && y < 38)) ? 20 : 235;
    }
    // A stroke in each of the four areas in its text colour, and paper: value before and after.
    const std::tuple<QPoint, uchar, uchar> pixels[] = {
        { { 50, 10 }, 220, 35 }, // light text on the dark panel: negated
        { { 50, 31 }, 30, 30 }, // dark text on the light line across the dark panel: kept
        { { 150, 10 }, 30, 30 }, // dark text on the light panel: kept
        { { 150, 31 }, 220, 35 }, // light text on the dark line across the light panel: negated
        { { 20, 5 }, 20, 235 }, { { 20, 31 }, 235, 235 }, { { 180, 31 }, 20, 235 }, // paper
    };
    for (const auto &[at, before, after] : pixels)
        grey.scanLine(at.y())[at.x()] = before;
    invertDarkSurroundings(grey, inversionRadiusFor(14.0));
    for (const auto &[at, before, after] : pixels)
        EXPECT_EQ(grey.scanLine(at.y())[at.x()], after) << at.x() << "," << at.y();
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
