#pragma once

#include "persistence/SqliteStatement.h"

#include <QString>

#include <optional>

namespace pellux {

// One row of a search, as the search statement returns it.
struct SearchRow {
    std::optional<QString> id;
    double timestamp = 0;
    std::optional<QString> path;
    std::optional<QString> appName;
    std::optional<QString> windowTitle;
    // The recognised text the search matched, when it read one (the text index's walk does):
    // the id of its row and its text, so that a recording with this one text is not read again.
    std::optional<qint64> textId;
    QString text;
};

// Reads columns id, timestamp, file_path, app_name, window_title starting at `first`.
inline SearchRow readSearchRow(const sql::Statement &row, int first = 0)
{
    SearchRow r;
    r.id = row.isNull(first) ? std::nullopt : row.text(first);
    r.timestamp = row.real(first + 1);
    r.path = row.isNull(first + 2) ? std::nullopt : row.text(first + 2);
    r.appName = row.isNull(first + 3) ? std::nullopt : row.text(first + 3);
    r.windowTitle = row.isNull(first + 4) ? std::nullopt : row.text(first + 4);
    return r;
}

} // namespace pellux
