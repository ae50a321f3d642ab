#include "capture/ActivityMonitor.h"
#include "support/FakeCaptureBackend.h"
#include "support/FakeClock.h"

using namespace pellux;

namespace {

using test::FakeActivitySource;
using test::FakeClock;
using Level = ActivityLevel;

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
    // `events` inputs of which `keyPresses` are keys (the rest clicks), then `age` seconds pass.
    std::function<void()> input(int events, int keyPresses, double age = 0)
    {
        return [=, this] {
            for (int i = 0; i < events; ++i)
                i < keyPresses ? emit source->keyPressed() : emit source->clicked();
            clock.advance(age);
        };
    }

    FakeClock clock;
    FakeActivitySource *source = nullptr;
    std::unique_ptr<ActivityMonitor> monitor;
};

// Events and key presses strictly inside the last five seconds give the level, and it the interval.
TEST_F(ActivityMonitorTest, LevelAndIntervalFollowTheInputOfTheLastFiveSecondsOrPresenceAndAChangeIsAnnouncedOnce)
{
    const std::map<Level, double> intervals { { Level::idle, 30 }, { Level::low, 15 }, { Level::medium, 5 },
        { Level::high, 2 } };
    const struct {
        const char *name;
        std::function<void()> input;
        Level expected;
    } cases[] = {
        { "2 events", input(2, 0), Level::idle },
        { "3 events", input(3, 0), Level::low },
        { "3 keys", input(3, 3), Level::low },
        { "10 events, 5 keys", input(10, 5), Level::low },
        { "11 events", input(11, 0), Level::medium },
        { "6 keys", input(6, 6), Level::medium },
        { "20 events, 10 keys", input(20, 10), Level::medium },
        { "21 events", input(21, 0), Level::high },
        { "11 keys", input(11, 11), Level::high },
        { "11 keys 4 s ago", input(11, 11, 4.0), Level::high },
        { "events 5 s ago", input(25, 0, 5.0), Level::idle },
        { "keys 5.5 s ago", input(11, 11, 5.5), Level::idle },
        // Moves of 5 points or less are not pointer moves, yet each is an event.
        { "small moves",
            [&] {
                for (int i = 1; i <= 3; ++i)
                    emit source->mouseMoved(QPointF(i, 0));
            },
            Level::low },
        { "scrolls and a large move",
            [&] { emit source->scrolled(3.0), emit source->scrolled(0.5), emit source->mouseMoved(QPointF(100, 100)); },
            Level::low },
    };
    EXPECT_TRUE(source->startCalls == 1 && monitor->isMonitoring());
    for (const auto &c : cases) {
        c.input();
        monitor->updateActivityLevel();
        EXPECT_EQ(monitor->currentActivityLevel(), c.expected) << c.name;
        EXPECT_EQ(monitor->captureInterval(), intervals.at(c.expected)) << c.name;
        clock.advance(61.0); // the next case starts from nothing
        monitor->updateActivityLevel();
    }

    QSignalSpy changes(monitor.get(), &ActivityMonitor::activityLevelChanged);
    QSignalSpy intervalNotifications(monitor.get(), &ActivityMonitor::captureIntervalChanged);
    test::LogCapture log(test::LogCapture::Verbosity::quiet);
    for (const int events : { 3, 20, 0 }) { // idle -> low -> high, then still high
        input(events, 0)();
        monitor->updateActivityLevel();
    }
    ASSERT_EQ(std::pair(changes.count(), intervalNotifications.count()), std::pair(qsizetype(2), qsizetype(3)));
    EXPECT_EQ(changes.at(1), (QVariantList { QVariant::fromValue(Level::low), QVariant::fromValue(Level::high), 2.0 }));
    // The desktop tests read these lines.
    EXPECT_EQ(log.lines(),
        QStringList({ "Activity level changed: Idle \u2192 Low", "Capture interval: 15.0 seconds",
            "Activity level changed: Low \u2192 High", "Capture interval: 2.0 seconds" }));

    // Wayland: presence (idle after a few seconds, resume at the next input) and how much the captured
    // windows change stand in for the input events no client can see.
    start(true);
    ASSERT_TRUE(monitor->reportsPresenceOnly());
    const struct {
        const char *name;
        bool idled; // the source said idle, then this long passed
        double secondsAfter;
        std::optional<double> changeSecondsAgo; // a cycle saw changed windows this long ago
        Level expected;
    } presence[] = {
        { "present", false, 0, std::nullopt, Level::medium },
        // A long stretch without an idle notification is continuous input, not idleness.
        { "present for a minute", false, 65, std::nullopt, Level::medium },
        { "present and windows changing", false, 3, 3.0, Level::high },
        { "present with an old change", false, 20, 12.0, Level::medium },
        // Changes alone (a video, a build log) do not make an absent user busy.
        { "away while windows change", true, 10, 1.0, Level::low },
        { "away for nearly a minute", true, 50, std::nullopt, Level::low },
        // Idle counts from the last input, a presence timeout before the notification.
        { "away for a minute", true, 56, std::nullopt, Level::idle },
        { "back", false, 0, std::nullopt, Level::medium },
    };
    for (const auto &c : presence) {
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

} // namespace
