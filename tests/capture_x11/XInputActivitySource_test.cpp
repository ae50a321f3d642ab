#include "capture/x11/XInputActivitySource.h"
#include "support/XvfbSession.h"

using namespace pellux;

namespace {

using test::runEventsUntil;
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

    void xdotool(const char *arguments)
    {
        ASSERT_EQ(
            session.run(QStringList { QStringLiteral("xdotool") } + QString::fromLatin1(arguments).split(' ')), 0);
    }

    XvfbSession session { XvfbSession::Options { { 1280, 1024 }, false } };
    XInputActivitySource source { session.display() };
    Counts counts;
};

TEST_F(XInputActivitySourceTest, CountsKeyPressesClicksScrollsAndMovesUntilTheServerGoesAndWithoutOneDoesNotStart)
{
    xdotool("mousemove 100 100");
    xdotool("mousemove_relative 40 30");
    ASSERT_TRUE(runEventsUntil([&] { return !counts.moves.empty() && counts.moves.back() == QPointF(140, 130); }));
    xdotool("key a");
    ASSERT_TRUE(runEventsUntil([&] { return counts.keys == 1; }));
    // Two presses: shift and the letter; releases are not counted.
    xdotool("key shift+b");
    ASSERT_TRUE(runEventsUntil([&] { return counts.keys == 3; }));
    EXPECT_TRUE(counts.clicks == 0 && counts.scrolls.empty());
    for (const char *button : { "click 1", "click 2", "click 3", "click 4", "click 5" })
        xdotool(button);
    // A key press after the buttons shows that every button event has been read.
    xdotool("key a");
    ASSERT_TRUE(runEventsUntil([&] { return counts.keys == 4; }));
    EXPECT_EQ(counts.clicks, 2); // buttons 1 and 3; the middle button does not count
    EXPECT_EQ(counts.scrolls, (std::vector<double> { 3.0, -3.0 }));

    // The server going away stops the source cleanly.
    session.killServer();
    ASSERT_TRUE(runEventsUntil([&] { return !source.isRunning(); }));
    EXPECT_EQ(counts.keys, 4);

    XInputActivitySource serverless(QStringLiteral(":65000"));
    EXPECT_FALSE(serverless.start() || serverless.isRunning());
}

} // namespace
