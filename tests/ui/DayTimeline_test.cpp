// The timeline bar's and the date picker's models over a real database: where captures sit
// along their day (days of 24, 23 and 25 hours), where the keys move the playhead, and which
// calendar days can be picked.
#include "persistence/DatabaseTestSupport.h"
#include "support/LocalTimeZone.h"
#include "ui/DayTimeline.h"
#include "ui/DayTimelineModel.h"
#include "ui/MonthCalendarModel.h"

#include <QAbstractItemModelTester>

#include <gmock/gmock.h>

namespace pellux::test {
namespace {

double at(QDate day, int h, int m, int s = 0) { return QDateTime(day, QTime(h, m, s)).toMSecsSinceEpoch() / 1000.0; }

class DayTimelineTest : public DatabaseTest {
protected:
    DayTimelineTest()
    {
        const auto capture = [this](double seconds, const QString &app) {
            ASSERT_TRUE(saveRecording(
                db(), makeRecording(seconds, QStringLiteral("/p/%1.webp").arg(QString::number(seconds, 'f', 0)), app)));
        };
        for (const auto &[h, m, s, app] : std::vector<std::tuple<int, int, int, QString>> { { 0, 0, 0, "Terminal" },
                 { 6, 0, 0, "Firefox" }, { 6, 30, 0, "Terminal" }, { 8, 15, 0, "Mail" }, { 23, 59, 59, "Firefox" } })
            capture(at(busy, h, m, s), app);
        capture(at(single, 12, 0), QStringLiteral("Mail"));
        // Both 02:30 of the day the clocks go back, an hour apart, and noon.
        capture(at(fallBack, 1, 30) + 3600, QStringLiteral("Terminal"));
        capture(at(fallBack, 1, 30) + 7200, QStringLiteral("Terminal"));
        capture(at(fallBack, 12, 0), QStringLiteral("Mail"));
        // Either side of June, in the grid's other months.
        capture(at(QDate(2025, 5, 31), 9, 0), QStringLiteral("Mail"));
        capture(at(QDate(2025, 7, 1), 9, 0), QStringLiteral("Mail"));
    }

    DayTimelineModel &show(QDate day)
    {
        QSignalSpy shown(&timeline, &DayTimelineModel::dayShown);
        timeline.showDay(day);
        EXPECT_TRUE(shown.wait(10'000));
        return timeline;
    }

    LocalTimeZone zone { "Europe/Berlin" };
    const QDate busy { 2025, 6, 10 };
    const QDate empty { 2025, 6, 11 };
    const QDate single { 2025, 6, 12 };
    const QDate fallBack { 2025, 10, 26 };
    const QDate springForward { 2025, 3, 30 };
    DayTimelineModel timeline { db() };
    QAbstractItemModelTester tester { &timeline, QAbstractItemModelTester::FailureReportingMode::Fatal };
};

TEST_F(DayTimelineTest, TicksSitAlongTheRealLengthOfTheirDay)
{
    const auto fractions = [this](QDate day) {
        std::vector<double> f;
        for (int row = 0; row < show(day).rowCount(); ++row)
            f.push_back(timeline.index(row).data(DayTimelineModel::FractionRole).toDouble());
        return f;
    };
    EXPECT_THAT(fractions(busy),
        testing::Pointwise(testing::DoubleNear(1e-6), std::vector { 0.0, 0.25, 0.270833, 0.34375, 86399.0 / 86400 }));
    EXPECT_THAT(fractions(fallBack),
        testing::Pointwise(testing::DoubleNear(1e-6), std::vector { 2.5 / 25, 3.5 / 25, 13.0 / 25 }));
    EXPECT_TRUE(fractions(empty).empty());

    // The hour marks: a skipped hour has none, a repeated one is placed at its first occurrence.
    for (const auto &[day, marks, at, hour, fraction] :
        { std::tuple { busy, 25u, 3, 3, 3.0 / 24 }, { springForward, 24u, 2, 3, 2.0 / 23 },
            { fallBack, 25u, 3, 3, 4.0 / 25 }, { fallBack, 25u, 24, 24, 1.0 } }) {
        const std::vector<timeline::HourMark> m = timeline::hourMarks(day);
        ASSERT_EQ(m.size(), marks);
        EXPECT_EQ(m[size_t(at)].hour, hour);
        EXPECT_DOUBLE_EQ(m[size_t(at)].fraction, fraction);
    }

    // A drag lands on the capture nearest in time.
    show(busy);
    for (const auto &[fraction, index] : std::vector<std::pair<double, int>> {
             { -1, 0 }, { 0.2, 1 }, { 0.26, 1 }, { 0.261, 2 }, { 0.6, 3 }, { 0.7, 4 }, { 2, 4 } })
        EXPECT_EQ(timeline.indexAt(fraction), index) << fraction;
    EXPECT_EQ(timeline.legend().size(), 3);
    EXPECT_EQ(timeline.legend().first().toMap().value("name").toString(), QStringLiteral("Firefox"));
}

TEST_F(DayTimelineTest, KeysStepByCaptureByHourAndToTheEnds)
{
    struct Case {
        const char *name;
        QDate day;
        std::vector<int> keys;
        int expected;
        QString time;
    };
    const std::vector<Case> cases {
        { "opens on the last capture", busy, {}, 4, "23:59:59" },
        { "Home", busy, { Qt::Key_Home }, 0, "00:00:00" },
        { "Left stops at the first", busy, { Qt::Key_Home, Qt::Key_Left }, 0, "00:00:00" },
        { "Right", busy, { Qt::Key_Home, Qt::Key_Right }, 1, "06:00:00" },
        { "an hour on from 06:00 is 08:15", busy, { Qt::Key_Home, Qt::Key_Right, Qt::Key_PageDown }, 3, "08:15:00" },
        { "an hour on from 06:30 is 08:15", busy, { Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_PageDown }, 3,
            "08:15:00" },
        { "an hour back from 08:15 is 06:30", busy, { Qt::Key_End, Qt::Key_Left, Qt::Key_PageUp }, 2, "06:30:00" },
        { "an hour back from 06:00 is the first", busy, { Qt::Key_Home, Qt::Key_Right, Qt::Key_PageUp }, 0,
            "00:00:00" },
        { "Page Down stops at the last", busy, { Qt::Key_End, Qt::Key_PageDown, Qt::Key_Right }, 4, "23:59:59" },
        { "one capture: every key stays", single,
            { Qt::Key_Left, Qt::Key_Right, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home }, 0, "12:00:00" },
        { "the repeated hour in order", fallBack, { Qt::Key_Home, Qt::Key_Right }, 1, "02:30:00" },
        { "an empty day has no playhead", empty, { Qt::Key_Home, Qt::Key_End, Qt::Key_Right }, -1, "" },
    };
    for (const Case &c : cases) {
        show(c.day);
        for (const int key : c.keys)
            EXPECT_TRUE(timeline.handleKey(key)) << c.name;
        EXPECT_EQ(timeline.currentIndex(), c.expected) << c.name;
        EXPECT_EQ(timeline.currentTime(), c.time) << c.name;
    }
    EXPECT_FALSE(timeline.handleKey(Qt::Key_A));
    // Enter names the capture under the playhead.
    show(single);
    QSignalSpy open(&timeline, &DayTimelineModel::openRequested);
    timeline.openCurrent();
    ASSERT_EQ(open.size(), 1);
    EXPECT_EQ(open[0][1].toString(), QStringLiteral("/p/%1.webp").arg(QString::number(at(single, 12, 0), 'f', 0)));
}

TEST_F(DayTimelineTest, CalendarEnablesTheDaysWithCapturesAcrossMonthBoundaries)
{
    struct Case {
        const char *locale;
        QDate firstCell;
        QStringList enabled;
        QString firstWeekday;
    };
    for (const Case &c :
        { Case { "de_DE", { 2025, 5, 26 }, { "2025-05-31", "2025-06-10", "2025-06-12", "2025-07-01" }, "Mo" },
            Case { "en_US", { 2025, 6, 1 }, { "2025-06-10", "2025-06-12", "2025-07-01" }, "Sun" } }) {
        MonthCalendarModel calendar(db(), Clock::system(), QLocale(QString::fromLatin1(c.locale)));
        QAbstractItemModelTester calendarTester(&calendar, QAbstractItemModelTester::FailureReportingMode::Fatal);
        QSignalSpy loaded(&calendar, &MonthCalendarModel::daysLoaded);
        calendar.open(QDate(2025, 6, 30));
        ASSERT_TRUE(loaded.wait(10'000));
        EXPECT_EQ(calendar.rowCount(), 42);
        EXPECT_EQ(calendar.cellDate(0), c.firstCell) << c.locale;
        EXPECT_EQ(calendar.weekdayNames().value(0).left(c.firstWeekday.size()), c.firstWeekday) << c.locale;
        QStringList enabled;
        for (int row = 0; row < 42; ++row) {
            if (calendar.index(row).data(MonthCalendarModel::EnabledRole).toBool())
                enabled << calendar.cellDate(row).toString(Qt::ISODate);
        }
        EXPECT_EQ(enabled, c.enabled) << c.locale;

        // Right from the month's last day is the next month's first, which has a capture.
        QSignalSpy picked(&calendar, &MonthCalendarModel::dayPicked);
        EXPECT_TRUE(calendar.handleKey(Qt::Key_Right));
        EXPECT_EQ(calendar.month(), QDate(2025, 7, 1));
        ASSERT_TRUE(loaded.wait(10'000));
        EXPECT_TRUE(calendar.handleKey(Qt::Key_Return));
        ASSERT_EQ(picked.size(), 1);
        EXPECT_EQ(picked[0][0].toDate(), QDate(2025, 7, 1));
        // A day without captures cannot be picked, by key or by click.
        EXPECT_TRUE(calendar.handleKey(Qt::Key_Down));
        EXPECT_FALSE(calendar.handleKey(Qt::Key_Enter));
        EXPECT_EQ(picked.size(), 1);
    }
}

} // namespace
} // namespace pellux::test
