#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingPage.h"
#include "runtime/Clock.h"
#include "runtime/StoreLayout.h"

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUuid>

#include <qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pellux {

class RecordingIndex;
class SerialQueue;

// What a deletion pass removed, counted from the database rows it deleted: how many recordings,
// and the bytes their rows say their files held; or why it failed.
struct DeletionReport {
    bool ok = false;
    qint64 count = 0;
    qint64 bytes = 0;
    QString failure; // why, when not ok
};

// Owns the screenshot files under Documents/Pellux/Screenshots/yyyy/MM/dd/HH/, the list of stored
// recordings in Documents/Pellux/Recordings/metadata.json, and the disk-use figure. The list is
// kept on disk only: a save appends its entry, and counts and pages come from the database, so a
// store of 200,000 recordings costs a save, a start and memory what an empty one does. Lives on
// the main thread; file work runs on its own queue ("com.pellux.storage") and the disk walk on
// another ("com.pellux.storage.usage"), so the GUI never waits for the disk.
class StorageManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(int recordingCount READ recordingCount NOTIFY recordingsChanged)
    Q_PROPERTY(qint64 storageUsed READ storageUsed NOTIFY storageUsedChanged)

public:
    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static StorageManager &shared();

    // Creates the folders and loads the list from the current user's Documents folder.
    explicit StorageManager(RecordingIndex &index, Clock &clock = Clock::system(), QObject *parent = nullptr);
    ~StorageManager() override;

    // The recordings the database holds, kept current by saves and deletions; 0 until the database
    // first answers.
    int recordingCount() const { return static_cast<int>(m_recordingCount); }
    // Bytes used by both folders: measured by a walk of the disk (at calculateStorageUsed(), and
    // by the timer when none was made or the last is old), kept current by saves in between.
    qint64 storageUsed() const { return m_storageUsed; }

    QString recordingsDirectory() const { return m_recordingsDirectory; }
    // True when the list file could not be read at start and was rebuilt from what could be.
    bool listRebuiltAtStart() const { return m_listRebuilt; }
    QString screenshotsDirectory() const { return m_screenshotsDirectory; }
    QString metadataFilePath() const;
    // Every 30 seconds: walks the disk when no walk was made yet or the last is half an hour old.
    const QTimer &storageUpdateTimer() const { return m_storageUpdateTimer; }
    static constexpr int kFullWalkIntervalMs = 30 * 60 * 1000;

    // Runs `work` on the store's file queue with the list file's path, between the store's own
    // writes, so that it reads the list whole.
    QFuture<void> withListFile(std::function<void(const QString &listPath)> work);

    // Writes the encoded frame into its hour folder, adds the recording to the list and its file,
    // and registers it in the database. Absent when the file or the list cannot be written (then
    // nothing changed) or when the database refuses the row (then file and list entry remain).
    // displayIndex is accepted and not used. `thumbnailData` (thumbnail::encode of the captured
    // frame), when given, is written beside the file; a thumbnail that cannot be written is logged
    // and made when first shown.
    QCoro::Task<std::optional<Recording>> saveScreenshot(QByteArray data, TimePoint timestamp, int displayIndex,
        std::optional<QString> appName, std::optional<QString> windowTitle, std::optional<QString> imageHash,
        bool isDeltaFrame, std::optional<QString> referenceHash, std::optional<double> compressionRatio,
        QByteArray thumbnailData = {});

    // Removes the recording's file, list entry, database row and text, in a task of its own.
    void deleteRecording(const Recording &recording);
    // Removes one recording the user chose (file, list entry, row and text) and keeps every other
    // screenshot readable: a delta frame that builds on it is first stored in full, losslessly, in
    // its own file, and the later deltas of its window build on that. False (and a log line) when
    // a frame that builds on it cannot be rebuilt or stored: then nothing is removed.
    QCoro::Task<bool> deleteScreenshot(Recording recording);
    // Removes every recording captured more than `days` calendar days ago (files, list entries,
    // rows and text), and answers what went.
    QCoro::Task<DeletionReport> deleteOldRecordings(int days);
    // Removes every recording of exactly this application (files, list entries, rows and text),
    // and answers what went.
    QCoro::Task<DeletionReport> deleteRecordingsOfApplication(QString appName);
    // How many recordings deleteOldRecordings(days) would take (every one without days), of this
    // application only when one is given; counted by the database. Absent when it cannot answer.
    QCoro::Task<std::optional<qint64>> countRecordings(
        std::optional<int> olderThanDays, std::optional<QString> appName = std::nullopt);
    // Removes every listed recording (files, entries, rows and text) and every other file below
    // the screenshots folder (backups, files no list names, the hour folders), and the damaged
    // lists set aside; frames saved while it runs are kept. False when the database could not
    // list or remove the rows (the failure is logged; recordingsDeleted is not emitted).
    QCoro::Task<bool> deleteAllRecordings();
    // As deleteAllRecordings, answering what went.
    QCoro::Task<DeletionReport> deleteAllRecordingsReported();
    // The database was emptied behind the store (reset, or all its data deleted): the application
    // names are asked for again.
    void databaseCleared() { applicationsMayHaveGone(); }
    // Removes these recordings in one pass.
    QCoro::Task<> deleteRecordings(std::vector<Recording> recordings);
    // Asks the database for the count again.
    QCoro::Task<> refreshRecordingCount();

    QCoro::Task<> calculateStorageUsed();

    // Healing after a crash. Lists recordings whose database row outlived their entry; an id or a
    // file already listed must not be passed. True when the list file was written.
    QCoro::Task<bool> addRecoveredRecordings(std::vector<Recording> recovered);
    // Gives the entries listing these recordings' files (matched by path) the recording's id,
    // application, title and hash: an entry rebuilt from its image file after the list was
    // damaged takes back the identity its database row has. Answers how many entries changed, or
    // absent when the list file could not be written.
    QCoro::Task<std::optional<int>> adoptRecordedIdentities(std::vector<Recording> recorded);
    // Sets a damaged list aside byte for byte and writes anew what can be read of it. True when
    // the list is whole now.
    QCoro::Task<bool> rewriteDamagedList();

    // The search window's views, answered by the database without walking the list. The distinct
    // application names, ascending by plain (case-sensitive) comparison, recordings without a name
    // left out; no names and the reason when the database cannot answer.
    QCoro::Task<ApplicationNames> uniqueApps();
    // One page of the recordings of exactly this application (case-sensitive), newest first,
    // recordings of one capture time last stored first: at most `limit`, after `after` (from the
    // newest without it). Pass the page's `next` for the following page; it is absent on the last
    // one. Empty for an unknown name; empty without `next`, with the reason in `error`, when the
    // database cannot answer.
    static constexpr int kBrowsePageSize = 600;
    QCoro::Task<RecordingPage> recordingsForApp(
        QString appName, int limit = kBrowsePageSize, std::optional<RecordingPageCursor> after = std::nullopt);

signals:
    void recordingsChanged();
    void storageUsedChanged();
    // A deletion pass finished; `count` recordings left the list.
    void recordingsDeleted(int count);
    // The set of application names may have changed (a save brought a name not known yet, or a
    // deletion pass ended): ask uniqueApps() again.
    void applicationsChanged();

private:
    struct WriteResult {
        bool ok = false;
        QString error;
        qint64 bytesAdded = 0; // by an append
        int removed = 0; // entries a rewrite dropped
    };

    enum class StorageFigure { recompute, reset };
    // What one deletion pass removes.
    struct Removal {
        std::vector<Recording> recordings; // these, by id and file
        std::optional<TimePoint> capturedBefore; // and every recording captured before this
        std::optional<QString> application; // and every recording of exactly this application
        bool everything = false; // or every recording there is
        // Entries whose frame was stored in full under a new hash, by file path.
        QHash<QString, QString> newHashes;
    };
    // Stores in full the frames that would break without those `removal` takes (its one named
    // recording, or those captured before its time or of its application); false when one could
    // not be, with the reason for the user in `why`.
    QCoro::Task<bool> storeDependentsInFull(
        const Removal &removal, QHash<QString, QString> *newHashes, QString *why = nullptr);

    QCoro::Task<DeletionReport> removeFromStore(Removal removal, StorageFigure figure);
    // The start of the calendar day `days` days before now; absent for a negative count.
    std::optional<TimePoint> cutoffForDays(int days) const;
    void createDirectories();
    void checkListFile();
    void removeStaleTemporaries();
    void recoverFromUnreadableMetadata(const QString &reason);
    QFuture<WriteResult> appendToList(std::vector<Recording> entries);
    QFuture<WriteResult> rewriteList(std::function<bool(Recording &)> edit);
    void addToStorageUsed(qint64 bytes);
    void publishStorageUsed(qint64 bytes, quint64 sequence);
    void noteApplicationSaved(const std::optional<QString> &appName);
    void applicationsMayHaveGone();
    void setRecordingCount(qint64 count);

    RecordingIndex &m_index;
    Clock &m_clock;
    StoreLayout m_layout;
    qint64 m_recordingCount = 0;
    // Count queries, so that a save whose row was written after the query asked is added to its
    // answer and one written before is not counted twice.
    quint64 m_countGeneration = 0;
    bool m_countKnown = false;
    qint64 m_savedSinceCountAsked = 0;
    qint64 m_storageUsed = 0;
    qint64 m_lastWalkMs = -1; // steady-clock time of the last finished walk
    QString m_recordingsDirectory;
    QString m_screenshotsDirectory;
    QTimer m_storageUpdateTimer;
    // False when an unreadable metadata.json could not be set aside: it is then never overwritten.
    bool m_metadataWritable = true;
    bool m_listRebuilt = false;
    std::unique_ptr<SerialQueue> m_files;
    // Files written by saves whose entry is not in the list yet, so that emptying the folder spares
    // them. Filled on the file queue; emptied there too, after the save's entry is listed.
    struct UnlistedFiles;
    std::shared_ptr<UnlistedFiles> m_unlistedFiles;
    // Recordings whose save is under way, and those a deletion pass under way must spare because
    // they were saved while it ran.
    QSet<QUuid> m_savesUnderWay;
    QSet<QUuid> m_sparedByRemovals;
    int m_removalsUnderWay = 0;
    std::unique_ptr<SerialQueue> m_walks;

    // Disk walks: at most one runs and one waits; callers share the waiting one.
    struct Walk;
    std::shared_ptr<Walk> m_latestWalk;
    quint64 m_walkSequence = 0;
    quint64 m_publishedSequence = 0;

    // Application names certainly in the database: those answered by uniqueApps() and those of
    // saves since. A deletion empties the set and moves to a new generation, whose answers alone
    // are kept, so that a name removed meanwhile is never taken as known.
    QSet<QString> m_knownApplications;
    quint64 m_applicationsGeneration = 0;
};

} // namespace pellux
