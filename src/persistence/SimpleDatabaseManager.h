#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingPage.h"
#include "persistence/RecordingText.h"
#include "persistence/RowWrite.h"
#include "persistence/Timeline.h"
#include "runtime/SerialQueue.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace pellux {

// One stored file of a delta chain, as its database row describes it.
struct DeltaChainLink {
    QString filePath;
    bool isDeltaFrame = false;
    // Source bytes (uncompressed TIFF size) divided by the stored bytes, as recorded at capture.
    std::optional<double> compressionRatio;
};

// The single owner of the SQLite file that indexes every stored screenshot (`recordings`) and the
// text recognised in it (`ocr_text`), Documents/Pellux/pellux_v2.db. Every statement runs on one
// serial queue; operations return at once. Completions marked "main" are posted to the main thread,
// the others run on the database queue and must not block it.
class SimpleDatabaseManager {
public:
    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static SimpleDatabaseManager &shared();

    enum class OpenMode {
        // The capturing application: creates the folder and an empty database when missing; sets
        // a damaged file (or one that is no database) aside and starts a fresh one; retries an
        // open that fails for a while (another process holds the file) in the background; keeps
        // rows whose write fails for a while in memory and writes them later.
        createIfMissing,
        // Tools that only read: opens the file read-only and never writes to it; a missing or
        // damaged file is a failed open, left as it is.
        existingOnly,
        capture = createIfMissing,
        readOnly = existingOnly,
    };

    // Opens (or creates) the database in the current user's Documents/Pellux. Tests and tools
    // create their own instances after pointing HOME somewhere private.
    explicit SimpleDatabaseManager(OpenMode mode = OpenMode::createIfMissing);
    ~SimpleDatabaseManager();

    SimpleDatabaseManager(const SimpleDatabaseManager &) = delete;
    SimpleDatabaseManager &operator=(const SimpleDatabaseManager &) = delete;

    // Completion on the database queue: written; pending when (capture mode) the write failed for
    // a while and the row waits in memory to be written later; failed.
    void saveRecordingWithDeltaFrame(const Recording &recording, const std::optional<QString> &imageHash,
        qint64 fileSize, bool isDeltaFrame, const std::optional<QString> &referenceHash,
        std::optional<double> compressionRatio, std::function<void(RowWrite)> completion = {});
    // Completion (when given) on the database queue: true when the text was written or (capture
    // mode) waits in memory behind its recording's row; text lost with the process is recognised
    // again by the store's healing.
    void saveOCRText(
        const QUuid &recordingId, const QString &text, TimePoint timestamp, std::function<void(bool)> completion = {});
    // As above, with the boxes of the text's words (stored in the same step, only when there is one
    // box per word of the text).
    void saveOCRText(const QUuid &recordingId, const RecordingText &text, TimePoint timestamp,
        std::function<void(bool)> completion = {});
    // Replaces the recording's text and word boxes by these (text recognised again, so that both
    // agree). Completion on the database queue: true when stored; false when the recording is gone,
    // the write failed or the file was opened read-only (then the old text stays).
    void replaceRecordingText(const QUuid &recordingId, const RecordingText &text, TimePoint timestamp,
        std::function<void(bool)> completion = {});
    // Completion on main: at most 100 recordings, newest first, whose text contains the query
    // literally ("%" and "_" match themselves). A failed search answers an empty list (see findText).
    void searchText(const QString &query, const std::optional<QString> &appName,
        std::function<void(std::vector<Recording>)> completion);
    // Completion on main: the distinct application names of all recordings, ascending by plain
    // (case-sensitive) comparison; recordings without a name are left out. A failure is logged
    // and answers no names, never a part of them, and its reason.
    void applicationNames(std::function<void(ApplicationNames)> completion);
    // Completion on main: one page of the recordings of exactly this application (case-sensitive),
    // in the form searchText gives, newest first and, among recordings of one capture time, the
    // last stored first. At most `limit` rows, starting after `after` (from the start without it);
    // `next` continues the walk and is absent on the last page. Following `next` from the first
    // page visits every row once, even when a capture time spans two pages. A row without a usable
    // id or path is skipped, so a page may hold fewer than `limit` recordings and still have a
    // `next`. A limit below 1 or a failure is logged and answers an empty page without `next`,
    // with its reason in `error`.
    void recordingsOfApplication(const QString &appName, int limit, std::optional<RecordingPageCursor> after,
        std::function<void(RecordingPage)> completion);
    // As above, only the recordings captured within `range`.
    void recordingsOfApplication(const QString &appName, const TimeRange &range, int limit,
        std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion);
    // Completion on main: one page of the timeline, every recording (or, with `appName`, that
    // application's, matched exactly) captured within `range`, in the order and paging of
    // recordingsOfApplication. Each page is one stretch of a time index, so a page deep down costs
    // what the first one does.
    void timelinePage(const std::optional<QString> &appName, const TimeRange &range, int limit,
        std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion);
    // Completion on main: the local days from `first` to `last` (both included) that hold a
    // capture; one index seek per day found, however many captures a day holds.
    void captureDays(QDate first, QDate last, std::function<void(CaptureDays)> completion);
    // Completion on main: every capture of one local day, oldest first.
    void dayCaptures(QDate day, std::function<void(DayCaptures)> completion);
    // Completion on main: how many recordings (or, with `appName`, that application's) were captured
    // within `range`, counted along the time index the pages read; absent when the database cannot
    // answer.
    void countTimeline(const std::optional<QString> &appName, const TimeRange &range,
        std::function<void(std::optional<qint64>)> completion);
    // Completion on main.
    void getOCRText(const QUuid &recordingId, std::function<void(std::optional<QString>)> completion);
    // Completion on main: the recording's text and its word boxes (no words when none are stored or
    // they do not agree with the text; an empty text when it has none); absent when the database
    // could not answer.
    void getRecordingText(const QUuid &recordingId, std::function<void(std::optional<RecordingText>)> completion);
    // Completion on the database queue; a row kept to be written later counts as existing.
    void verifyRecordingExists(const QUuid &recordingId, std::function<void(bool)> completion);
    // Completion on main: the stored file path of a recording with that hash.
    void getScreenshotByHash(const QString &imageHash, std::function<void(std::optional<QString>)> completion);
    // Completion on the database queue: the stored files that rebuild the frame in `filePath` (a
    // stored path, matched exactly), in the order they apply: first the full frame, then every delta
    // up to and including `filePath`. A file that is not a delta is its own one-link chain. A
    // changed-region delta builds on the window's previous stored frame: its reference names the full
    // frame that starts the window's chain, and the deltas between are the rows of the same
    // application naming the same reference, in capture order. A reference that is itself a delta (a
    // block-based delta matched against a frame stored as a delta) is resolved first. Absent when the
    // file has no row, a reference is gone, or the chain loops or exceeds `kMaxDeltaChainLength`.
    void getDeltaChain(
        const QString &filePath, std::function<void(std::optional<std::vector<DeltaChainLink>>)> completion);
    static constexpr int kMaxDeltaChainLength = 100000;
    // A delta frame that a deletion of the frame it builds on would leave unreadable, and the hash
    // it is to take once stored in full (so that the later deltas of its window build on it).
    struct DependentFrame {
        QString filePath;
        std::optional<QString> takesHash;
    };
    // Completion on the database queue: the delta frames whose chain runs through `filePath` and
    // would break without it: the next delta of the same window, and deltas of other applications
    // matched against it. Absent on failure.
    void framesBuiltOn(
        const QString &filePath, std::function<void(std::optional<std::vector<DependentFrame>>)> completion);
    // As framesBuiltOn, for a deletion of every recording captured before `capturedBefore` (when
    // given) or else of exactly `application`: the kept delta frames that would break without
    // the removed ones, each once.
    void framesBuiltOnRemoval(std::optional<TimePoint> capturedBefore, std::optional<QString> application,
        std::function<void(std::optional<std::vector<DependentFrame>>)> completion);
    // The frame in `filePath` is stored in full now: no longer a delta, no reference, the hash
    // given (when given), its new size and ratio. Completion on the database queue: true when
    // its row changed.
    void markStoredInFull(const QString &filePath, const std::optional<QString> &imageHash, qint64 fileSize,
        double compressionRatio, std::function<void(bool)> completion);
    // Completion on the database queue: true when at least one row changed. `path` is a whole path
    // or a bare file name, matched literally against the last component of each stored path.
    void updateFileSize(const QString &path, qint64 newSize, std::function<void(bool)> completion = {});
    // Removes the rows and recognised text of these recordings (the files are the store's), rows
    // still waiting in memory included. Completion on the database queue: the number of recording
    // rows removed, or kDeletionFailed (then none was).
    void deleteRecordings(const std::vector<QUuid> &recordingIds, std::function<void(int)> completion = {});
    static constexpr int kDeletionFailed = -1;
    // What a deletion removed: recording rows, and the bytes their rows say their files held.
    struct DeletedRows {
        int count = 0;
        qint64 bytes = 0;
    };
    // As deleteRecordings; completion: what went, absent on failure (then nothing did).
    void deleteRecordingsMeasured(
        const std::vector<QUuid> &recordingIds, std::function<void(std::optional<DeletedRows>)> completion);
    // How many rows were captured before `capturedBefore` and belong to exactly `appName` (either
    // condition left out when absent); absent when the database cannot answer.
    void countRecordings(std::optional<TimePoint> capturedBefore, std::optional<QString> appName,
        std::function<void(std::optional<qint64>)> completion);
    // The rows of exactly this application, as recordings (id, capture time, path, application,
    // title, hash); absent on failure.
    void recordingRowsOfApplication(
        const QString &appName, std::function<void(std::optional<std::vector<Recording>>)> completion);
    // Removes the file and starts a fresh, empty one (capture mode only). Completion on the
    // database queue: true when the fresh file is open.
    void resetDatabase(std::function<void(bool)> completion = {});
    // Empties both tables in one transaction. Completion on the database queue: true when they
    // are empty; on false nothing was removed.
    void deleteAllData(std::function<void(bool)> completion = {});
    void debugPrintAllOCRTexts();

    // Searches go through the trigram text index whenever it can answer (the default); switched
    // off, every search runs the plain statement. The results are the same either way; comparisons
    // and benchmarks switch it.
    void setTextIndexEnabled(bool enabled);

    // Blocks until every operation submitted so far has run.
    void waitUntilIdle();
    // True while a connection is open (false after a failed open).
    bool isOpen() const;
    QString databasePath() const;
    // Where the current user's database lives, computed without creating anything.
    static QString defaultDatabasePath();

    // Like searchText, but a search that fails answers its reason instead of an empty list, so
    // that "nothing found" and "could not search" differ. Completion on main.
    void findText(
        const QString &query, const std::optional<QString> &appName, std::function<void(SearchAnswer)> completion);
    // As above, only among the recordings captured within `range`, and at most `limit` of them
    // (a limit below 1 is refused with its reason).
    void findText(const QString &query, const std::optional<QString> &appName, const TimeRange &range, int limit,
        std::function<void(SearchAnswer)> completion);
    static constexpr int kSearchLimit = 100;
    // True once this instance found the file damaged (or no database), set it aside and started a
    // fresh one: the rows and text of the recordings on disk are then to be rebuilt.
    bool wasRecreated() const;
    // Where the damaged file went ("pellux_v2.db.corrupt-<local time>", its journal beside it with
    // "-journal" appended); empty unless wasRecreated().
    QString setAsidePath() const;
    // Rows whose write failed for a while (locked, disk full, read-only) and wait in memory.
    size_t pendingWriteCount() const;

    // Bringing the store back into agreement after a crash. Completions run on the database queue;
    // a failure is logged and answers absent (or false), never a part that looks complete.

    // Rows in rowid order, as recordings (id, capture time, path, application, title, hash).
    struct RecordingRows {
        std::vector<Recording> recordings;
        // The rowid of the last row read; pass it as `afterRowid` for the following batch.
        qint64 lastRowid = 0;
    };
    // At most `limit` rows after `afterRowid`; an empty batch ends the walk.
    void recordingRows(qint64 afterRowid, int limit, std::function<void(std::optional<RecordingRows>)> completion);
    // The rows captured before `cutoff` (every row without it), oldest first.
    void recordingRowsCapturedBefore(
        std::optional<TimePoint> cutoff, std::function<void(std::optional<RecordingRows>)> completion);
    // How many recordings have a row; absent when the database cannot answer.
    void recordingCount(std::function<void(std::optional<qint64>)> completion);
    // Which of these ids have a row.
    void existingRecordingIds(
        const std::vector<QUuid> &recordingIds, std::function<void(std::optional<QSet<QUuid>>)> completion);
    // The rows whose stored path is one of these (matched exactly).
    void recordingsWithFilePaths(
        const QStringList &filePaths, std::function<void(std::optional<std::vector<Recording>>)> completion);
    // The rows of these recordings (none for an id without a row).
    void recordingsWithIds(
        const std::vector<QUuid> &recordingIds, std::function<void(std::optional<std::vector<Recording>>)> completion);
    // A row written back from what the recordings list and the file still know.
    struct RecoveredRow {
        Recording recording;
        qint64 fileSize = 0;
        bool isDeltaFrame = false;
    };
    // Writes the rows in one transaction, leaving any row that already exists (by id) as it is.
    // Completion: the number of rows written, absent on failure (then none was).
    void saveRecoveredRows(std::vector<RecoveredRow> rows, std::function<void(std::optional<int>)> completion);
    // Rows captured in [`capturedFrom`, `capturedBefore`) (unbounded where absent) that have no
    // text and whose recognition never finished, in rowid order after `afterRowid`.
    void recordingsAwaitingText(std::optional<TimePoint> capturedFrom, std::optional<TimePoint> capturedBefore,
        qint64 afterRowid, int limit, std::function<void(std::optional<RecordingRows>)> completion);
    // How a late recognition of one stored frame ended.
    enum class RecognitionOutcome { text, noText, unreadable };
    // Stores text recognised after the fact: non-empty text becomes the recording's text unless it
    // has some already; an empty text or an unreadable file is remembered in
    // `text_recognition_attempts`, which searches never read, so the frame is not tried again.
    enum class LateRecognitionSave {
        stored,
        superseded, // nothing stored: the recording is gone, or already has text or an attempt
        failed,
    };
    void saveLateRecognition(const QUuid &recordingId, RecognitionOutcome outcome, const QString &text,
        TimePoint timestamp, std::function<void(LateRecognitionSave)> completion);
    // As above, with the boxes of the text's words (stored with it, when there is one per word).
    void saveLateRecognition(const QUuid &recordingId, RecognitionOutcome outcome, const RecordingText &text,
        TimePoint timestamp, std::function<void(LateRecognitionSave)> completion);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pellux
