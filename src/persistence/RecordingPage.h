#pragma once

#include "persistence/Recording.h"
#include "persistence/SearchSnippet.h"

#include <QString>
#include <QStringList>
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
    // Why the page could not be read (the database's message); empty when it was.
    QString error;
};

// The answers of a text search and of the application names, with the reason of a failure
// (empty when answered), so that "nothing found" and "could not look" differ.
// What a text search knows of a result beyond its recording.
struct SearchHit {
    // The line of its text where the query occurs; absent when only its title or application
    // name matched (the card shows those already).
    std::optional<search_snippet::Snippet> snippet;
    // A hash of all its recognised text, so that results showing the same text can be told.
    size_t textKey = 0;
};

struct SearchAnswer {
    std::vector<Recording> recordings;
    QString error;
    // One per recording, in the same order; empty when the texts could not be read.
    std::vector<SearchHit> hits;
};

struct ApplicationNames {
    QStringList names;
    QString error;
};

} // namespace pellux
