// The disk-use figure of StorageManager: kept current by saves, corrected by walks of the disk.
#include "storage/StorageManager.h"

#include "imaging/ScreenshotFileName.h"
#include "persistence/RecordingJson.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SerialQueue.h"
#include "runtime/StoreLayout.h"
#include "runtime/ThreadSanitizer.h"
#include "storage/RecordingIndex.h"
#include "storage/RecordingsFile.h"
#include "storage/StorageFiles.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <qcorofuture.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace pellux {

struct StorageManager::Walk {
    QFuture<qint64> future;
    // Set by the walk as it starts; a walk not yet started will see every change made so far.
    std::shared_ptr<std::atomic<bool>> started = std::make_shared<std::atomic<bool>>(false);
    quint64 sequence = 0;
};

void StorageManager::addToStorageUsed(qint64 bytes)
{
    if (bytes == 0)
        return;
    m_storageUsed = std::max<qint64>(0, m_storageUsed + bytes);
    emit storageUsedChanged();
}

QCoro::Task<> StorageManager::calculateStorageUsed()
{
    QPointer<StorageManager> self(this);
    std::shared_ptr<Walk> walk = m_latestWalk;
    if (!walk || walk->started->load(std::memory_order_acquire)) {
        auto next = std::make_shared<Walk>();
        next->sequence = ++m_walkSequence;
        auto body = [folders = QStringList { m_screenshotsDirectory, m_recordingsDirectory }, started = next->started] {
            started->store(true, std::memory_order_release);
            qint64 total = 0;
            for (const QString &folder : folders)
                total += diskUsage(folder);
            return total;
        };
        // One walk at a time: a new one queues behind the running one, and later callers share it.
        next->future = m_walks->future(body);
        m_latestWalk = next;
        walk = std::move(next);
    }
    QFuture<qint64> walking = walk->future;
    const qint64 total = co_await walking;
    if (!self)
        co_return;
    m_lastWalkMs = QDeadlineTimer::current().deadline();
    publishStorageUsed(total, walk->sequence);
}

void StorageManager::publishStorageUsed(qint64 bytes, quint64 sequence)
{
    if (sequence <= m_publishedSequence)
        return;
    m_publishedSequence = sequence;
    if (m_storageUsed == bytes)
        return;
    m_storageUsed = bytes;
    emit storageUsedChanged();
}

} // namespace pellux
