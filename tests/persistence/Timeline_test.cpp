#include "persistence/ApplicationPageStatements.h"
#include "persistence/DatabaseTestSupport.h"
#include "support/LocalTimeZone.h"

using namespace pellux;
using namespace pellux::test;

namespace {

struct Stored {
    Recording recording;
    QString text;
};

TimePoint at(double seconds) { return fromSecondsSince1970(seconds); }

// The stored recordings that `keep` selects, in the timeline's order: newest first, one capture
// time's recordings last stored first.
QStringList expected(const std::vector<Stored> &stored, const std::function<bool(const Stored &)> &keep)
{
    std::vector<const Stored *> kept;
    for (auto s = stored.rbegin(); s != stored.rend(); ++s)
        if (keep(*s))
            kept.push_back(&*s);
    std::stable_sort(kept.begin(), kept.end(),
        [](const Stored *a, const Stored *b) { return a->recording.timestamp > b->recording.timestamp; });
    QStringList out;
    for (const Stored *s : kept)
        out << s->recording.idText();
    return out;
}

} // namespace

// Every way of reading a time range (pages of all recordings or one application's, the search
// through its index and without it) answers what a filter over all rows answers, at the edges of
// the range too, and each page is one stretch of an index read backwards, with nothing sorted.
TEST_F(DatabaseTest, TimeRangesBoundPagesAndSearchesAlikeFromAnIndex)
{
    // Ties (three windows at 2000), fractional times beside whole ones, two applications, one
    // time far outside every range.
    const std::tuple<double, const char *, const char *> rows[]
        = { { 1000.0, "Kate", "alpha note" }, { 1000.5, "Terminal", "alpha shell" }, { 1999.25, "Kate", "beta" },
              { 2000.0, "Kate", "alpha one" }, { 2000.0, "Terminal", "alpha two" }, { 2000.0, "Kate", "alpha three" },
              { 2000.75, "Terminal", "alpha" }, { 3000.0, "Kate", "gamma alpha" }, { 5.0e9, "Kate", "alpha far" } };
    std::vector<Stored> stored;
    for (const auto &[seconds, app, text] : rows)
        stored.push_back({ store(seconds, QString::fromLatin1(text), QString::fromLatin1(app)), text });
    db().waitUntilIdle();

    const std::optional<TimePoint> none;
    const TimeRange ranges[]
        = { {}, { at(2000.0), none }, { none, at(2000.0) }, { at(1000.25), at(2000.5) }, { at(2000.0), at(2000.0) },
              { at(2000.75), at(2000.76) }, { at(1999.25), at(3000.0) }, { at(-1e15), at(1e15) } };
    for (const TimeRange &range : ranges) {
        for (const std::optional<QString> &app : { std::optional<QString>(), std::optional<QString>("Kate") }) {
            SCOPED_TRACE(testing::Message() << (range.since ? secondsSince1970(*range.since) : -1) << ".."
                                            << (range.until ? secondsSince1970(*range.until) : -1) << " " << bool(app));
            const auto inRange = [&](const Stored &s) {
                return range.contains(s.recording.timestamp) && (!app || s.recording.appName == app);
            };
            QStringList walked;
            std::optional<RecordingPageCursor> after;
            for (int page = 0; page < 10; ++page) {
                const RecordingPage answer
                    = awaitCompletion<RecordingPage>([&](auto done) { db().timelinePage(app, range, 2, after, done); });
                EXPECT_TRUE(answer.error.isEmpty());
                walked += ids(answer.recordings);
                if (!(after = answer.next))
                    break;
            }
            EXPECT_EQ(walked, expected(stored, inRange));
            if (app) {
                const RecordingPage first = awaitCompletion<RecordingPage>(
                    [&](auto done) { db().recordingsOfApplication(*app, range, 100, std::nullopt, done); });
                EXPECT_EQ(ids(first.recordings), walked);
            }
            for (const bool indexed : { true, false }) {
                db().setTextIndexEnabled(indexed);
                for (const int limit : { 100, 2 }) {
                    const SearchAnswer found = awaitCompletion<SearchAnswer>(
                        [&](auto done) { db().findText(QStringLiteral("alpha"), app, range, limit, done); });
                    EXPECT_TRUE(found.error.isEmpty());
                    EXPECT_EQ(ids(found.recordings),
                        expected(stored, [&](const Stored &s) { return inRange(s) && s.text.contains("alpha"); })
                            .mid(0, limit))
                        << "indexed " << indexed << " limit " << limit;
                }
            }
        }
    }
    const SearchAnswer refused = awaitCompletion<SearchAnswer>(
        [&](auto done) { db().findText(QStringLiteral("alpha"), std::nullopt, {}, 0, done); });
    EXPECT_TRUE(refused.recordings.empty() && !refused.error.isEmpty());

    // The forms of an application's page without a range are the statements used before ranges.
    EXPECT_EQ(sql::pageStatement(true, false, false, false), QByteArray(sql::kFirstApplicationPage));
    EXPECT_EQ(sql::pageStatement(true, false, false, true), QByteArray(sql::kLaterApplicationPage));
    for (int form = 0; form < 16; ++form) {
        const bool app = form & 1, since = form & 2, until = form & 4, later = form & 8;
        const QStringList plan
            = raw().strings(QStringLiteral("EXPLAIN QUERY PLAN ") + sql::pageStatement(app, since, until, later), 3);
        ASSERT_EQ(plan.size(), 1) << form << plan.join(" | ").toStdString();
        EXPECT_TRUE(
            plan.first().startsWith(app ? QStringLiteral("SEARCH recordings USING INDEX idx_recordings_app_time")
                                        : QStringLiteral("SEARCH recordings USING INDEX idx_recordings_timestamp")))
            << form << plan.first().toStdString();
    }
}

// The days that hold captures and one day's captures, in a zone with daylight saving: its 23- and
// 25-hour days, the last instant of a day and the first of the next, and a day with none.
TEST_F(DatabaseTest, CaptureDaysAndADaysCapturesFollowLocalDays)
{
    LocalTimeZone berlin("Europe/Berlin");
    const auto local = [](const char *text) {
        return static_cast<double>(
                   QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toMSecsSinceEpoch())
            / 1000.0;
    };
    // 30 March 2025 has 23 hours, 26 October 25.
    const std::pair<const char *, const char *> captures[] = { { "2025-03-29T23:59:59.500", "Kate" },
        { "2025-03-30T00:00:00", "Terminal" }, { "2025-03-30T03:30:00", "Kate" }, { "2025-03-30T23:59:00", "Kate" },
        { "2025-04-02T12:00:00", "Terminal" }, { "2025-10-26T02:30:00", "Kate" }, { "2025-10-26T23:30:00", "Kate" },
        { "2025-10-27T00:00:00", "Kate" } };
    std::vector<Recording> stored;
    for (const auto &[text, app] : captures)
        stored.push_back(store(local(text), QStringLiteral("x"), QString::fromLatin1(app)));
    // Two captures of one time keep the order they were stored in.
    stored.push_back(store(local("2025-03-30T03:30:00"), QStringLiteral("x"), QStringLiteral("Later")));

    const auto days = [&](QDate first, QDate last) {
        const CaptureDays answer
            = awaitCompletion<CaptureDays>([&](auto done) { db().captureDays(first, last, done); });
        EXPECT_TRUE(answer.error.isEmpty());
        QStringList out;
        for (const QDate &day : answer.days)
            out << day.toString(Qt::ISODate);
        return out.join(' ');
    };
    EXPECT_EQ(days(QDate(2025, 3, 1), QDate(2025, 3, 31)), "2025-03-29 2025-03-30");
    EXPECT_EQ(days(QDate(2025, 3, 30), QDate(2025, 4, 30)), "2025-03-30 2025-04-02");
    EXPECT_EQ(days(QDate(2025, 1, 1), QDate(2025, 12, 31)), "2025-03-29 2025-03-30 2025-04-02 2025-10-26 2025-10-27");
    EXPECT_EQ(days(QDate(2025, 3, 31), QDate(2025, 4, 1)), "");
    EXPECT_EQ(days(QDate(2025, 4, 2), QDate(2025, 3, 1)), "");

    const auto ofDay = [&](QDate day) {
        const DayCaptures answer = awaitCompletion<DayCaptures>([&](auto done) { db().dayCaptures(day, done); });
        EXPECT_TRUE(answer.error.isEmpty());
        QStringList out;
        for (const DayCapture &c : answer.captures) {
            const auto found
                = std::find_if(stored.begin(), stored.end(), [&](const Recording &r) { return r.id == c.id; });
            EXPECT_TRUE(found != stored.end() && found->timestamp == c.timestamp && found->appName == c.appName);
            out << QString::number(found - stored.begin());
        }
        return out.join(' ');
    };
    EXPECT_EQ(ofDay(QDate(2025, 3, 30)), "1 2 8 3");
    EXPECT_EQ(ofDay(QDate(2025, 10, 26)), "5 6");
    EXPECT_EQ(ofDay(QDate(2025, 3, 31)), "");

    EXPECT_FALSE(awaitCompletion<CaptureDays>([&](auto done) {
        db().captureDays(QDate(), QDate(2025, 1, 1), done);
    }).error.isEmpty());
    EXPECT_FALSE(awaitCompletion<DayCaptures>([&](auto done) { db().dayCaptures(QDate(), done); }).error.isEmpty());
    const QStringList seek
        = raw().strings("EXPLAIN QUERY PLAN SELECT timestamp FROM recordings WHERE timestamp >= 1 AND timestamp < 2 "
                        "ORDER BY timestamp LIMIT 1",
            3);
    EXPECT_EQ(seek,
        QStringList({ "SEARCH recordings USING COVERING INDEX idx_recordings_timestamp (timestamp>? AND "
                      "timestamp<?)" }));
}
