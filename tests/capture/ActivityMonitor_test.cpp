#include "capture/ActivityMonitor.h"
#include "support/FakeCaptureBackend.h"
#include "support/FakeClock.h"

namespace pellux {
namespace {

using test::FakeActivitySource;
using test::FakeClock;

// The monitor fed by a fake input source, so events travel the same path as in the application.
class ActivityMonitorTest : public ::testing::Test {
protected:
    ActivityMonitorTest() { start(false); }
    // A new monitor over a new source; `presenceOnly` as the Wayland sources are.
    void start(bool presenceOnly)
    {
        auto owned = std::make_unique<FakeActivitySource>();
        owned->presenceOnly = presenceOnly;
        source = owned.get();
        monitor = std::make_unique<ActivityMonitor>(std::move(owned), clock);
        QCoreApplication::processEvents(); // monitoring starts from the event loop
    }

    void keys(int times)
    {
        for (int i = 0; i < times; ++i)
            emit source->keyPressed();
    }
    void clicks(int times)
    {
        for (int i = 0; i < times; ++i)
            emit source->clicked();
    }

    FakeClock clock;
    FakeActivitySource *source = nullptr;
    std::unique_ptr<ActivityMonitor> monitor;
};

// The source is started; events and key presses in the last five seconds give the level and interval.
TEST_F(ActivityMonitorTest, LevelFollowsEventsAndKeyPresses)
{
    const struct {
        int events, keyPresses;
        ActivityLevel expected;
        double interval;
    } cases[] = {
        { 2, 0, ActivityLevel::idle, 30.0 },
        { 3, 0, ActivityLevel::low, 15.0 },
        { 3, 3, ActivityLevel::low, 15.0 },
        { 10, 5, ActivityLevel::low, 15.0 },
        { 11, 0, ActivityLevel::medium, 5.0 },
        { 6, 6, ActivityLevel::medium, 5.0 },
        { 10, 10, ActivityLevel::medium, 5.0 },
        { 20, 10, ActivityLevel::medium, 5.0 },
        { 21, 0, ActivityLevel::high, 2.0 },
        { 11, 11, ActivityLevel::high, 2.0 },
    };
    EXPECT_TRUE(source->startCalls == 1 && monitor->isMonitoring());
    for (const auto &c : cases) {
        keys(c.keyPresses);
        clicks(c.events - c.keyPresses);
        monitor->updateActivityLevel();
        EXPECT_EQ(monitor->currentActivityLevel(), c.expected) << c.events << " events, " << c.keyPresses << " keys";
        EXPECT_EQ(monitor->captureInterval(), c.interval) << c.events << " events, " << c.keyPresses << " keys";
        clock.advance(61.0); // the next case starts from nothing
        monitor->updateActivityLevel();
    }
}

TEST_F(ActivityMonitorTest, WhatCountsAndForHowLong)
{
    const struct {
        const char *name;
        std::function<void()> input;
        ActivityLevel expected;
    } cases[] = {
        // Exactly five seconds old: no longer strictly inside the window.
        { "old events", [&] { clicks(25), clock.advance(5.0); }, ActivityLevel::idle },
        { "old keys", [&] { keys(11), clock.advance(5.5); }, ActivityLevel::idle },
        { "a minute without input", [&] { keys(30), clock.advance(60.5); }, ActivityLevel::idle },
        { "recent keys", [&] { keys(11), clock.advance(4.0); }, ActivityLevel::high },
        // Moves of 5 points or less are not pointer moves, yet each is an event.
        { "small moves",
            [&] {
                for (int i = 1; i <= 3; ++i)
                    emit source->mouseMoved(QPointF(i, 0));
            },
            ActivityLevel::low },
        { "scrolls and a large move",
            [&] { emit source->scrolled(3.0), emit source->scrolled(0.5), emit source->mouseMoved(QPointF(100, 100)); },
            ActivityLevel::low },
    };
    for (const auto &c : cases) {
        c.input();
        monitor->updateActivityLevel();
        EXPECT_EQ(monitor->currentActivityLevel(), c.expected) << c.name;
        clock.advance(61.0);
        monitor->updateActivityLevel();
    }
}

TEST_F(ActivityMonitorTest, ALevelChangeIsAnnouncedOnceWithTheNewInterval)
{
    QSignalSpy changes(monitor.get(), &ActivityMonitor::activityLevelChanged);
    QSignalSpy intervalNotifications(monitor.get(), &ActivityMonitor::captureIntervalChanged);
    test::LogCapture log(test::LogCapture::Verbosity::quiet);

    clicks(3);
    monitor->updateActivityLevel(); // idle -> low
    clicks(20);
    monitor->updateActivityLevel(); // low -> high
    ASSERT_EQ(changes.count(), 2);
    EXPECT_EQ(changes.at(1).at(0).value<ActivityLevel>(), ActivityLevel::low);
    EXPECT_EQ(changes.at(1).at(1).value<ActivityLevel>(), ActivityLevel::high);
    EXPECT_EQ(changes.at(1).at(2).toDouble(), 2.0);
    monitor->updateActivityLevel(); // still high: notified, but no change announced
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(intervalNotifications.count(), 3);
    EXPECT_EQ(log.lines(),
        QStringList({ "Activity level changed: Idle \u2192 Low", "Capture interval: 15.0 seconds",
            "Activity level changed: Low \u2192 High", "Capture interval: 2.0 seconds" }));
}

// Wayland: presence (idle after a few seconds, resume at the next input) and how much the captured
// windows change stand in for the input events no client can see.
TEST_F(ActivityMonitorTest, WithPresenceOnlyTheLevelFollowsPresenceAndWindowChanges)
{
    start(true);
    ASSERT_TRUE(monitor->reportsPresenceOnly());
    const struct {
        const char *name;
        bool idled; // the source said idle, then this long passed
        double secondsAfter;
        std::optional<double> changeSecondsAgo; // a cycle saw changed windows this long ago
        ActivityLevel expected;
    } cases[] = {
        { "present", false, 0, std::nullopt, ActivityLevel::medium },
        // A long stretch without an idle notification is continuous input, not idleness.
        { "present for a minute", false, 65, std::nullopt, ActivityLevel::medium },
        { "present and windows changing", false, 3, 3.0, ActivityLevel::high },
        { "present with an old change", false, 20, 12.0, ActivityLevel::medium },
        // Changes alone (a video, a build log) do not make an absent user busy.
        { "away while windows change", true, 10, 1.0, ActivityLevel::low },
        { "away for nearly a minute", true, 50, std::nullopt, ActivityLevel::low },
        // Idle counts from the last input, a presence timeout before the notification.
        { "away for a minute", true, 56, std::nullopt, ActivityLevel::idle },
    };
    for (const auto &c : cases) {
        emit source->resumed();
        clock.advance(70.0 - c.secondsAfter);
        if (c.idled)
            emit source->idled();
        clock.advance(c.secondsAfter - c.changeSecondsAgo.value_or(0));
        if (c.changeSecondsAgo)
            monitor->noteWindowsChanged(2);
        clock.advance(c.changeSecondsAgo.value_or(0));
        monitor->noteWindowsChanged(0); // a quiet cycle does not erase an earlier change
        monitor->updateActivityLevel();
        EXPECT_EQ(monitor->currentActivityLevel(), c.expected) << c.name;
        clock.advance(30.0); // past the last change
    }
}

TEST_F(ActivityMonitorTest, WithPresenceOnlyAResumeAfterIdleIsLoggedAsAChangeOfLevel)
{
    start(true);
    emit source->idled();
    clock.advance(61.0);
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::idle);
    test::LogCapture log;
    emit source->resumed();
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->captureInterval(), 5.0);
    EXPECT_TRUE(log.text().contains(QStringLiteral("Activity level changed: Idle \u2192 Medium")))
        << qPrintable(log.text());
}

} // namespace
} // namespace pellux
