// The application names and the pages of one application's recordings (see TimelineQueries.cpp).

#include "persistence/DatabaseInternals.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"

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
    d->answerPage("recordingsOfApplication", appName, {}, limit, after, std::move(completion));
}

void SimpleDatabaseManager::recordingsOfApplication(const QString &appName, const TimeRange &range, int limit,
    std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion)
{
    d->answerPage("recordingsOfApplication", appName, range, limit, after, std::move(completion));
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

} // namespace pellux
