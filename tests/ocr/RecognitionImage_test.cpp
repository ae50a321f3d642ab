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
TEST(TextHeight, IsTheCapitalHeightOfTheFontNothingWithoutTextAndEnlargesSmallPrintMore)
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

    // Nothing without text: no image, a flat one, panel borders and rules (sharp edges, but no rows
    // crossing several of them), and a colour image not yet converted to grey.
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

    const TextHeightScaling rule { .targetLineHeight_px = 24, .minimumScale = 1.0, .maximumScale = 3.0 };
    // Text that reads well from a height on is brought only to the lower target.
    TextHeightScaling stepped = rule;
    stepped.readableFrom_px = 12;
    stepped.readableTarget_px = 18;
    const TextHeightScaling shrinking { .targetLineHeight_px = 24, .minimumScale = 0.5 };
    // Unmeasured text keeps the fallback (1.5), whatever the rule says.
    const std::tuple<const TextHeightScaling &, std::optional<double>, double> table[] = { { rule, std::nullopt, 1.5 },
        { rule, 0.0, 1.5 }, { rule, 4, 3.0 }, { rule, 6, 3.0 }, { rule, 8, 3.0 }, { rule, 10, 2.4 }, { rule, 12, 2.0 },
        { rule, 16, 1.5 }, { rule, 24, 1.0 }, { rule, 30, 1.0 }, { rule, 80, 1.0 }, { shrinking, 48, 0.5 },
        { stepped, 8, 3.0 }, { stepped, 11, 24.0 / 11.0 }, { stepped, 12, 1.5 }, { stepped, 20, 1.0 } };
    for (const auto &[scaling, height, scale] : table)
        EXPECT_DOUBLE_EQ(scaleForTextHeight(height, scaling, 1.5), scale) << height.value_or(-1);
}

// Polarity is decided by each pixel's surroundings: a dark panel beside a light one, and a
// highlighted line across both, all come out as dark strokes on light paper (coloured grounds are
// read end to end in the processor's test), and the light gap between two coloured buttons stays
// light.
TEST(PrepareForRecognition, TurnsDarkPanelsAndLinesLightConvertsToGreyAndEnlargesByTheTuningsScale)
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
    QImage buttons(100, 40, QImage::Format_RGB32);
    buttons.fill(QColor(0x16, 0xa3, 0x4a));
    QPainter(&buttons).fillRect(47, 0, 6, 40, QColor(0xef, 0xef, 0xef));
    QImage buttonsGrey = buttons.convertToFormat(QImage::Format_Grayscale8);
    invertDarkSurroundings(buttonsGrey, inversionRadiusFor(14.0), buttons);
    EXPECT_GT(buttonsGrey.scanLine(20)[50], 200);
    EXPECT_EQ(std::pair(inversionRadiusFor(std::nullopt), inversionRadiusFor(100.0)),
        std::pair(kUnmeasuredInversionRadius, kMaximumInversionRadius));

    QImage image(200, 100, QImage::Format_ARGB32);
    image.fill(QColor(10, 10, 10));
    const PreparedImage prepared = prepareForRecognition(image, accurateTuning());
    EXPECT_EQ(std::tuple(prepared.grey.format(), prepared.grey.size(), prepared.scale),
        std::tuple(QImage::Format_Grayscale8, QSize(300, 150), 1.5));
    // The dark image came out light.
    EXPECT_GT(meanGrey(prepared.grey), kDarkBackgroundMeanGrey);

    const PreparedImage plain = prepareForRecognition(image, fastTuning());
    EXPECT_TRUE(plain.grey.size() == image.size() && meanGrey(plain.grey) < kDarkBackgroundMeanGrey);
    EXPECT_TRUE(prepareForRecognition(QImage(), accurateTuning()).grey.isNull());

    // Large screens are enlarged only up to the ceiling.
    QImage large(3840, 2160, QImage::Format_RGB32);
    large.fill(Qt::white);
    const PreparedImage capped = prepareForRecognition(large, accurateTuning());
    EXPECT_EQ(
        std::pair(capped.grey.width(), capped.scale), std::pair(kMaximumPreparedSide, kMaximumPreparedSide / 3840.0));
}
