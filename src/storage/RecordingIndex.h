#pragma once

#include "persistence/Recording.h"

#include <QString>
#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

namespace pellux {

class SimpleDatabaseManager;

// What the screenshot store needs from the recording database: registering a new recording and
// forgetting deleted ones. Completions may run on any thread.
class RecordingIndex {
public:
    virtual ~RecordingIndex() = default;

    // Completion: true when the row was written.
    virtual void saveRecordingWithDeltaFrame(const Recording &recording, const std::optional<QString> &imageHash,
        qint64 fileSize, bool isDeltaFrame, const std::optional<QString> &referenceHash,
        std::optional<double> compressionRatio, std::function<void(bool)> completion)
        = 0;

    // Removes the rows and recognised text of these recordings. Completion: rows removed.
    virtual void deleteRecordings(const std::vector<QUuid> &recordingIds, std::function<void(int)> completion) = 0;
};

// The index backed by the SQLite database.
class DatabaseRecordingIndex final : public RecordingIndex {
public:
    explicit DatabaseRecordingIndex(SimpleDatabaseManager &database);

    void saveRecordingWithDeltaFrame(const Recording &recording, const std::optional<QString> &imageHash,
        qint64 fileSize, bool isDeltaFrame, const std::optional<QString> &referenceHash,
        std::optional<double> compressionRatio, std::function<void(bool)> completion) override;
    void deleteRecordings(const std::vector<QUuid> &recordingIds, std::function<void(int)> completion) override;

private:
    SimpleDatabaseManager &m_database;
};

} // namespace pellux
