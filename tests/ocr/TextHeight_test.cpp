#include "RenderedText.h"

#include "ocr/RecognitionImage.h"
#include "ocr/TextHeight.h"

#include <gtest/gtest.h>

#include <algorithm>

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
        HeightCase { 20, false, "Liberation Serif" }));

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

TEST(PrepareForRecognitionByTextHeight, EnlargesEachFrameByItsOwnTextSize)
{
    double previous = kMaximumTextScale + 1;
    for (const double points : { 7.0, 8.0, 11.0, 20.0, 48.0 }) {
        const RenderedText rendered
            = renderText(kTerminalLines, { {}, pixelsForPoints(points), Qt::black, Qt::white, "DejaVu Sans Mono" });
        const PreparedImage prepared = prepareForRecognition(rendered.image, accurateTuning());
        ASSERT_TRUE(prepared.textLineHeight_px) << points;
        EXPECT_GE(prepared.scale, 1.0) << points;
        EXPECT_LE(prepared.scale, kMaximumTextScale + 0.01) << points;
        EXPECT_LE(prepared.scale, previous) << points;
        EXPECT_NEAR(prepared.grey.width(), rendered.image.width() * prepared.scale, 1.0) << points;
        previous = prepared.scale;
    }
    // Large text already is as tall as the target: it is recognised as it is.
    EXPECT_DOUBLE_EQ(previous, 1.0);
}
