// The application names and the pages of one application's recordings.

#include "persistence/ApplicationPageStatements.h"
#include "persistence/DatabaseInternals.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"

#include <limits>

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

void SimpleDatabaseManager::applicationNames(std::function<void(ApplicationNames)> completion)
{
    d->serialQueue.async([this, completion = std::move(completion)] {
        ApplicationNames answer;
        if (!d->db) {
            answer.error = QStringLiteral("Database not available");
            log::failure(QStringLiteral("ERROR applicationNames: Database not available"));
        } else if (std::optional<QStringList> names = d->applicationNames()) {
            answer.names = std::move(*names);
        } else {
            answer.error = d->errorMessage();
        }
        postToMain([completion, answer = std::move(answer)] { completion(answer); });
    });
}

void SimpleDatabaseManager::recordingsOfApplication(const QString &appName, int limit,
    std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion)
{
    d->serialQueue.async([this, appName, limit, after, completion = std::move(completion)] {
        RecordingPage page;
        if (!d->db) {
            page.error = QStringLiteral("Database not available");
            log::failure(QStringLiteral("ERROR recordingsOfApplication: Database not available"));
        } else if (limit < 1) {
            page.error = QStringLiteral("Page size %1 is not positive").arg(limit);
            log::failure(QStringLiteral("ERROR recordingsOfApplication: %1").arg(page.error));
        } else if (std::optional<Impl::RowPage> rows = d->applicationPage(appName, limit, after)) {
            page.recordings = recordingsFromSearchRows(std::move(rows->rows), "recordingsOfApplication");
            page.next = rows->next;
            log::debug(QStringLiteral("DEBUG recordingsOfApplication: Returning %1 recordings of '%2'%3")
                           .arg(page.recordings.size())
                           .arg(appName, page.next ? QString() : QStringLiteral(", the last page")));
        } else {
            page.error = d->errorMessage();
        }
        postToMain([completion, page = std::move(page)]() mutable { completion(std::move(page)); });
    });
}

std::optional<QStringList> SimpleDatabaseManager::Impl::applicationNames()
{
    // A handful of names among hundreds of thousands of rows: hop from one name to the next
    // through idx_recordings_app_browse (one index seek per name) instead of reading every row.
    // min() skips NULL, and the index's binary collation gives plain case-sensitive order.
    Statement select(db,
        "WITH RECURSIVE names(name) AS ("
        "SELECT (SELECT min(app_name) FROM recordings) "
        "UNION ALL "
        "SELECT (SELECT min(app_name) FROM recordings WHERE app_name > names.name) FROM names "
        "WHERE names.name IS NOT NULL) "
        "SELECT name FROM names WHERE name IS NOT NULL");
    if (!select.prepared()) {
        log::failure(QStringLiteral("ERROR applicationNames: Failed to prepare statement - %1").arg(errorMessage()));
        return std::nullopt;
    }
    QStringList names;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW)
        names << select.text(0).value_or(QString());
    if (rc != SQLITE_DONE) {
        log::failure(QStringLiteral("ERROR applicationNames: %1").arg(errorMessage()));
        return std::nullopt;
    }
    log::debug(QStringLiteral("DEBUG applicationNames: %1 applications").arg(names.size()));
    return names;
}

std::optional<SimpleDatabaseManager::Impl::RowPage> SimpleDatabaseManager::Impl::applicationPage(
    const QString &appName, int limit, const std::optional<RecordingPageCursor> &after)
{
    // Keyset paging over idx_recordings_app_time, read backwards: a page starts strictly after the
    // (capture time, rowid) pair of the previous page's last row, so rows of one capture time split
    // across pages are neither repeated nor lost, and a page costs the same however deep it lies.
    // The first page's bound, "at most +infinity", also leaves out the rare row whose time is not a
    // number (text sorts after every number), which has no place in a time order. One row beyond
    // the page tells whether another page follows.
    Statement select(db, after ? sql::kLaterApplicationPage : sql::kFirstApplicationPage);
    if (!select.prepared()) {
        log::failure(
            QStringLiteral("ERROR recordingsOfApplication: Failed to prepare statement - %1").arg(errorMessage()));
        return std::nullopt;
    }
    select.bind(1, appName);
    select.bind(2, after ? after->timestamp : std::numeric_limits<double>::infinity());
    if (after)
        select.bind(3, after->rowid);
    select.bind(4, static_cast<qint64>(limit) + 1);
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
    if (rc != SQLITE_DONE) {
        log::failure(QStringLiteral("ERROR recordingsOfApplication: %1").arg(errorMessage()));
        return std::nullopt;
    }
    return page;
}

} // namespace pellux
