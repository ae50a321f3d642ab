#pragma once

#include "runtime/Clock.h"

#include <QStringList>

#include <map>

namespace pellux::test {

// A made-up capture history written straight into the current user's Documents/Pellux (point HOME
// at a TempHome first), in one transaction, so that 200,000 recordings take seconds: database rows
// in the application's file format, recognised text, and optionally the recordings list and tiny
// image files. Everything is derived from the seed, so a run is repeatable.
struct SyntheticHistoryOptions {
    int recordings = 1000;
    // Capture time of the oldest recording, seconds since 1970.
    double firstCaptureSeconds = 1'750'000'000.0;
    // Windows captured per cycle; the recordings of one cycle share its capture time.
    int windowsPerCycle = 4;
    double cycleSeconds = 5.0;
    // Recognised characters per recording, roughly; 0 stores no text rows at all.
    int textCharacters = 150;
    // Also write Recordings/metadata.json listing every recording, newest first, as the store keeps it.
    bool withMetadata = false;
    // Also write a tiny WebP file for every recording at its path (slower: one file each).
    bool withImageFiles = false;
    unsigned seed = 1;
};

// What was written, for checking answers against it.
struct SyntheticHistory {
    int recordings = 0;
    // Recordings per application name; the recordings without a name are counted separately.
    std::map<QString, int> perApplication;
    int withoutApplication = 0;
    // Recordings whose text contains each planted word: "git" (3 characters) in about half of the
    // recordings, "database" (8) in about 2%, "zeppelin" in about one in 10,000, lower case or
    // capitalised; the rest of the text is drawn from a small vocabulary that contains none of them.
    std::map<QString, int> withWord;
    TimePoint oldest {};
    TimePoint newest {};
};

// The application names used, in no particular order: mixed case, a space, a non-ASCII letter.
// About a third of the recordings are the first name's, every 50th has no name.
const QStringList &syntheticApplications();

// Writes the two tables in the application's file format, fills them, then opens the file once
// with SimpleDatabaseManager, which adds its own indexes and builds the text index. Logs an "ERROR SyntheticHistory"
// line and answers absent when anything cannot be written; an existing database is refused rather than mixed with.
std::optional<SyntheticHistory> writeSyntheticHistory(const SyntheticHistoryOptions &options = {});

} // namespace pellux::test
