#pragma once

// The statements of one page of an application's recordings, kept apart so that the tests can ask
// SQLite how it runs them. Columns: id, timestamp, file_path, app_name, window_title, rowid.
// ?1 application name, ?2 capture time bound, ?3 rowid bound (later pages only), ?4 rows to read.

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

} // namespace pellux::sql
