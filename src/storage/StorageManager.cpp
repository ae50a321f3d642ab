#include "storage/StorageManager.h"

#include "imaging/ScreenshotFileName.h"
#include "imaging/Thumbnail.h"
#include "persistence/RecordingJson.h"
#include "runtime/CompletionFuture.h"
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

constexpr int kStorageUpdateIntervalMs = 30'000;
// Distinct names tried for frames of one application within one second before giving up.
constexpr int kMaxNameAttempts = 10'000;

} // namespace

struct StorageManager::UnlistedFiles {
    std::mutex mutex;
    QSet<QString> paths;
};

StorageManager::StorageManager(RecordingIndex &index, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_index(index)
    , m_clock(clock)
    , m_layout(StoreLayout::standard())
    , m_files(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.storage")))
    , m_unlistedFiles(std::make_shared<UnlistedFiles>())
    , m_walks(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.storage.usage")))
{
    m_recordingsDirectory = m_layout.recordingsFolder();
    m_screenshotsDirectory = m_layout.screenshotsFolder();

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

QString StorageManager::metadataFilePath() const { return m_layout.recordingsListFile(); }

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

QCoro::Task<std::optional<Recording>> StorageManager::saveScreenshot(QByteArray data, TimePoint timestamp,
    int displayIndex, std::optional<QString> appName, std::optional<QString> windowTitle,
    std::optional<QString> imageHash, bool isDeltaFrame, std::optional<QString> referenceHash,
    std::optional<double> compressionRatio, QByteArray thumbnailData)
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
    QFuture<Written> writing = m_files->future([folder, data, thumbnailData, timestamp, appName, extension,
                                                   unlisted = m_unlistedFiles] {
        Written out;
        if (!makePrivatePath(folder, &out.error))
            return out;
        for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
            const QString path = folder + QLatin1Char('/') + screenshotFileName(timestamp, appName, extension, attempt);
            switch (writeNewPrivateFile(path, data, &out.error)) {
            case WriteOutcome::written: {
                out.path = path;
                // A thumbnail can be made again from its frame: it is not worth a flush to
                // the disk, and one that cannot be written is made when first shown.
                if (!thumbnailData.isEmpty()) {
                    // One left by a screenshot of the same name that is gone is not this one's.
                    const QString thumbnailPath = thumbnail::pathFor(path);
                    QString thumbnailError;
                    WriteOutcome thumbnailWritten = WriteOutcome::failed;
                    for (int thumbnailAttempt = 0; thumbnailAttempt < 2; ++thumbnailAttempt) {
                        thumbnailWritten
                            = writeNewPrivateFile(thumbnailPath, thumbnailData, &thumbnailError, Durability::unsynced);
                        if (thumbnailWritten != WriteOutcome::alreadyExists)
                            break;
                        QFile::remove(thumbnailPath);
                    }
                    if (thumbnailWritten != WriteOutcome::written)
                        log::failure(
                            QStringLiteral("StorageManager: no thumbnail for %1: %2").arg(path, thumbnailError));
                }
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
    auto [saved, completion] = completionFuture(RowWrite::failed);
    m_index.saveRecordingWithDeltaFrame(
        recording, imageHash, data.size(), isDeltaFrame, referenceHash, compressionRatio, completion);
    const RowWrite row = co_await saved;
    if (!self)
        co_return std::nullopt;
    // A pending row is written later; the file and its list entry are kept, from which the next
    // start rebuilds the row should the process end first.
    if (row == RowWrite::pending)
        log::info(QStringLiteral("StorageManager: the row of %1 waits to be written").arg(written.path));
    if (row == RowWrite::failed) {
        m_savesUnderWay.remove(recording.id);
        log::failure(QStringLiteral("ERROR StorageManager: Failed to save recording to database"));
        QFuture<void> undoing = m_files->future([path = written.path, unlisted = m_unlistedFiles] {
            QFile::remove(path);
            QFile::remove(thumbnail::pathFor(path));
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
              if (!listed) {
                  QFile::remove(path);
                  QFile::remove(thumbnail::pathFor(path));
              }
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
    addToStorageUsed(data.size() + thumbnailData.size() + listWritten.bytesAdded);
    log::debug(QStringLiteral("DEBUG StorageManager: Recording saved successfully with hash: %1, isDelta: %2")
                   .arg(imageHash.value_or(QStringLiteral("none")),
                       isDeltaFrame ? QStringLiteral("true") : QStringLiteral("false")));
    noteApplicationSaved(appName);
    co_return recording;
}

void StorageManager::deleteRecording(const Recording &recording) { deleteRecordings({ recording }); }

std::optional<TimePoint> StorageManager::cutoffForDays(int days) const
{
    if (days < 0)
        return std::nullopt;
    const QDateTime now
        = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(secondsSince1970(m_clock.now()) * 1000.0)));
    const QDateTime cutoffTime = now.addDays(-days);
    return cutoffTime.isValid() ? fromSecondsSince1970(static_cast<double>(cutoffTime.toMSecsSinceEpoch()) / 1000.0)
                                : m_clock.now();
}

QCoro::Task<DeletionReport> StorageManager::deleteOldRecordings(int days)
{
    const std::optional<TimePoint> cutoff = cutoffForDays(days);
    if (!cutoff) {
        log::failure(
            QStringLiteral("ERROR StorageManager: Refusing to delete recordings older than %1 days").arg(days));
        co_return DeletionReport { .failure = QStringLiteral("%1 days is not an age").arg(days) };
    }
    QCoro::Task<DeletionReport> removing = removeFromStore({ .capturedBefore = cutoff }, StorageFigure::recompute);
    co_return co_await removing;
}

QCoro::Task<DeletionReport> StorageManager::deleteRecordingsOfApplication(QString appName)
{
    QCoro::Task<DeletionReport> removing
        = removeFromStore({ .application = std::move(appName) }, StorageFigure::recompute);
    co_return co_await removing;
}

QCoro::Task<std::optional<qint64>> StorageManager::countRecordings(
    std::optional<int> olderThanDays, std::optional<QString> appName)
{
    std::optional<TimePoint> cutoff;
    if (olderThanDays) {
        cutoff = cutoffForDays(*olderThanDays);
        if (!cutoff)
            co_return std::nullopt;
    }
    auto [answered, completion] = completionFuture(std::optional<qint64>());
    m_index.countRecordings(cutoff, std::move(appName), completion);
    co_return co_await answered;
}

QCoro::Task<> StorageManager::deleteRecordings(std::vector<Recording> recordings)
{
    QCoro::Task<DeletionReport> removing
        = removeFromStore({ .recordings = std::move(recordings) }, StorageFigure::recompute);
    co_await removing;
}

QCoro::Task<bool> StorageManager::deleteAllRecordings()
{
    QCoro::Task<DeletionReport> removing = deleteAllRecordingsReported();
    co_return (co_await removing).ok;
}

QCoro::Task<DeletionReport> StorageManager::deleteAllRecordingsReported()
{
    QCoro::Task<DeletionReport> removing = removeFromStore({ .everything = true }, StorageFigure::reset);
    co_return co_await removing;
}

// Files first, then rows, then list entries: a crash part-way leaves entries or rows whose file is
// gone, which the next pass removes, never a file no entry names.
QCoro::Task<DeletionReport> StorageManager::removeFromStore(Removal removal, StorageFigure figure)
{
    QPointer<StorageManager> self(this);
    const DeletionReport gone { .failure = QStringLiteral("the store closed") };
    // The screenshots kept that build on those that go are stored in full first; when one cannot
    // be, nothing goes.
    if ((removal.capturedBefore || removal.application) && !removal.everything) {
        QString why;
        QCoro::Task<bool> detaching = storeDependentsInFull(removal, &removal.newHashes, &why);
        const bool detached = co_await detaching;
        if (!self)
            co_return gone;
        if (!detached) {
            log::failure(QStringLiteral("ERROR StorageManager: nothing was deleted: ") + why);
            co_return DeletionReport { .failure = why };
        }
    }
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
    if (removal.capturedBefore || removal.everything || removal.application) {
        auto [answered, completion] = completionFuture(Rows());
        const auto share = [completion](std::optional<std::vector<Recording>> found) {
            completion(found ? std::make_shared<const std::vector<Recording>>(std::move(*found)) : nullptr);
        };
        if (removal.application && !removal.everything)
            m_index.recordingsOfApplicationToDelete(*removal.application, share);
        else
            m_index.recordingsCapturedBefore(removal.everything ? std::nullopt : removal.capturedBefore, share);
        found = co_await answered;
        if (!self)
            co_return gone;
        if (!found) {
            log::failure(QStringLiteral("ERROR StorageManager: the database could not list the recordings to delete"));
            finish();
            co_return DeletionReport { .failure = QStringLiteral("The database could not list the screenshots.") };
        }
    }
    using Ids = std::shared_ptr<const QSet<QUuid>>;
    QFuture<Ids> removing = m_files->future(
        [path = metadataFilePath(), named = std::move(removal.recordings), found, before = removal.capturedBefore,
            application = removal.application, all = removal.everything, spared = m_sparedByRemovals] {
            std::vector<Recording> listed;
            if (before || all || application) {
                recordings_file::Reader reader(path);
                if (reader.open()) {
                    while (!reader.atEnd()) {
                        for (Recording &r : reader.next(4096)) {
                            if (all || (before && r.timestamp < *before) || (application && r.appName == application))
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
                        const bool present = QFileInfo::exists(file) || QFileInfo::exists(thumbnail::pathFor(file));
                        if (present && !removeScreenshotFile(file, &error))
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
        co_return gone;
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
            co_return gone;
    }

    // The rows and their recognised text go next, so that a deleted screenshot is no longer
    // found; in slices, so that searches run in between.
    constexpr int kRowsPerStep = 2000;
    const std::vector<QUuid> idList(ids->begin(), ids->end());
    DeletionReport report { .ok = true };
    bool rowsFailed = false;
    for (size_t start = 0; start < idList.size(); start += kRowsPerStep) {
        const std::vector<QUuid> slice(idList.begin() + static_cast<std::ptrdiff_t>(start),
            idList.begin() + static_cast<std::ptrdiff_t>(std::min(idList.size(), start + kRowsPerStep)));
        auto [rowsDeleted, completion] = completionFuture(std::optional<RecordingIndex::DeletedRows>());
        m_index.deleteRecordingsMeasured(slice, completion);
        const std::optional<RecordingIndex::DeletedRows> deleted = co_await rowsDeleted;
        if (!self)
            co_return gone;
        if (!deleted) {
            rowsFailed = true;
        } else {
            report.count += deleted->count;
            report.bytes += deleted->bytes;
        }
    }

    // Only what was asked for leaves the list: a save that finished meanwhile keeps its entry.
    QFuture<WriteResult> listWriting = rewriteList([ids, hashes = std::move(removal.newHashes)](Recording &r) {
        if (const auto taken = hashes.constFind(r.localPath()); taken != hashes.cend())
            r.imageHash = *taken;
        return !ids->contains(r.id);
    });
    const WriteResult listWritten = co_await listWriting;
    if (!self)
        co_return gone;
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
        log::debug(QStringLiteral("DEBUG StorageManager: Deleted %1 recordings, %2 database rows")
                       .arg(removed)
                       .arg(report.count));
    QCoro::Task<> counting = refreshRecordingCount();
    co_await counting;
    if (!self)
        co_return gone;

    if (figure == StorageFigure::recompute) {
        QCoro::Task<> measuring = calculateStorageUsed();
        co_await measuring;
        if (!self)
            co_return gone;
    }
    finish();
    if (rowsFailed) {
        // Slices deleted before the failure are gone; the count says how many.
        report.ok = false;
        report.failure = QStringLiteral("The database could not delete the screenshots' text and records.");
        co_return report;
    }
    emit recordingsDeleted(removed);
    co_return report;
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

QCoro::Task<ApplicationNames> StorageManager::uniqueApps()
{
    QPointer<StorageManager> self(this);
    const quint64 generation = m_applicationsGeneration;
    // A request the database dropped unanswered is a failure, not an empty store.
    auto [answered, completion] = completionFuture(ApplicationNames { {}, QStringLiteral("no answer") });
    m_index.applicationNames(completion);
    ApplicationNames answer = co_await answered;
    if (self && generation == m_applicationsGeneration) {
        for (const QString &name : answer.names)
            m_knownApplications.insert(name);
    }
    co_return answer;
}

QCoro::Task<RecordingPage> StorageManager::recordingsForApp(
    QString appName, int limit, std::optional<RecordingPageCursor> after)
{
    auto [answered, completion] = completionFuture(RecordingPage { {}, std::nullopt, QStringLiteral("no answer") });
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
