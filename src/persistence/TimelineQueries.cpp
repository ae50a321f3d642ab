// Pages of recordings newest first (all of them or one application's, within a time range), the
// days that hold captures and one day's captures.

#include "persistence/ApplicationPageStatements.h"
#include "persistence/DatabaseInternals.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"

#include <limits>

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

void SimpleDatabaseManager::timelinePage(const std::optional<QString> &appName, const TimeRange &range, int limit,
    std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion)
{
    d->answerPage("timelinePage", appName, range, limit, after, std::move(completion));
}

void SimpleDatabaseManager::Impl::answerPage(const char *operation, const std::optional<QString> &appName,
    const TimeRange &range, int limit, std::optional<RecordingPageCursor> after,
    std::function<void(RecordingPage)> completion)
{
    serialQueue.async([this, operation, appName, range, limit, after, completion = std::move(completion)] {
        const QString op = QString::fromLatin1(operation);
        RecordingPage page;
        if (!db) {
            page.error = QStringLiteral("Database not available");
            log::failure(QStringLiteral("ERROR %1: Database not available").arg(op));
        } else if (limit < 1) {
            page.error = QStringLiteral("Page size %1 is not positive").arg(limit);
            log::failure(QStringLiteral("ERROR %1: %2").arg(op, page.error));
        } else if (std::optional<RowPage> rows = recordingPage(appName, range, limit, after)) {
            page.recordings = recordingsFromSearchRows(std::move(rows->rows), operation);
            page.next = rows->next;
            log::debug(QStringLiteral("DEBUG %1: Returning %2 recordings of '%3'%4")
                           .arg(op)
                           .arg(page.recordings.size())
                           .arg(appName.value_or(QStringLiteral("every application")),
                               page.next ? QString() : QStringLiteral(", the last page")));
        } else {
            page.error = errorMessage();
            log::failure(QStringLiteral("ERROR %1: %2").arg(op, page.error));
        }
        postToMain([completion, page = std::move(page)]() mutable { completion(std::move(page)); });
    });
}

std::optional<SimpleDatabaseManager::Impl::RowPage> SimpleDatabaseManager::Impl::recordingPage(
    const std::optional<QString> &appName, const TimeRange &range, int limit,
    const std::optional<RecordingPageCursor> &after)
{
    // Keyset paging, read backwards along a time index: a page starts strictly after the (capture
    // time, rowid) pair of the previous page's last row, so rows of one capture time split across
    // pages are neither repeated nor lost, and a page costs the same however deep it lies. One row
    // beyond the page tells whether another page follows.
    Statement select(db,
        sql::pageStatement(appName.has_value(), range.since.has_value(), range.until.has_value(), after.has_value())
            .constData());
    if (!select.prepared())
        return std::nullopt;
    if (appName)
        select.bind(1, *appName);
    if (after || !range.until)
        select.bind(2, after ? after->timestamp : std::numeric_limits<double>::infinity());
    if (after)
        select.bind(3, after->rowid);
    select.bind(4, static_cast<qint64>(limit) + 1);
    if (range.since)
        select.bind(5, secondsSince1970(*range.since));
    if (range.until)
        select.bind(6, secondsSince1970(*range.until));
    RowPage page;
    page.rows.reserve(static_cast<size_t>(std::min(limit, 4096)));
    RecordingPageCursor last;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        if (static_cast<int>(page.rows.size()) == limit) {
            page.next = last;
            continue; // the row beyond the page; stepping on reaches DONE
        }
        page.rows.push_back(readSearchRow(select));
        last = { page.rows.back().timestamp, select.int64(5) };
    }
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return page;
}

void SimpleDatabaseManager::countTimeline(const std::optional<QString> &appName, const TimeRange &range,
    std::function<void(std::optional<qint64>)> completion)
{
    d->serialQueue.async([this, appName, range, completion = std::move(completion)] {
        std::optional<qint64> answer;
        if (d->db) {
            // Only the bounds given: an open end would keep SQLite from the application's index.
            QStringList conditions;
            if (appName)
                conditions << QStringLiteral("app_name = ?1");
            if (range.since)
                conditions << QStringLiteral("timestamp >= ?2");
            if (range.until)
                conditions << QStringLiteral("timestamp < ?3");
            Statement count(d->db,
                QStringLiteral("SELECT count(*) FROM recordings%1")
                    .arg(conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(" AND ")));
            if (count.prepared()) {
                if (appName)
                    count.bind(1, *appName);
                if (range.since)
                    count.bind(2, secondsSince1970(*range.since));
                if (range.until)
                    count.bind(3, secondsSince1970(*range.until));
                if (count.step() == SQLITE_ROW)
                    answer = count.int64(0);
            }
            if (!answer)
                log::failure(QStringLiteral("ERROR countTimeline: %1").arg(d->errorMessage()));
        }
        postToMain([completion, answer] { completion(answer); });
    });
}

void SimpleDatabaseManager::captureDays(QDate first, QDate last, std::function<void(CaptureDays)> completion)
{
    d->serialQueue.async([this, first, last, completion = std::move(completion)] {
        CaptureDays answer;
        const auto fail = [&answer](const QString &why) {
            answer.days.clear();
            answer.error = why;
            log::failure(QStringLiteral("ERROR captureDays: %1").arg(why));
        };
        if (!d->db) {
            fail(QStringLiteral("Database not available"));
        } else if (!first.isValid() || !last.isValid()) {
            fail(QStringLiteral("Invalid day"));
        } else {
            // From the start of the range, the earliest capture at or after a point is one seek in
            // idx_recordings_timestamp; its day is a day with captures, and the next seek starts
            // where that day ends. A month of captures costs a month of seeks, not its rows.
            Statement earliest(d->db,
                "SELECT timestamp FROM recordings WHERE timestamp >= ?1 AND timestamp < ?2 "
                "ORDER BY timestamp LIMIT 1");
            const double end = secondsSince1970(localDayStart(last.addDays(1)));
            QDate day = first;
            while (day <= last) {
                if (!earliest.prepared() || !earliest.reset()) {
                    fail(d->errorMessage());
                    break;
                }
                earliest.bind(1, secondsSince1970(localDayStart(day)));
                earliest.bind(2, end);
                const int rc = earliest.step();
                if (rc == SQLITE_DONE)
                    break;
                if (rc != SQLITE_ROW) {
                    fail(d->errorMessage());
                    break;
                }
                const QDate found = localDay(fromSecondsSince1970(earliest.real(0)));
                // An instant in a repeated hour or a zone change can name a day before `day`.
                if (found >= day)
                    answer.days.push_back(found);
                day = std::max(found, day).addDays(1);
            }
        }
        postToMain([completion, answer = std::move(answer)]() mutable { completion(std::move(answer)); });
    });
}

std::optional<std::vector<DayCapture>> SimpleDatabaseManager::Impl::dayCaptures(QDate day)
{
    Statement select(db,
        "SELECT timestamp, id, app_name FROM recordings WHERE timestamp >= ?1 AND timestamp < ?2 "
        "ORDER BY timestamp, rowid");
    if (!select.prepared())
        return std::nullopt;
    const TimeRange range = localDays(day, day);
    select.bind(1, secondsSince1970(*range.since));
    select.bind(2, secondsSince1970(*range.until));
    std::vector<DayCapture> captures;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        const std::optional<QUuid> id = uuidFromIdText(select.text(1).value_or(QString()));
        if (!id)
            continue; // a row no card can show
        captures.push_back(
            { fromSecondsSince1970(select.real(0)), *id, select.isNull(2) ? std::nullopt : select.text(2) });
    }
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return captures;
}

void SimpleDatabaseManager::dayCaptures(QDate day, std::function<void(DayCaptures)> completion)
{
    d->serialQueue.async([this, day, completion = std::move(completion)] {
        DayCaptures answer;
        std::optional<std::vector<DayCapture>> captures;
        if (!d->db)
            answer.error = QStringLiteral("Database not available");
        else if (!day.isValid())
            answer.error = QStringLiteral("Invalid day");
        else if (!(captures = d->dayCaptures(day)))
            answer.error = d->errorMessage();
        if (captures)
            answer.captures = std::move(*captures);
        else
            log::failure(QStringLiteral("ERROR dayCaptures: %1").arg(answer.error));
        postToMain([completion, answer = std::move(answer)]() mutable { completion(std::move(answer)); });
    });
}

} // namespace pellux
