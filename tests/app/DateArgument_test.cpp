#include "app/commands/DateArgument.h"
#include "support/LocalTimeZone.h"
#include "support/TestFiles.h"

using namespace pellux;
using namespace pellux::commands;
using namespace pellux::test;

// Each DATE form at either end of a range, in a zone whose 30 March has 23 hours and whose
// 26 October has 25, "today" being 30 March 2025. Expected instants are in UTC.
TEST(DateArgument, ParsesEachFormAtEitherEndAcrossDaylightSavingAndMonthEnds)
{
    LocalTimeZone berlin("Europe/Berlin");
    const QDate today(2025, 3, 30);
    const RangeEnd since = RangeEnd::since, until = RangeEnd::until;
    const struct {
        const char *text;
        RangeEnd end;
        const char *utc; // nullptr: refused
    } cases[] = {
        { "2025-03-30", since, "2025-03-29T23:00:00Z" },
        { "2025-03-30", until, "2025-03-30T22:00:00Z" }, // 23 hours later
        { "2025-10-26", since, "2025-10-25T22:00:00Z" },
        { "2025-10-26", until, "2025-10-26T23:00:00Z" }, // 25 hours later
        { "2025-01-31", until, "2025-01-31T23:00:00Z" },
        { "2025-12-31", until, "2025-12-31T23:00:00Z" },
        { "2024-02-29", since, "2024-02-28T23:00:00Z" },
        { "2025-03-30 01:59", until, "2025-03-30T00:59:00Z" }, // a minute is exact at either end
        { "2025-03-30 03:00", since, "2025-03-30T01:00:00Z" },
        { "2025-06-01T08:15", since, "2025-06-01T06:15:00Z" },
        { "today", since, "2025-03-29T23:00:00Z" },
        { "today", until, "2025-03-30T22:00:00Z" },
        { "0 days ago", until, "2025-03-30T22:00:00Z" },
        { " Yesterday ", since, "2025-03-28T23:00:00Z" },
        { "1 day ago", until, "2025-03-29T23:00:00Z" },
        { "30 days ago", since, "2025-02-27T23:00:00Z" },
        { "2025-03-30 02:30", since, nullptr }, // skipped by the clocks
        { "2025-02-29", since, nullptr },
        { "2025-13-01", until, nullptr },
        { "2025-03-30 24:00", since, nullptr },
        { "2025-3-30", since, nullptr },
        { "2025-03-30 9:00", since, nullptr },
        { "30.03.2025", since, nullptr },
        { "-1 days ago", since, nullptr },
        { "tomorrow", since, nullptr },
        { "", until, nullptr },
    };
    for (const auto &c : cases) {
        QString error;
        const std::optional<TimePoint> parsed = parseDateArgument(QString::fromLatin1(c.text), c.end, today, &error);
        const std::string name = std::string(c.text) + (c.end == since ? " (since)" : " (until)");
        if (!c.utc) {
            EXPECT_FALSE(parsed) << name;
            EXPECT_TRUE(error.startsWith(QStringLiteral("'%1' is not a date: ").arg(c.text))) << error.toStdString();
            continue;
        }
        ASSERT_TRUE(parsed) << name << ": " << error.toStdString();
        const QDateTime utc
            = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSince1970(*parsed) * 1000)).toUTC();
        EXPECT_EQ(utc.toString(Qt::ISODate).toStdString(), c.utc) << name;
    }
}
