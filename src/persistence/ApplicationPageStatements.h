#pragma once

// The statements of one page of an application's recordings (or of all recordings), kept apart so
// that the tests can ask SQLite how it runs them. Columns: id, timestamp, file_path, app_name,
// window_title, rowid. ?1 application name, ?2 capture time bound, ?3 rowid bound (later pages
// only), ?4 rows to read, ?5 the range's start, ?6 its end.

#include <QByteArray>
#include <QStringList>

namespace pellux::sql {

// ?2 is +infinity: every row with a numeric capture time.
inline constexpr const char *kFirstApplicationPage
    = "SELECT id, timestamp, file_path, app_name, window_title, rowid FROM recordings "
      "WHERE app_name = ?1 AND timestamp <= ?2 "
      "ORDER BY timestamp DESC, rowid DESC LIMIT ?4";

// The rows strictly after the previous page's last (capture time, rowid).
inline constexpr const char *kLaterApplicationPage
    = "SELECT id, timestamp, file_path, app_name, window_title, rowid FROM recordings "
      "WHERE app_name = ?1 AND (timestamp, rowid) < (?2, ?3) "
      "ORDER BY timestamp DESC, rowid DESC LIMIT ?4";

// The page statement for each combination: one application or all, a range's ends, a first or a
// later page. Without an application it reads idx_recordings_timestamp, whose keys are in effect
// (timestamp, rowid), the same way. Every form has an upper time bound, which leaves out the rare
// row whose time is not a number (text sorts after every number).
inline QByteArray pageStatement(bool application, bool since, bool until, bool later)
{
    QStringList conditions;
    if (application)
        conditions << QStringLiteral("app_name = ?1");
    if (later)
        conditions << QStringLiteral("(timestamp, rowid) < (?2, ?3)");
    else if (!until)
        conditions << QStringLiteral("timestamp <= ?2");
    if (until)
        conditions << QStringLiteral("timestamp < ?6");
    if (since)
        conditions << QStringLiteral("timestamp >= ?5");
    return QStringLiteral("SELECT id, timestamp, file_path, app_name, window_title, rowid FROM recordings "
                          "WHERE %1 ORDER BY timestamp DESC, rowid DESC LIMIT ?4")
        .arg(conditions.join(QStringLiteral(" AND ")))
        .toUtf8();
}

} // namespace pellux::sql
