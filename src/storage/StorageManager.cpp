#include "storage/StorageManager.h"

#include "persistence/RecordingJson.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SerialQueue.h"
#include "runtime/ThreadSanitizer.h"
#include "storage/RecordingIndex.h"
#include "storage/RecordingsFile.h"
#include "storage/ScreenshotFileName.h"
#include "storage/StorageFiles.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStandardPaths>

#include <qcorofuture.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace pellux {

namespace {

constexpr int kStorageUpdateIntervalMs = 30'000;
// Distinct names tried for frames of one application within one second before giving up.
constexpr int kMaxNameAttempts = 10'000;

QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() + QStringLiteral("/Documents") : documents;
}

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

struct StorageManager::Walk {
    QFuture<qint64> future;
    // Set by the walk as it starts; a walk not yet started will see every change made so far.
    std::shared_ptr<std::atomic<bool>> started = std::make_shared<std::atomic<bool>>(false);
    quint64 sequence = 0;
};

struct StorageManager::UnlistedFiles {
    std::mutex mutex;
    QSet<QString> paths;
};

StorageManager::StorageManager(RecordingIndex &index, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_index(index)
    , m_clock(clock)
    , m_files(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.storage")))
    , m_unlistedFiles(std::make_shared<UnlistedFiles>())
    , m_walks(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.storage.usage")))
{
    const QString pellux = documentsFolder() + QStringLiteral("/Pellux");
    m_recordingsDirectory = pellux + QStringLiteral("/Recordings");
    m_screenshotsDirectory = pellux + QStringLiteral("/Screenshots");

    createDirectories();
    removeStaleTemporaries();
    checkListFile();
    refreshRecordingCount();

    // Saves and deletions keep the figure current; the walk, a second or more of disk work for a
    // large history, only corrects what other programs changed.
    m_storageUpdateTimer.setInterval(kStorageUpdateIntervalMs);
    connect(&m_storageUpdateTimer, &QTimer::timeout, this, [this] {
        if (m_lastWalkMs < 0 || QDeadlineTimer::current().deadline() - m_lastWalkMs >= kFullWalkIntervalMs)
            calculateStorageUsed();
    });
    m_storageUpdateTimer.start();
}

// Destroying the queues first lets every queued write and walk finish.
StorageManager::~StorageManager()
{
    m_files.reset();
    m_walks.reset();
}

QString StorageManager::metadataFilePath() const { return m_recordingsDirectory + QStringLiteral("/metadata.json"); }

void StorageManager::createDirectories()
{
    const QString pellux = QFileInfo(m_recordingsDirectory).path();
    QString error;
    for (const QString &folder : { pellux, m_recordingsDirectory, m_screenshotsDirectory }) {
        if (!ensurePrivateFolder(folder, &error)) {
            log::failure(QStringLiteral("Failed to create directories: %1").arg(error));
            return;
        }
    }
}

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

QCoro::Task<std::optional<Recording>> StorageManager::saveScreenshot(QByteArray data, TimePoint timestamp,
    int displayIndex, std::optional<QString> appName, std::optional<QString> windowTitle,
    std::optional<QString> imageHash, bool isDeltaFrame, std::optional<QString> referenceHash,
    std::optional<double> compressionRatio)
{
    Q_UNUSED(displayIndex);
    QPointer<StorageManager> self(this);
    const QString folder = m_screenshotsDirectory + QLatin1Char('/') + hourFolderName(timestamp);
    const QString extension = screenshotExtension(data);

    struct Written {
        QString path;
        QString error;
    };
    // Awaited futures and tasks are kept in named locals: g++ 12 mishandles temporaries that live
    // across a co_await.
    QFuture<Written> writing
        = m_files->future([folder, data, timestamp, appName, extension, unlisted = m_unlistedFiles] {
              Written out;
              if (!makePrivatePath(folder, &out.error))
                  return out;
              for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
                  const QString path
                      = folder + QLatin1Char('/') + screenshotFileName(timestamp, appName, extension, attempt);
                  switch (writeNewPrivateFile(path, data, &out.error)) {
                  case WriteOutcome::written: {
                      out.path = path;
                      const std::lock_guard lock(unlisted->mutex);
                      unlisted->paths.insert(path);
                      return out;
                  }
                  case WriteOutcome::alreadyExists:
                      continue;
                  case WriteOutcome::failed:
                      return out;
                  }
              }
              out.error = QStringLiteral("%1: no free file name for this second").arg(folder);
              return out;
          });
    const Written written = co_await writing;
    if (!self)
        co_return std::nullopt;
    if (written.path.isEmpty()) {
        log::failure(QStringLiteral("Failed to save screenshot: %1").arg(written.error));
        co_return std::nullopt;
    }

    Recording recording;
    recording.id = QUuid::createUuid();
    recording.timestamp = timestamp;
    recording.duration = 0;
    recording.filePath = QUrl::fromLocalFile(written.path);
    recording.thumbnailPath = recording.filePath;
    recording.appName = appName;
    recording.windowTitle = windowTitle;
    recording.type = RecordingType::screenshot;
    recording.imageHash = imageHash;

    // The row comes first. A crash after it leaves a row and a file, from which the next start
    // lists the frame again with all it needs (a delta's reference is kept in its row only); a
    // frame whose row cannot be written is not kept at all, and the capture tries it again.
    m_savesUnderWay.insert(recording.id);
    if (m_removalsUnderWay > 0)
        m_sparedByRemovals.insert(recording.id);
    const quint64 countAsked = m_countGeneration;
    auto [saved, completion] = completionFuture(false);
    m_index.saveRecordingWithDeltaFrame(
        recording, imageHash, data.size(), isDeltaFrame, referenceHash, compressionRatio, completion);
    const bool rowWritten = co_await saved;
    if (!self)
        co_return std::nullopt;
    if (!rowWritten) {
        m_savesUnderWay.remove(recording.id);
        log::failure(QStringLiteral("ERROR StorageManager: Failed to save recording to database"));
        QFuture<void> undoing = m_files->future([path = written.path, unlisted = m_unlistedFiles] {
            QFile::remove(path);
            const std::lock_guard lock(unlisted->mutex);
            unlisted->paths.remove(path);
        });
        co_await undoing;
        tsan::acquire(tsan::futureToken(undoing));
        co_return std::nullopt;
    }

    // The entry goes at the end of the list file. A save whose entry cannot reach it is undone,
    // row included: reporting it as saved would lose it at the next start.
    QFuture<WriteResult> listWriting = appendToList({ recording });
    const WriteResult listWritten = co_await listWriting;
    if (!self)
        co_return std::nullopt;
    if (!listWritten.ok) {
        auto [rowDeleted, deletion] = completionFuture(-1);
        m_index.deleteRecordings({ recording.id }, deletion);
        co_await rowDeleted;
        if (!self)
            co_return std::nullopt;
    }
    // Queued after the entry is listed (or undone): an emptying of the folder queued before this
    // spares the file, one queued after finds its entry in the list.
    QFuture<void> settling
        = m_files->future([path = written.path, listed = listWritten.ok, unlisted = m_unlistedFiles] {
              if (!listed)
                  QFile::remove(path);
              const std::lock_guard lock(unlisted->mutex);
              unlisted->paths.remove(path);
          });
    m_savesUnderWay.remove(recording.id);
    if (!listWritten.ok) {
        co_await settling;
        tsan::acquire(tsan::futureToken(settling));
        co_return std::nullopt;
    }

    if (countAsked == m_countGeneration) {
        if (m_countKnown)
            setRecordingCount(m_recordingCount + 1);
        else
            ++m_savedSinceCountAsked;
    }
    addToStorageUsed(data.size() + listWritten.bytesAdded);
    log::debug(QStringLiteral("DEBUG StorageManager: Recording saved successfully with hash: %1, isDelta: %2")
                   .arg(imageHash.value_or(QStringLiteral("none")),
                       isDeltaFrame ? QStringLiteral("true") : QStringLiteral("false")));
    noteApplicationSaved(appName);
    co_return recording;
}

void StorageManager::deleteRecording(const Recording &recording) { deleteRecordings({ recording }); }

void StorageManager::deleteOldRecordings(int days)
{
    if (days < 0) {
        log::failure(
            QStringLiteral("ERROR StorageManager: Refusing to delete recordings older than %1 days").arg(days));
        return;
    }
    const QDateTime now
        = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(secondsSince1970(m_clock.now()) * 1000.0)));
    const QDateTime cutoffTime = now.addDays(-days);
    const TimePoint cutoff = cutoffTime.isValid()
        ? fromSecondsSince1970(static_cast<double>(cutoffTime.toMSecsSinceEpoch()) / 1000.0)
        : m_clock.now();
    removeFromStore({ .capturedBefore = cutoff }, StorageFigure::recompute);
}

QCoro::Task<> StorageManager::deleteRecordings(std::vector<Recording> recordings)
{
    QCoro::Task<> removing = removeFromStore({ .recordings = std::move(recordings) }, StorageFigure::recompute);
    co_await removing;
}

QCoro::Task<> StorageManager::deleteAllRecordings()
{
    QCoro::Task<> removing = removeFromStore({ .everything = true }, StorageFigure::reset);
    co_await removing;
}

// Files first, then rows, then list entries: a crash part-way leaves entries or rows whose file is
// gone, which the next pass removes, never a file no entry names.
QCoro::Task<> StorageManager::removeFromStore(Removal removal, StorageFigure figure)
{
    QPointer<StorageManager> self(this);
    if (m_removalsUnderWay++ == 0)
        m_sparedByRemovals = m_savesUnderWay;
    const auto finish = [this, self] {
        if (self && --m_removalsUnderWay == 0)
            m_sparedByRemovals.clear();
    };

    // What goes: the recordings named, and those the database holds from before the cutoff (or
    // all of them), with the list's own entries of that time, whose rows may be missing. For a
    // large history these are many: they are gathered and sorted out on the file queue, and the
    // main thread only passes them on.
    using Rows = std::shared_ptr<const std::vector<Recording>>;
    Rows found = std::make_shared<const std::vector<Recording>>();
    if (removal.capturedBefore || removal.everything) {
        auto [answered, completion] = completionFuture(Rows());
        m_index.recordingsCapturedBefore(removal.everything ? std::nullopt : removal.capturedBefore,
            [completion](std::optional<std::vector<Recording>> found) {
                completion(found ? std::make_shared<const std::vector<Recording>>(std::move(*found)) : nullptr);
            });
        found = co_await answered;
        if (!self)
            co_return;
        if (!found) {
            log::failure(QStringLiteral("ERROR StorageManager: the database could not list the recordings to delete"));
            finish();
            co_return;
        }
    }
    using Ids = std::shared_ptr<const QSet<QUuid>>;
    QFuture<Ids> removing
        = m_files->future([path = metadataFilePath(), named = std::move(removal.recordings), found,
                              before = removal.capturedBefore, all = removal.everything, spared = m_sparedByRemovals] {
              std::vector<Recording> listed;
              if (before || all) {
                  recordings_file::Reader reader(path);
                  if (reader.open()) {
                      while (!reader.atEnd()) {
                          for (Recording &r : reader.next(4096)) {
                              if (all || r.timestamp < *before)
                                  listed.push_back(std::move(r));
                          }
                      }
                  }
              }
              auto ids = std::make_shared<QSet<QUuid>>();
              QSet<QString> paths;
              for (const std::vector<Recording> *part : { &named, found.get(), &std::as_const(listed) }) {
                  for (const Recording &r : *part) {
                      if (spared.contains(r.id))
                          continue;
                      ids->insert(r.id);
                      for (const QString &file :
                          { r.localPath(), r.thumbnailPath ? r.thumbnailPath->toLocalFile() : QString() }) {
                          if (file.isEmpty() || paths.contains(file))
                              continue;
                          paths.insert(file);
                          QString error;
                          if (QFileInfo::exists(file) && !removeScreenshotFile(file, &error))
                              log::failure(
                                  QStringLiteral("ERROR StorageManager: Failed to delete screenshot: %1").arg(error));
                      }
                  }
              }
              return Ids(std::move(ids));
          });
    found.reset();
    const Ids ids = co_await removing;
    if (!self)
        co_return;
    if (figure == StorageFigure::reset) {
        // Everything else goes too: backups, files no list names, the hour folders and the
        // damaged lists set aside. Frames saved meanwhile stay, with their files.
        QFuture<void> emptying = m_files->future([unlisted = m_unlistedFiles, screenshots = m_screenshotsDirectory,
                                                     lists = m_recordingsDirectory, path = metadataFilePath()] {
            QSet<QString> keep;
            {
                const std::lock_guard lock(unlisted->mutex);
                keep = unlisted->paths;
            }
            // Files of entries listed since the pass began are in the list now.
            recordings_file::Reader reader(path);
            if (reader.open()) {
                while (!reader.atEnd()) {
                    for (const Recording &r : reader.next(4096))
                        keep.insert(r.localPath());
                }
            }
            const QStringList failures = emptyScreenshotsFolder(screenshots, keep) + removeSetAsideLists(lists);
            for (const QString &failure : failures)
                log::failure(QStringLiteral("ERROR StorageManager: Failed to delete screenshot: %1").arg(failure));
        });
        co_await emptying;
        tsan::acquire(tsan::futureToken(emptying));
        if (!self)
            co_return;
    }

    // The rows and their recognised text go next, so that a deleted screenshot is no longer
    // found; in slices, so that searches run in between.
    constexpr int kRowsPerStep = 2000;
    const std::vector<QUuid> idList(ids->begin(), ids->end());
    int rows = 0;
    bool rowsFailed = false;
    for (size_t start = 0; start < idList.size(); start += kRowsPerStep) {
        const std::vector<QUuid> slice(idList.begin() + static_cast<std::ptrdiff_t>(start),
            idList.begin() + static_cast<std::ptrdiff_t>(std::min(idList.size(), start + kRowsPerStep)));
        auto [rowsDeleted, completion] = completionFuture(-1);
        m_index.deleteRecordings(slice, completion);
        const int deleted = co_await rowsDeleted;
        if (!self)
            co_return;
        if (deleted < 0)
            rowsFailed = true;
        else
            rows += deleted;
    }

    // Only what was asked for leaves the list: a save that finished meanwhile keeps its entry.
    QFuture<WriteResult> listWriting = rewriteList([ids](Recording &r) { return !ids->contains(r.id); });
    const WriteResult listWritten = co_await listWriting;
    if (!self)
        co_return;
    const int removed = listWritten.removed;
    if (figure == StorageFigure::reset) {
        m_latestWalk.reset();
        m_publishedSequence = ++m_walkSequence; // walks already running describe the old tree
        if (m_storageUsed != 0) {
            m_storageUsed = 0;
            emit storageUsedChanged();
        }
    }

    applicationsMayHaveGone();
    if (rowsFailed)
        log::failure(
            QStringLiteral("ERROR StorageManager: Failed to delete %1 recordings from the database").arg(ids->size()));
    else
        log::debug(
            QStringLiteral("DEBUG StorageManager: Deleted %1 recordings, %2 database rows").arg(removed).arg(rows));
    QCoro::Task<> counting = refreshRecordingCount();
    co_await counting;
    if (!self)
        co_return;

    if (figure == StorageFigure::recompute) {
        QCoro::Task<> measuring = calculateStorageUsed();
        co_await measuring;
        if (!self)
            co_return;
    }
    finish();
    emit recordingsDeleted(removed);
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

QCoro::Task<> StorageManager::refreshRecordingCount()
{
    QPointer<StorageManager> self(this);
    const quint64 generation = ++m_countGeneration;
    m_savedSinceCountAsked = 0;
    auto [answered, completion] = completionFuture(std::optional<qint64>());
    m_index.recordingCount(completion);
    const std::optional<qint64> count = co_await answered;
    if (!self || generation != m_countGeneration)
        co_return;
    if (!count) {
        log::failure(QStringLiteral("ERROR StorageManager: the database could not count the recordings"));
        co_return;
    }
    m_countKnown = true;
    setRecordingCount(*count + std::exchange(m_savedSinceCountAsked, 0));
}

void StorageManager::setRecordingCount(qint64 count)
{
    if (count == m_recordingCount)
        return;
    m_recordingCount = count;
    emit recordingsChanged();
}

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

QCoro::Task<QStringList> StorageManager::uniqueApps()
{
    QPointer<StorageManager> self(this);
    const quint64 generation = m_applicationsGeneration;
    auto [answered, completion] = completionFuture(QStringList());
    m_index.applicationNames(completion);
    const QStringList names = co_await answered;
    if (self && generation == m_applicationsGeneration) {
        for (const QString &name : names)
            m_knownApplications.insert(name);
    }
    co_return names;
}

QCoro::Task<RecordingPage> StorageManager::recordingsForApp(
    QString appName, int limit, std::optional<RecordingPageCursor> after)
{
    auto [answered, completion] = completionFuture(RecordingPage());
    m_index.recordingsOfApplication(appName, limit, after, completion);
    RecordingPage page = co_await answered;
    co_return page;
}

void StorageManager::noteApplicationSaved(const std::optional<QString> &appName)
{
    if (!appName || m_knownApplications.contains(*appName))
        return;
    m_knownApplications.insert(*appName);
    emit applicationsChanged();
}

void StorageManager::applicationsMayHaveGone()
{
    ++m_applicationsGeneration;
    m_knownApplications.clear();
    emit applicationsChanged();
}

} // namespace pellux
