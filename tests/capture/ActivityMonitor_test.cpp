#include "capture/ActivityMonitor.h"
#include "support/FakeCaptureBackend.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <optional>

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

// Wayland: presence (idle after a few seconds, resume at the next input) and how much the captured
// windows change stand in for the input events no client can see.
struct PresenceCase {
    const char *name;
    bool idled; // the source said idle, then this long passed
    double secondsAfter;
    std::optional<double> changeSecondsAgo; // a cycle saw changed windows this long ago
    ActivityLevel expected;
};

class PresenceTest : public ::testing::TestWithParam<PresenceCase> { };

TEST_P(PresenceTest, LevelFollowsPresenceAndWindowChanges)
{
    const PresenceCase &c = GetParam();
    FakeClock clock;
    auto owned = std::make_unique<FakeActivitySource>();
    owned->presenceOnly = true;
    FakeActivitySource *source = owned.get();
    ActivityMonitor monitor(std::move(owned), clock);
    QCoreApplication::processEvents();
    ASSERT_TRUE(monitor.reportsPresenceOnly());

    emit source->resumed();
    clock.advance(70.0 - c.secondsAfter);
    if (c.idled)
        emit source->idled();
    if (c.changeSecondsAgo) {
        clock.advance(c.secondsAfter - *c.changeSecondsAgo);
        monitor.noteWindowsChanged(2);
        clock.advance(*c.changeSecondsAgo);
    } else {
        clock.advance(c.secondsAfter);
    }
    monitor.noteWindowsChanged(0); // a quiet cycle does not erase an earlier change
    monitor.updateActivityLevel();
    EXPECT_EQ(monitor.currentActivityLevel(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Wayland, PresenceTest,
    ::testing::Values(PresenceCase { "present", false, 0, std::nullopt, ActivityLevel::medium },
        // A long stretch without an idle notification is continuous input, not idleness.
        PresenceCase { "present_for_a_minute", false, 65, std::nullopt, ActivityLevel::medium },
        PresenceCase { "present_and_windows_changing", false, 3, 3.0, ActivityLevel::high },
        PresenceCase { "present_with_an_old_change", false, 20, 12.0, ActivityLevel::medium },
        PresenceCase { "reading", true, 10, std::nullopt, ActivityLevel::low },
        // Changes alone (a video, a build log) do not make an absent user busy.
        PresenceCase { "away_while_windows_change", true, 10, 1.0, ActivityLevel::low },
        PresenceCase { "away_for_nearly_a_minute", true, 50, std::nullopt, ActivityLevel::low },
        // Idle counts from the last input, a presence timeout before the notification.
        PresenceCase { "away_for_a_minute", true, 56, std::nullopt, ActivityLevel::idle }),
    [](const ::testing::TestParamInfo<PresenceCase> &info) { return std::string(info.param.name); });

TEST_F(ActivityMonitorTest, PresenceResumeLogsTheChangeOfLevel)
{
    source->presenceOnly = true;
    emit source->idled();
    clock.advance(61.0);
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::idle);
    test::LogCapture log;
    emit source->resumed();
    monitor->updateActivityLevel();
    EXPECT_EQ(monitor->currentActivityLevel(), ActivityLevel::medium);
    EXPECT_EQ(monitor->captureInterval(), 5.0);
    EXPECT_TRUE(log.text().contains(QStringLiteral("Activity level changed: Idle \u2192 Medium")))
        << qPrintable(log.text());
}

} // namespace
} // namespace pellux
