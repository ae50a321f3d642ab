#pragma once

// Shared by the screenshot-store tests: a recording index that answers like the database would
// (on a queue of its own) and remembers what it was asked, and small file helpers.

#include "runtime/Clock.h"
#include "runtime/SerialQueue.h"
#include "storage/RecordingIndex.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <mutex>
#include <sys/stat.h>

namespace pellux::test {

class RecordingIndexStub final : public RecordingIndex {
public:
    struct Saved {
        Recording recording;
        std::optional<QString> imageHash;
        qint64 fileSize = 0;
        bool isDeltaFrame = false;
        std::optional<QString> referenceHash;
        std::optional<double> compressionRatio;
    };

    void saveRecordingWithDeltaFrame(const Recording &recording, const std::optional<QString> &imageHash,
        qint64 fileSize, bool isDeltaFrame, const std::optional<QString> &referenceHash,
        std::optional<double> compressionRatio, std::function<void(RowWrite)> completion) override
    {
        std::lock_guard lock(m_mutex);
        saved.push_back({ recording, imageHash, fileSize, isDeltaFrame, referenceHash, compressionRatio });
        const RowWrite row = acceptRows ? RowWrite::written : RowWrite::failed;
        m_queue.async([completion, row] { completion(row); });
    }

    void deleteRecordings(const std::vector<QUuid> &recordingIds, std::function<void(int)> completion) override
    {
        std::lock_guard lock(m_mutex);
        deleted.insert(deleted.end(), recordingIds.begin(), recordingIds.end());
        const int count = static_cast<int>(recordingIds.size());
        m_queue.async([completion, count] { completion(count); });
    }

    void recordingCount(std::function<void(std::optional<qint64>)> completion) override
    {
        std::lock_guard lock(m_mutex);
        const qint64 count = static_cast<qint64>(kept().size());
        m_queue.async([completion, count] { completion(count); });
    }

    void recordingsCapturedBefore(
        std::optional<TimePoint> cutoff, std::function<void(std::optional<std::vector<Recording>>)> completion) override
    {
        std::lock_guard lock(m_mutex);
        std::vector<Recording> old = kept();
        std::erase_if(old, [&](const Recording &r) { return cutoff && r.timestamp >= *cutoff; });
        m_queue.async([completion, old] { completion(old); });
    }

    // Answered from what was saved and not deleted, in save order; the ordering and naming rules
    // belong to the database and are tested there.
    void applicationNames(std::function<void(ApplicationNames)> completion) override
    {
        std::lock_guard lock(m_mutex);
        ApplicationNames names;
        for (const Recording &r : kept()) {
            if (r.appName && !names.names.contains(*r.appName))
                names.names << *r.appName;
        }
        m_queue.async([completion, names] { completion(names); });
    }

    // Pages in save order; the cursor's rowid is the position in `saved` where the next page
    // starts.
    void recordingsOfApplication(const QString &appName, int limit, std::optional<RecordingPageCursor> after,
        std::function<void(RecordingPage)> completion) override
    {
        std::lock_guard lock(m_mutex);
        RecordingPage page;
        for (size_t i = after ? static_cast<size_t>(after->rowid) : 0; i < saved.size(); ++i) {
            const Recording &r = saved[i].recording;
            if (r.appName != appName || std::find(deleted.begin(), deleted.end(), r.id) != deleted.end())
                continue;
            if (static_cast<int>(page.recordings.size()) == limit) {
                page.next = RecordingPageCursor { 0, static_cast<qint64>(i) };
                break;
            }
            page.recordings.push_back(r);
        }
        m_queue.async([completion, page] { completion(page); });
    }

    bool acceptRows = true;
    std::vector<Saved> saved;
    std::vector<QUuid> deleted;

private:
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

// Permission bits of a file or folder, -1 when it does not exist.
inline int modeOf(const QString &path)
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

} // namespace pellux::test
