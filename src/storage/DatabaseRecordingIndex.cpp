#include "persistence/SimpleDatabaseManager.h"
#include "runtime/MainThread.h"
#include "runtime/SharedInstance.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"

#include <QCoreApplication>

namespace pellux {

DatabaseRecordingIndex::DatabaseRecordingIndex(SimpleDatabaseManager &database)
    : m_database(database)
{
}

void DatabaseRecordingIndex::saveRecordingWithDeltaFrame(const Recording &recording,
    const std::optional<QString> &imageHash, qint64 fileSize, bool isDeltaFrame,
    const std::optional<QString> &referenceHash, std::optional<double> compressionRatio,
    std::function<void(RowWrite)> completion)
{
    m_database.saveRecordingWithDeltaFrame(
        recording, imageHash, fileSize, isDeltaFrame, referenceHash, compressionRatio, std::move(completion));
}

void DatabaseRecordingIndex::deleteRecordings(
    const std::vector<QUuid> &recordingIds, std::function<void(int)> completion)
{
    m_database.deleteRecordings(recordingIds, std::move(completion));
}

void DatabaseRecordingIndex::deleteRecordingsMeasured(
    const std::vector<QUuid> &recordingIds, std::function<void(std::optional<DeletedRows>)> completion)
{
    m_database.deleteRecordingsMeasured(recordingIds, std::move(completion));
}

void DatabaseRecordingIndex::countRecordings(std::optional<TimePoint> capturedBefore, std::optional<QString> appName,
    std::function<void(std::optional<qint64>)> completion)
{
    m_database.countRecordings(capturedBefore, std::move(appName), std::move(completion));
}

void DatabaseRecordingIndex::recordingsOfApplicationToDelete(
    const QString &appName, std::function<void(std::optional<std::vector<Recording>>)> completion)
{
    m_database.recordingRowsOfApplication(appName, std::move(completion));
}

void DatabaseRecordingIndex::framesBuiltOn(
    const QString &filePath, std::function<void(std::optional<std::vector<DependentFrame>>)> completion)
{
    m_database.framesBuiltOn(filePath, std::move(completion));
}

void DatabaseRecordingIndex::framesBuiltOnRemoval(std::optional<TimePoint> capturedBefore,
    std::optional<QString> application, std::function<void(std::optional<std::vector<DependentFrame>>)> completion)
{
    m_database.framesBuiltOnRemoval(capturedBefore, std::move(application), std::move(completion));
}

void DatabaseRecordingIndex::deltaChain(
    const QString &filePath, std::function<void(std::optional<std::vector<DeltaChainLink>>)> completion)
{
    m_database.getDeltaChain(filePath, std::move(completion));
}

void DatabaseRecordingIndex::markStoredInFull(const QString &filePath, const std::optional<QString> &imageHash,
    qint64 fileSize, double compressionRatio, std::function<void(bool)> completion)
{
    m_database.markStoredInFull(filePath, imageHash, fileSize, compressionRatio, std::move(completion));
}

void DatabaseRecordingIndex::recordingCount(std::function<void(std::optional<qint64>)> completion)
{
    m_database.recordingCount(std::move(completion));
}

void DatabaseRecordingIndex::recordingsCapturedBefore(
    std::optional<TimePoint> cutoff, std::function<void(std::optional<std::vector<Recording>>)> completion)
{
    m_database.recordingRowsCapturedBefore(
        cutoff, [completion = std::move(completion)](std::optional<SimpleDatabaseManager::RecordingRows> rows) {
            completion(rows ? std::optional(std::move(rows->recordings)) : std::nullopt);
        });
}

void DatabaseRecordingIndex::applicationNames(std::function<void(ApplicationNames)> completion)
{
    m_database.applicationNames(std::move(completion));
}

void DatabaseRecordingIndex::recordingsOfApplication(const QString &appName, int limit,
    std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion)
{
    m_database.recordingsOfApplication(appName, limit, after, std::move(completion));
}

StorageManager &StorageManager::shared() { return SharedInstance<StorageManager>::get("StorageManager"); }

} // namespace pellux
