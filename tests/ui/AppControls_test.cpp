// The controls the window offers where no tray does: the state it shows, how long a pause lasts,
// and what closing the window does without a tray.
#include "support/AlertAnswers.h"
#include "support/FakeClock.h"
#include "ui/AppControls.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace pellux;
using test::AlertAnswers;

namespace {

TimePoint local(int day, int hour, int minute)
{
    return fromSecondsSince1970(QDateTime(QDate(2026, 12, day), QTime(hour, minute)).toSecsSinceEpoch());
}

} // namespace

TEST(AppControls, StateAndPauses)
{
    test::FakeClock clock(local(8, 21, 30));
    std::vector<std::optional<TimePoint>> pauses;
    int resumes = 0;
    AppControls controls(
        { {}, {}, {}, {}, [&](std::optional<TimePoint> until) { pauses.push_back(until); }, [&] { ++resumes; }, {} },
        clock);

    controls.pauseFor(30);
    controls.pauseFor(0);
    controls.pauseFor(-1);
    EXPECT_EQ(pauses, (std::vector<std::optional<TimePoint>> { local(8, 22, 0), std::nullopt, local(9, 0, 0) }));

    const struct {
        bool capturing, canCapture;
        std::optional<TimePoint> until;
        double interval;
        QString text;
    } states[] = {
        { true, true, std::nullopt, 0, "Recording" },
        { true, true, std::nullopt, 2.5, "Recording, every 2.5 s" },
        { false, true, std::nullopt, 2, "Paused" },
        { false, true, local(8, 22, 0), 2, "Paused until " + QLocale().toString(QTime(22, 0), QLocale::ShortFormat) },
        { false, true, local(9, 0, 0), 2,
            "Paused until tomorrow, " + QLocale().toString(QTime(0, 0), QLocale::ShortFormat) },
        { false, false, std::nullopt, 2, "Not recording" },
    };
    for (const auto &s : states) {
        controls.setInterval(s.interval);
        controls.setState(s.capturing, s.canCapture, s.until);
        EXPECT_EQ(controls.stateText(), s.text);
    }

    // Ctrl+P: pauses while recording (until resumed), resumes otherwise.
    controls.setState(true, true, std::nullopt);
    controls.togglePause();
    EXPECT_EQ(pauses.back(), std::nullopt);
    EXPECT_EQ(pauses.size(), 4u);
    controls.setState(false, true, std::nullopt);
    controls.togglePause();
    EXPECT_EQ(resumes, 1);
}

// With a tray the window just closes; without one the user is asked, and may quit from there.
TEST(AppControls, ClosingTheWindowWithoutATrayAsks)
{
    bool tray = true;
    int quits = 0;
    AppControls controls({ {}, {}, {}, [&] { ++quits; }, {}, {}, [&] { return tray; } });
    EXPECT_TRUE(controls.confirmClose(nullptr));

    tray = false;
    const std::pair<const char *, bool> answers[]
        = { { "Keep Running", true }, { "Cancel", false }, { "Quit", false } };
    for (const auto &[answer, closes] : answers) {
        AlertAnswers alerts({ QString::fromLatin1(answer) });
        EXPECT_EQ(controls.confirmClose(nullptr), closes) << answer;
        EXPECT_EQ(alerts.messages, QStringList { "Keep Pellux Running in the Background?" });
        EXPECT_EQ(alerts.defaults, QStringList { "Keep Running" });
    }
    EXPECT_EQ(quits, 1);
}
