#pragma once

#include "runtime/Clock.h"

#include <QPointer>
#include <QUuid>

#include <qcorotask.h>

#include <functional>
#include <optional>

namespace pellux {

class OCRProcessor;
class SerialQueue;
class SimpleDatabaseManager;

// What one walk over the frames owed their text did.
struct OwedTextCounts {
    int recognized = 0; // frames that got their text
    int withoutText = 0; // frames recognised and showing no text
    int unreadable = 0; // frames whose file could not be read or rebuilt
    int notRecognized = 0; // frames the recogniser failed on: still owed
};

// Recognises stored frames that have no text yet (and no remembered attempt), read back from
// their files (deltas rebuilt), oldest first, one at a time: capture order keeps a window's chain
// of deltas rebuilt once for all of them, where newest first would rebuild it for each. Healing
// walks the frames of earlier processes with it, the capture service those it had no room for.
// Runs on the main thread; files are read on `files`, text recognised on the recogniser's queue.
class OwedTextWalk {
public:
    struct Range {
        std::optional<TimePoint> from; // none: from the first recording
        std::optional<TimePoint> before; // none: up to the last one
    };

    OwedTextWalk(SimpleDatabaseManager &database, OCRProcessor &ocr, SerialQueue &files);

    // One walk over the frames captured in the range. Frames `skip` names are being recognised
    // already. A recogniser that is unavailable (no model) ends the walk at its first frame, which
    // is counted as not recognised: every later one would fail alike. It ends early, answering
    // false, when `owner` is destroyed, `stopped` answers true or the database cannot answer; what
    // it stored so far stays. Once `owner`, which owns the file queue, is gone, the walk touches nothing.
    QCoro::Task<bool> walk(Range range, OwedTextCounts &counts, QObject *owner, std::function<bool()> stopped,
        std::function<bool(const QUuid &)> skip = {});

private:
    SimpleDatabaseManager &m_database;
    OCRProcessor &m_ocr;
    SerialQueue &m_files;
};

} // namespace pellux
