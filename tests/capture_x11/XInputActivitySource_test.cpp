#include "capture/x11/XInputActivitySource.h"
#include "support/XvfbSession.h"

#include <gtest/gtest.h>

#include <vector>

namespace pellux {
namespace {

using test::XvfbSession;

struct Counts {
    int keys = 0;
    int clicks = 0;
    std::vector<double> scrolls;
    std::vector<QPointF> moves;
};

class XInputActivitySourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!session.isRunning())
            GTEST_SKIP() << "no X session: " << session.errorString().toStdString();
        QObject::connect(&source, &ActivitySource::keyPressed, [this] { ++counts.keys; });
        QObject::connect(&source, &ActivitySource::clicked, [this] { ++counts.clicks; });
        QObject::connect(
            &source, &ActivitySource::scrolled, [this](double deltaY) { counts.scrolls.push_back(deltaY); });
        QObject::connect(&source, &ActivitySource::mouseMoved, [this](QPointF p) { counts.moves.push_back(p); });
        ASSERT_TRUE(source.start());
    }

    void xdotool(const QStringList &arguments)
    {
        ASSERT_EQ(session.run(QStringList { QStringLiteral("xdotool") } + arguments), 0);
    }

    XvfbSession session { XvfbSession::Options { { 1280, 1024 }, false } };
    XInputActivitySource source { session.display() };
    Counts counts;
};

TEST_F(XInputActivitySourceTest, CountsKeyPresses)
{
    xdotool({ QStringLiteral("key"), QStringLiteral("a") });
    ASSERT_TRUE(XvfbSession::waitUntil([&] { return counts.keys == 1; }));
    // Two presses: shift and the letter; releases are not counted.
    xdotool({ QStringLiteral("key"), QStringLiteral("shift+b") });
    ASSERT_TRUE(XvfbSession::waitUntil([&] { return counts.keys == 3; }));
    EXPECT_EQ(counts.clicks, 0);
    EXPECT_TRUE(counts.scrolls.empty());
}

TEST_F(XInputActivitySourceTest, LeftAndRightButtonsAreClicksAndTheWheelScrolls)
{
    for (const char *button : { "1", "2", "3", "4", "5" })
        xdotool({ QStringLiteral("click"), QString::fromLatin1(button) });
    // A key press after the buttons shows that every button event has been read.
    xdotool({ QStringLiteral("key"), QStringLiteral("a") });
    ASSERT_TRUE(XvfbSession::waitUntil([&] { return counts.keys == 1; }));
    EXPECT_EQ(counts.clicks, 2); // buttons 1 and 3; the middle button does not count
    EXPECT_EQ(counts.scrolls, (std::vector<double> { 3.0, -3.0 }));
}

TEST_F(XInputActivitySourceTest, RelativeMotionReportsThePointerPosition)
{
    xdotool({ QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("100") });
    xdotool({ QStringLiteral("mousemove_relative"), QStringLiteral("40"), QStringLiteral("30") });
    ASSERT_TRUE(XvfbSession::waitUntil([&] { return !counts.moves.empty(); }));
    EXPECT_EQ(counts.moves.back(), QPointF(140, 130));
    EXPECT_EQ(counts.keys, 0);
    EXPECT_EQ(counts.clicks, 0);
}

TEST_F(XInputActivitySourceTest, StopsCleanlyWhenTheServerGoesAway)
{
    session.killServer();
    ASSERT_TRUE(XvfbSession::waitUntil([&] { return !source.isRunning(); }));
    EXPECT_EQ(counts.keys, 0);
}

TEST(XInputActivitySourceWithoutServer, DoesNotStart)
{
    XInputActivitySource source(QStringLiteral(":65000"));
    EXPECT_FALSE(source.start());
    EXPECT_FALSE(source.isRunning());
}

} // namespace
} // namespace pellux
