#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingPage.h"
#include "persistence/RowWrite.h"
#include "persistence/SimpleDatabaseManager.h"

#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

namespace pellux {

// What the screenshot store needs from the recording database: registering a new recording,
// forgetting deleted ones, and the per-application views the search window shows. Completions may
// run on any thread.
class RecordingIndex {
public:
    virtual ~RecordingIndex() = default;

    // Completion: written; pending when the row waits in memory to be written later (the database
    // is busy), in order, unless the process ends first; failed.
    virtual void saveRecordingWithDeltaFrame(const Recording &recording, const std::optional<QString> &imageHash,
        qint64 fileSize, bool isDeltaFrame, const std::optional<QString> &referenceHash,
        std::optional<double> compressionRatio, std::function<void(RowWrite)> completion)
        = 0;

    // Removes the rows and recognised text of these recordings, rows still pending included.
    // Completion: rows removed, or a negative count when the deletion failed (then none was).
    virtual void deleteRecordings(const std::vector<QUuid> &recordingIds, std::function<void(int)> completion) = 0;

    // As deleteRecordings, answering the bytes the rows say their files held too; absent when the
    // deletion failed. An index that keeps no sizes answers 0 bytes.
    using DeletedRows = SimpleDatabaseManager::DeletedRows;
    virtual void deleteRecordingsMeasured(
        const std::vector<QUuid> &recordingIds, std::function<void(std::optional<DeletedRows>)> completion)
    {
        deleteRecordings(recordingIds, [completion = std::move(completion)](int count) {
            completion(count < 0 ? std::nullopt : std::optional(DeletedRows { count, 0 }));
        });
    }
    // Completion: how many recordings were captured before `capturedBefore` and belong to exactly
    // `appName` (a condition left out when absent); absent when unknown.
    virtual void countRecordings(std::optional<TimePoint> capturedBefore, std::optional<QString> appName,
        std::function<void(std::optional<qint64>)> completion)
    {
        Q_UNUSED(capturedBefore);
        Q_UNUSED(appName);
        completion(std::nullopt);
    }
    // Completion: every recording of exactly this application, with its id, time and file;
    // absent on failure.
    virtual void recordingsOfApplicationToDelete(
        const QString &appName, std::function<void(std::optional<std::vector<Recording>>)> completion)
    {
        Q_UNUSED(appName);
        completion(std::nullopt);
    }

    // Deleting one frame keeps the others readable. An index that knows no delta frames answers
    // that nothing builds on any frame and never rebuilds one.
    using DependentFrame = SimpleDatabaseManager::DependentFrame;
    virtual void framesBuiltOn(
        const QString &filePath, std::function<void(std::optional<std::vector<DependentFrame>>)> completion)
    {
        Q_UNUSED(filePath);
        completion(std::vector<DependentFrame>());
    }
    virtual void framesBuiltOnRemoval(std::optional<TimePoint> capturedBefore, std::optional<QString> application,
        std::function<void(std::optional<std::vector<DependentFrame>>)> completion)
    {
        Q_UNUSED(capturedBefore);
        Q_UNUSED(application);
        completion(std::vector<DependentFrame>());
    }
    // Completion: the stored files that rebuild the frame in `filePath`, absent when unknown.
    virtual void deltaChain(
        const QString &filePath, std::function<void(std::optional<std::vector<DeltaChainLink>>)> completion)
    {
        Q_UNUSED(filePath);
        completion(std::nullopt);
    }
    virtual void markStoredInFull(const QString &filePath, const std::optional<QString> &imageHash, qint64 fileSize,
        double compressionRatio, std::function<void(bool)> completion)
    {
        Q_UNUSED(filePath);
        Q_UNUSED(imageHash);
        Q_UNUSED(fileSize);
        Q_UNUSED(compressionRatio);
        completion(false);
    }

    // Completion: how many recordings have a row; absent on failure.
    virtual void recordingCount(std::function<void(std::optional<qint64>)> completion) = 0;

    // Completion: the recordings captured before `cutoff` (every one without it), with their id,
    // time and file; absent on failure.
    virtual void recordingsCapturedBefore(
        std::optional<TimePoint> cutoff, std::function<void(std::optional<std::vector<Recording>>)> completion)
        = 0;

    // Completion: the distinct application names, ascending (case-sensitive), without absent
    // ones; no names and the reason on failure.
    virtual void applicationNames(std::function<void(ApplicationNames)> completion) = 0;

    // Completion: one page of the recordings of exactly this application, newest first (one
    // capture time: last stored first), at most `limit` of them, after `after` (from the start
    // without it); `next` is absent on the last page. Empty without `next`, with the reason in
    // `error`, on failure.
    virtual void recordingsOfApplication(const QString &appName, int limit, std::optional<RecordingPageCursor> after,
        std::function<void(RecordingPage)> completion)
        = 0;
};

// The index backed by the SQLite database.
class DatabaseRecordingIndex final : public RecordingIndex {
public:
    explicit DatabaseRecordingIndex(SimpleDatabaseManager &database);

    void saveRecordingWithDeltaFrame(const Recording &recording, const std::optional<QString> &imageHash,
        qint64 fileSize, bool isDeltaFrame, const std::optional<QString> &referenceHash,
        std::optional<double> compressionRatio, std::function<void(RowWrite)> completion) override;
    void deleteRecordings(const std::vector<QUuid> &recordingIds, std::function<void(int)> completion) override;
    void deleteRecordingsMeasured(
        const std::vector<QUuid> &recordingIds, std::function<void(std::optional<DeletedRows>)> completion) override;
    void countRecordings(std::optional<TimePoint> capturedBefore, std::optional<QString> appName,
        std::function<void(std::optional<qint64>)> completion) override;
    void recordingsOfApplicationToDelete(
        const QString &appName, std::function<void(std::optional<std::vector<Recording>>)> completion) override;
    void framesBuiltOn(
        const QString &filePath, std::function<void(std::optional<std::vector<DependentFrame>>)> completion) override;
    void framesBuiltOnRemoval(std::optional<TimePoint> capturedBefore, std::optional<QString> application,
        std::function<void(std::optional<std::vector<DependentFrame>>)> completion) override;
    void deltaChain(
        const QString &filePath, std::function<void(std::optional<std::vector<DeltaChainLink>>)> completion) override;
    void markStoredInFull(const QString &filePath, const std::optional<QString> &imageHash, qint64 fileSize,
        double compressionRatio, std::function<void(bool)> completion) override;
    void recordingCount(std::function<void(std::optional<qint64>)> completion) override;
    void recordingsCapturedBefore(std::optional<TimePoint> cutoff,
        std::function<void(std::optional<std::vector<Recording>>)> completion) override;
    void applicationNames(std::function<void(ApplicationNames)> completion) override;
    void recordingsOfApplication(const QString &appName, int limit, std::optional<RecordingPageCursor> after,
        std::function<void(RecordingPage)> completion) override;

private:
    SimpleDatabaseManager &m_database;
};

} // namespace pellux
