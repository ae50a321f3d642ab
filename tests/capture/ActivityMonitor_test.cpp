#include "capture/ActivityMonitor.h"
#include "support/FakeCaptureBackend.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace pellux {
namespace {

using test::FakeClock;

using test::FakeActivitySource;

// The monitor fed by a fake input source, so events travel the same path as in the application.
class ActivityMonitorTest : public ::testing::Test {
protected:
    ActivityMonitorTest()
    {
        auto owned = std::make_unique<FakeActivitySource>();
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
TEST(ActivityLevelTest, RawValuesAndIntervals)
{
    EXPECT_EQ(rawValue(ActivityLevel::idle), "Idle");
    EXPECT_EQ(rawValue(ActivityLevel::low), "Low");
    EXPECT_EQ(rawValue(ActivityLevel::medium), "Medium");
    EXPECT_EQ(rawValue(ActivityLevel::high), "High");
    EXPECT_EQ(captureIntervalFor(ActivityLevel::idle), 30.0);
    EXPECT_EQ(captureIntervalFor(ActivityLevel::low), 15.0);
    EXPECT_EQ(captureIntervalFor(ActivityLevel::medium), 5.0);
    EXPECT_EQ(captureIntervalFor(ActivityLevel::high), 2.0);
}

TEST_F(ActivityMonitorTest, StartsIdleWithFiveSecondInterval)
{
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::idle);
    EXPECT_EQ(monitor->captureInterval(), 5.0);
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::idle);
    EXPECT_EQ(monitor->captureInterval(), 30.0);
}

struct CountCase {
    int events;
    int keyPresses;
    ActivityLevel expected;
};

class ActivityCountTest : public ActivityMonitorTest, public ::testing::WithParamInterface<CountCase> { };

TEST_P(ActivityCountTest, LevelFollowsEventsAndKeyPresses)
{
    const CountCase c = GetParam();
    keys(c.keyPresses);
    clicks(c.events - c.keyPresses);
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), c.expected) << c.events << " events, " << c.keyPresses << " key presses";
    EXPECT_EQ(monitor->captureInterval(), captureIntervalFor(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Thresholds, ActivityCountTest,
    ::testing::Values(CountCase { 0, 0, ActivityLevel::idle }, CountCase { 2, 0, ActivityLevel::idle },
        CountCase { 3, 0, ActivityLevel::low }, CountCase { 10, 5, ActivityLevel::low },
        CountCase { 11, 0, ActivityLevel::medium }, CountCase { 20, 5, ActivityLevel::medium },
        CountCase { 21, 0, ActivityLevel::high }, CountCase { 21, 5, ActivityLevel::high },
        CountCase { 6, 6, ActivityLevel::medium }, CountCase { 10, 10, ActivityLevel::medium },
        CountCase { 20, 10, ActivityLevel::medium }, CountCase { 11, 11, ActivityLevel::high },
        CountCase { 3, 3, ActivityLevel::low }));

TEST_F(ActivityMonitorTest, EventsOlderThanTheWindowNoLongerCount)
{
    clicks(25);
    clock.advance(5.0); // exactly five seconds old: no longer strictly inside the window
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::idle);
}

TEST_F(ActivityMonitorTest, IdleAfterAMinuteWithoutInputWhateverTheCounters)
{
    keys(30);
    clock.advance(60.5);
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::idle);
    EXPECT_EQ(monitor->captureInterval(), 30.0);
}

TEST_F(ActivityMonitorTest, KeyCounterResetsAfterFiveSeconds)
{
    // Eleven key presses spread so that only a few stay in the sliding window.
    keys(11);
    clock.advance(4.0);
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::high);
    clock.advance(1.5); // the counters are now older than five seconds and reset
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::idle);
}

TEST_F(ActivityMonitorTest, SmallPointerMovesCountOnlyAsEvents)
{
    // Moves of 5 points or less are not pointer moves, yet each is an event in the window.
    for (int i = 1; i <= 3; ++i)
        emit source->mouseMoved(QPointF(i * 1.0, 0));
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::low);
}

TEST_F(ActivityMonitorTest, LevelChangeIsAnnouncedOnceWithTheNewInterval)
{
    QSignalSpy changes(monitor.get(), &ActivityMonitor::activityLevelChanged);
    QSignalSpy intervalNotifications(monitor.get(), &ActivityMonitor::captureIntervalChanged);
    test::LogCapture log(test::LogCapture::Verbosity::quiet);

    clicks(3);
    monitor->updateActivityLevel(); // idle -> low
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(2).toDouble(), 15.0);

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

TEST_F(ActivityMonitorTest, StartsTheSourceAndTheOnceASecondTimer)
{
    EXPECT_EQ(source->startCalls, 1);
    EXPECT_TRUE(monitor->isMonitoring());
}

TEST_F(ActivityMonitorTest, ScrollsAndLargeMovesAreEventsToo)
{
    emit source->scrolled(3.0);
    emit source->scrolled(0.5);
    emit source->mouseMoved(QPointF(100, 100));
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::low);
}

} // namespace
} // namespace pellux
