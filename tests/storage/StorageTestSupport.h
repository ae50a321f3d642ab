#pragma once

// Shared by the screenshot-store tests: a recording index stand-in and small file helpers.

#include "runtime/Clock.h"
#include "runtime/SerialQueue.h"
#include "storage/RecordingIndex.h"
#include "support/TestFiles.h"

namespace pellux::test {

// Answers like the database would, on a queue of its own, and remembers what it was asked: the
// rows saved (refused while `acceptRows` is false) and the ids deleted.
class RecordingIndexStub final : public RecordingIndex {
public:
    struct Saved {
        Recording recording;
        qint64 fileSize = 0;
        std::optional<double> compressionRatio;
    };

    void saveRecordingWithDeltaFrame(const Recording &recording, const std::optional<QString> &, qint64 fileSize, bool,
        const std::optional<QString> &, std::optional<double> compressionRatio,
        std::function<void(RowWrite)> completion) override
    {
        std::lock_guard lock(m_mutex);
        saved.push_back({ recording, fileSize, compressionRatio });
        answer(completion, acceptRows ? RowWrite::written : RowWrite::failed);
    }
    void deleteRecordings(const std::vector<QUuid> &recordingIds, std::function<void(int)> completion) override
    {
        std::lock_guard lock(m_mutex);
        deleted.insert(deleted.end(), recordingIds.begin(), recordingIds.end());
        answer(completion, static_cast<int>(recordingIds.size()));
    }
    void recordingCount(std::function<void(std::optional<qint64>)> completion) override
    {
        std::lock_guard lock(m_mutex);
        answer(completion, std::optional<qint64>(kept().size()));
    }
    void recordingsCapturedBefore(
        std::optional<TimePoint> cutoff, std::function<void(std::optional<std::vector<Recording>>)> completion) override
    {
        std::lock_guard lock(m_mutex);
        std::vector<Recording> old = kept();
        std::erase_if(old, [&](const Recording &r) { return cutoff && r.timestamp >= *cutoff; });
        answer(completion, std::optional(old));
    }
    // In save order; the ordering and naming rules belong to the database and are tested there.
    void applicationNames(std::function<void(ApplicationNames)> completion) override
    {
        std::lock_guard lock(m_mutex);
        ApplicationNames names;
        for (const Recording &r : kept()) {
            if (r.appName && !names.names.contains(*r.appName))
                names.names << *r.appName;
        }
        answer(completion, names);
    }
    void recordingsOfApplication(const QString &, int, std::optional<RecordingPageCursor>,
        std::function<void(RecordingPage)> completion) override
    {
        answer(completion, RecordingPage {});
    }

    bool acceptRows = true;
    std::vector<Saved> saved;
    std::vector<QUuid> deleted;

private:
    template <typename T> void answer(std::function<void(T)> completion, T value)
    {
        m_queue.async([completion = std::move(completion), value] { completion(value); });
    }
    std::vector<Recording> kept() const
    {
        std::vector<Recording> out;
        for (const Saved &s : saved) {
            if (std::find(deleted.begin(), deleted.end(), s.recording.id) == deleted.end())
                out.push_back(s.recording);
        }
        return out;
    }

    std::mutex m_mutex;
    SerialQueue m_queue { QStringLiteral("com.pellux.test.index") };
};

inline TimePoint localTime(int year, int month, int day, int hour, int minute, int second)
{
    return fromSecondsSince1970(
        static_cast<double>(QDateTime(QDate(year, month, day), QTime(hour, minute, second)).toSecsSinceEpoch()));
}

inline QByteArray jpegBytes(int size = 64)
{
    QByteArray bytes("\xFF\xD8\xFF\xE0", 4);
    bytes.append(QByteArray(size - 4, 'j'));
    return bytes;
}

inline QByteArray webpBytes(int size = 64)
{
    QByteArray bytes("RIFF\x38\x00\x00\x00WEBPVP8 ", 16);
    bytes.append(QByteArray(size - 16, 'w'));
    return bytes;
}

} // namespace pellux::test
