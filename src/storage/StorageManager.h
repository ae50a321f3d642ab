#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingPage.h"
#include "runtime/Clock.h"

#include <QByteArray>
#include <QFuture>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <qcorotask.h>

#include <memory>
#include <optional>
#include <vector>

namespace pellux {

class RecordingIndex;
class SerialQueue;

// Owns the screenshot files under Documents/Pellux/Screenshots/yyyy/MM/dd/HH/, the list of stored
// recordings and its copy Documents/Pellux/Recordings/metadata.json, and the disk-use figure.
// Lives on the main thread; file work runs on its own queue ("com.pellux.storage") and the disk
// walk on another ("com.pellux.storage.usage"), so the GUI never waits for the disk.
class StorageManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(int recordingCount READ recordingCount NOTIFY recordingsChanged)
    Q_PROPERTY(qint64 storageUsed READ storageUsed NOTIFY storageUsedChanged)

public:
    // The process-wide store, backed by SimpleDatabaseManager::shared(); created on first use on
    // the main thread and kept until the process ends.
    static StorageManager &shared();

    // Creates the folders and loads the list from the current user's Documents folder.
    explicit StorageManager(RecordingIndex &index, Clock &clock = Clock::system(), QObject *parent = nullptr);
    ~StorageManager() override;

    // Newest first after every save.
    const std::vector<Recording> &recordings() const { return m_recordings; }
    int recordingCount() const { return static_cast<int>(m_recordings.size()); }
    // Bytes used by both folders at the last computation.
    qint64 storageUsed() const { return m_storageUsed; }

    QString recordingsDirectory() const { return m_recordingsDirectory; }
    QString screenshotsDirectory() const { return m_screenshotsDirectory; }
    QString metadataFilePath() const;
    // Recomputes storageUsed every 30 seconds.
    const QTimer &storageUpdateTimer() const { return m_storageUpdateTimer; }

    // Writes the encoded frame into its hour folder, adds the recording to the list and its file,
    // and registers it in the database. Absent when the file or the list cannot be written (then
    // nothing changed) or when the database refuses the row (then file and list entry remain).
    // displayIndex is accepted and not used.
    QCoro::Task<std::optional<Recording>> saveScreenshot(QByteArray data, TimePoint timestamp, int displayIndex,
        std::optional<QString> appName, std::optional<QString> windowTitle, std::optional<QString> imageHash,
        bool isDeltaFrame, std::optional<QString> referenceHash, std::optional<double> compressionRatio);

    // Removes the recording's file, list entry, database row and text, in a task of its own.
    void deleteRecording(const Recording &recording);
    // Removes every recording captured more than `days` calendar days ago, in a task of its own.
    void deleteOldRecordings(int days);
    // Removes every listed recording (files, entries, rows and text) and every other file below
    // the screenshots folder (backups, files no list names, the hour folders), and the damaged
    // lists set aside; frames saved while it runs are kept.
    QCoro::Task<> deleteAllRecordings();
    // The database was emptied behind the store (reset, or all its data deleted): the application
    // names are asked for again.
    void databaseCleared() { applicationsMayHaveGone(); }
    // Removes these recordings in one pass; deleteRecording and deleteOldRecordings use it.
    QCoro::Task<> deleteRecordings(std::vector<Recording> recordings);

    QCoro::Task<> calculateStorageUsed();

    // Healing after a crash. Lists recordings whose database row outlived their entry; an id or a
    // file already listed is left as it is. True when the list file was written.
    QCoro::Task<bool> addRecoveredRecordings(std::vector<Recording> recovered);
    // Gives the entries listing these recordings' files (matched by path) the recording's id,
    // application, title and hash: an entry rebuilt from its image file after the list was
    // damaged takes back the identity its database row has. Answers how many entries changed, or
    // absent when the list file could not be written.
    QCoro::Task<std::optional<int>> adoptRecordedIdentities(std::vector<Recording> recorded);

    // The search window's views, answered by the database without walking the list. The distinct
    // application names, ascending by plain (case-sensitive) comparison, recordings without a name
    // left out; empty when the database cannot answer.
    QCoro::Task<QStringList> uniqueApps();
    // One page of the recordings of exactly this application (case-sensitive), newest first,
    // recordings of one capture time last stored first: at most `limit`, after `after` (from the
    // newest without it). Pass the page's `next` for the following page; it is absent on the last
    // one. Empty for an unknown name; empty without `next` when the database cannot answer.
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
    };

    enum class StorageFigure { recompute, reset };

    QCoro::Task<> removeFromStore(std::vector<Recording> recordings, StorageFigure figure);
    void createDirectories();
    void loadRecordings();
    void removeStaleTemporaries();
    void recoverFromUnreadableMetadata(const QByteArray &data, const QString &reason);
    QFuture<WriteResult> writeMetadata();
    void setRecordings(std::vector<Recording> recordings);
    void publishStorageUsed(qint64 bytes, quint64 sequence);
    void noteApplicationSaved(const std::optional<QString> &appName);
    void applicationsMayHaveGone();

    RecordingIndex &m_index;
    Clock &m_clock;
    std::vector<Recording> m_recordings;
    qint64 m_storageUsed = 0;
    QString m_recordingsDirectory;
    QString m_screenshotsDirectory;
    QTimer m_storageUpdateTimer;
    // False when an unreadable metadata.json could not be set aside: it is then never overwritten.
    bool m_metadataWritable = true;
    std::unique_ptr<SerialQueue> m_files;
    // Files written by saves whose entry is not in the list yet, so that emptying the folder spares
    // them. Filled on the file queue; emptied there too, after the save's entry is listed.
    struct UnlistedFiles;
    std::shared_ptr<UnlistedFiles> m_unlistedFiles;
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
