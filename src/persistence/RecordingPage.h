#pragma once

#include "persistence/Recording.h"

#include <QtGlobal>

#include <optional>
#include <vector>

namespace pellux {

// Where the next page of an application's recordings starts: the capture time and the row id of
// the last row of the page before. Pages run newest first and, within one capture time, the last
// stored first, so the next page holds what sorts strictly after this pair.
struct RecordingPageCursor {
    double timestamp = 0; // seconds since 1970, as stored
    qint64 rowid = 0;
};

// One page of an application's recordings. `next` is absent on the last page (and on a failure,
// whose page is also empty).
struct RecordingPage {
    std::vector<Recording> recordings;
    std::optional<RecordingPageCursor> next;
};

} // namespace pellux
