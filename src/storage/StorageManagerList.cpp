// The list file of StorageManager: checked at start, set aside and rebuilt when damaged, appended
// to by saves, rewritten by healing.
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

namespace {

QString localTimeStamp(TimePoint t)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(secondsSince1970(t) * 1000.0)))
        .toString(QStringLiteral("yyyyMMdd_HHmmss"));
}

// The name a damaged list is kept under: "metadata.json.corrupt-<time>", numbered when taken.
QString setAsideName(const QString &path, TimePoint now)
{
    QString aside = path + QStringLiteral(".corrupt-") + localTimeStamp(now);
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".corrupt-%1-%2").arg(localTimeStamp(now)).arg(n);
    return aside;
}

} // namespace

// A crash between writing the new list and renaming it over the old one leaves the temporary
// behind. One an hour old belongs to no write under way, even of another Pellux process.
void StorageManager::removeStaleTemporaries()
{
    const TimePoint cutoff = m_clock.now() - std::chrono::hours(1);
    const QFileInfoList temporaries
        = QDir(m_recordingsDirectory)
              .entryInfoList(
                  { atomicWriteTemporaryPattern(QStringLiteral("metadata.json")) }, QDir::Files | QDir::Hidden);
    for (const QFileInfo &temporary : temporaries) {
        const TimePoint modified = fromSecondsSince1970(temporary.lastModified().toMSecsSinceEpoch() / 1000.0);
        if (modified < cutoff && QFile::remove(temporary.filePath()))
            log::debug(
                QStringLiteral("DEBUG StorageManager: Removed the stale temporary %1").arg(temporary.fileName()));
    }
}

// Only the end of the list is read at start: a list that does not end as it should (a crash
// while an entry was appended, a file cut or damaged) is set aside and rebuilt, which is rare
// enough to read it whole.
void StorageManager::checkListFile()
{
    QString error;
    const recordings_file::Ending ending = recordings_file::endingOf(metadataFilePath(), &error);
    if (ending != recordings_file::Ending::missing && ending != recordings_file::Ending::closed)
        recoverFromUnreadableMetadata(error);
}

void StorageManager::recoverFromUnreadableMetadata(const QString &reason)
{
    // The unreadable file is kept as it is, under a new name, and never written over: what can
    // be read from it, and the image files it no longer describes, become the list. Healing then
    // gives entries rebuilt from files their rows' identities.
    const QString path = metadataFilePath();
    m_listRebuilt = true;
    const QString aside = setAsideName(path, m_clock.now());
    QFile moving(path);
    if (moving.rename(aside)) {
        if (QString error; !makeFilePrivate(aside, &error))
            log::failure(QStringLiteral("ERROR StorageManager: the set-aside metadata is not private: %1").arg(error));
    } else {
        m_metadataWritable = false;
        log::failure(QStringLiteral("ERROR StorageManager: metadata.json could not be read (%1) nor set aside (%2); "
                                    "the recordings list will not be saved until it is moved away")
                         .arg(reason, moving.errorString()));
        return;
    }

    // Every whole element that still decodes, also from a file cut short.
    std::vector<Recording> salvaged;
    recordings_file::Reader reader(aside);
    if (reader.open()) {
        while (!reader.atEnd()) {
            std::vector<Recording> batch = reader.next(4096);
            salvaged.insert(
                salvaged.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
        }
    }
    std::vector<Recording> list;
    QSet<QString> known;
    for (const Recording &r : salvaged) {
        const QString local = r.localPath();
        if (QFileInfo::exists(local) && !known.contains(local)) {
            known.insert(local);
            list.push_back(r);
        }
    }
    const size_t recovered = list.size();
    std::vector<Recording> rebuilt = recordingsFromImageFiles(m_screenshotsDirectory, known);
    const size_t fromFiles = rebuilt.size();
    list.insert(list.end(), std::make_move_iterator(rebuilt.begin()), std::make_move_iterator(rebuilt.end()));
    std::stable_sort(
        list.begin(), list.end(), [](const Recording &a, const Recording &b) { return a.timestamp < b.timestamp; });

    log::failure(QStringLiteral("ERROR StorageManager: metadata.json could not be read (%1); kept it as %2 and "
                                "rebuilt the list: %3 entries recovered, %4 skipped, %5 added from image files")
                     .arg(reason, QFileInfo(aside).fileName())
                     .arg(recovered)
                     .arg(reader.unreadableElements())
                     .arg(fromFiles));
    // Construction checks the list synchronously; the rebuilt one is written before it returns too.
    if (QString error; !recordings_file::writeAll(path, list, &error))
        log::failure(QStringLiteral("ERROR StorageManager: Failed to write the recordings list: %1").arg(error));
}

QFuture<void> StorageManager::withListFile(std::function<void(const QString &listPath)> work)
{
    return m_files->future([path = metadataFilePath(), work = std::move(work)] { work(path); });
}

QFuture<StorageManager::WriteResult> StorageManager::appendToList(std::vector<Recording> entries)
{
    return m_files->future([path = metadataFilePath(), entries = std::move(entries), writable = m_metadataWritable] {
        WriteResult result;
        if (!writable) {
            result.error = QStringLiteral("%1: an unreadable earlier list is still in its place").arg(path);
        } else {
            const recordings_file::AppendResult appended = recordings_file::append(path, entries);
            result.ok = appended.ok;
            result.error = appended.error;
            result.bytesAdded = appended.bytesAdded;
        }
        if (!result.ok)
            log::failure(
                QStringLiteral("ERROR StorageManager: Failed to write the recordings list: %1").arg(result.error));
        return result;
    });
}

QFuture<StorageManager::WriteResult> StorageManager::rewriteList(std::function<bool(Recording &)> edit)
{
    return m_files->future([path = metadataFilePath(), edit = std::move(edit), writable = m_metadataWritable,
                               now = m_clock.now()] {
        WriteResult result;
        if (!writable) {
            result.error = QStringLiteral("%1: an unreadable earlier list is still in its place").arg(path);
            log::failure(
                QStringLiteral("ERROR StorageManager: Failed to write the recordings list: %1").arg(result.error));
            return result;
        }
        recordings_file::RewriteResult rewritten = recordings_file::rewrite(path, edit);
        if (rewritten.damaged) {
            // Kept byte for byte before what can be read of it is written anew.
            const QString aside = setAsideName(path, now);
            QString error;
            if (QFile::copy(path, aside) && makeFilePrivate(aside, &error)) {
                rewritten = recordings_file::rewrite(path, edit, { .dropUnreadable = true });
                log::failure(QStringLiteral("ERROR StorageManager: metadata.json was damaged; kept it as %1 and wrote "
                                            "what could be read of it")
                                 .arg(QFileInfo(aside).fileName()));
            } else {
                rewritten.error += QStringLiteral("; it could not be set aside");
            }
        }
        result.ok = rewritten.ok;
        result.error = rewritten.error;
        result.removed = rewritten.removed;
        if (!result.ok)
            log::failure(
                QStringLiteral("ERROR StorageManager: Failed to write the recordings list: %1").arg(result.error));
        return result;
    });
}

QCoro::Task<bool> StorageManager::addRecoveredRecordings(std::vector<Recording> recovered)
{
    QPointer<StorageManager> self(this);
    if (recovered.empty())
        co_return true;
    std::stable_sort(recovered.begin(), recovered.end(),
        [](const Recording &a, const Recording &b) { return a.timestamp < b.timestamp; });
    QFuture<WriteResult> listWriting = appendToList(std::move(recovered));
    const WriteResult written = co_await listWriting;
    if (!self)
        co_return false;
    if (written.ok) {
        addToStorageUsed(written.bytesAdded);
        applicationsMayHaveGone();
        emit recordingsChanged();
    }
    co_return written.ok;
}

QCoro::Task<std::optional<int>> StorageManager::adoptRecordedIdentities(std::vector<Recording> recorded)
{
    QPointer<StorageManager> self(this);
    auto byPath = std::make_shared<QHash<QString, Recording>>();
    for (Recording &r : recorded)
        byPath->insert(r.localPath(), std::move(r));
    // By the id taken: a damaged list is read twice (refused, then written without the damage),
    // and an entry edited in both passes is one change.
    auto changed = std::make_shared<QSet<QUuid>>();
    // An id another entry already holds would list one recording twice: those rows are left out
    // by the caller, which asks only for entries whose id has no row.
    QFuture<WriteResult> listWriting = rewriteList([byPath, changed](Recording &entry) {
        const auto found = byPath->constFind(entry.localPath());
        if (found == byPath->constEnd() || found->id == entry.id)
            return true;
        entry.id = found->id;
        entry.timestamp = found->timestamp;
        entry.appName = found->appName;
        entry.windowTitle = found->windowTitle;
        entry.imageHash = found->imageHash;
        changed->insert(entry.id);
        return true;
    });
    const WriteResult written = co_await listWriting;
    if (!self)
        co_return std::nullopt;
    co_return written.ok ? std::optional<int>(static_cast<int>(changed->size())) : std::nullopt;
}

QCoro::Task<bool> StorageManager::rewriteDamagedList()
{
    QFuture<WriteResult> listWriting = rewriteList([](Recording &) { return true; });
    const WriteResult written = co_await listWriting;
    co_return written.ok;
}

} // namespace pellux
