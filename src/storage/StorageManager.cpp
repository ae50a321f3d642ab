#include "storage/StorageManager.h"

#include "persistence/RecordingJson.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SerialQueue.h"
#include "storage/RecordingIndex.h"
#include "storage/ScreenshotFileName.h"
#include "storage/StorageFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QPromise>
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

void sortNewestFirst(std::vector<Recording> &recordings)
{
    std::stable_sort(recordings.begin(), recordings.end(),
        [](const Recording &a, const Recording &b) { return a.timestamp > b.timestamp; });
}

// Turns a one-shot completion callback into a future a coroutine can await. A callback that is
// dropped without being called resolves the future with `fallback`, so no caller waits forever.
template <typename T> class CompletionPromise {
public:
    explicit CompletionPromise(T fallback)
        : m_fallback(std::move(fallback))
    {
        m_promise.start();
    }
    ~CompletionPromise() { resolve(m_fallback); }
    QFuture<T> future() { return m_promise.future(); }
    void resolve(T value)
    {
        if (m_done.exchange(true))
            return;
        m_promise.addResult(std::move(value));
        m_promise.finish();
    }

private:
    QPromise<T> m_promise;
    std::atomic<bool> m_done { false };
    T m_fallback;
};

template <typename T> std::pair<QFuture<T>, std::function<void(T)>> awaitableCompletion(T fallback)
{
    auto promise = std::make_shared<CompletionPromise<T>>(std::move(fallback));
    return { promise->future(), [promise](T value) { promise->resolve(std::move(value)); } };
}

QString localTimeStamp(TimePoint t)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(secondsSince1970(t) * 1000.0)))
        .toString(QStringLiteral("yyyyMMdd_HHmmss"));
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
    loadRecordings();

    m_storageUpdateTimer.setInterval(kStorageUpdateIntervalMs);
    connect(&m_storageUpdateTimer, &QTimer::timeout, this, [this] { calculateStorageUsed(); });
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

void StorageManager::loadRecordings()
{
    const QString path = metadataFilePath();
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        recoverFromUnreadableMetadata({}, file.errorString());
        return;
    }
    const QByteArray data = file.readAll();
    file.close();
    QString error;
    std::optional<std::vector<Recording>> decoded = decodeRecordings(data, &error);
    if (!decoded) {
        recoverFromUnreadableMetadata(data, error);
        return;
    }
    std::vector<Recording> present;
    present.reserve(decoded->size());
    for (Recording &r : *decoded) {
        if (QFileInfo::exists(r.localPath()))
            present.push_back(std::move(r));
    }
    setRecordings(std::move(present));
    calculateStorageUsed();
}

void StorageManager::recoverFromUnreadableMetadata(const QByteArray &data, const QString &reason)
{
    // The unreadable file is kept as it is, under a new name, and never written over: what can
    // be read from it, and the image files it no longer describes, become the list.
    const QString path = metadataFilePath();
    QString aside = path + QStringLiteral(".corrupt-") + localTimeStamp(m_clock.now());
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".corrupt-%1-%2").arg(localTimeStamp(m_clock.now())).arg(n);
    QFile moving(path);
    if (moving.rename(aside)) {
        if (QString error; !makeFilePrivate(aside, &error))
            log::failure(QStringLiteral("ERROR StorageManager: the set-aside metadata is not private: %1").arg(error));
    } else {
        m_metadataWritable = false;
        log::failure(QStringLiteral("ERROR StorageManager: metadata.json could not be read (%1) nor set aside (%2); "
                                    "the recordings list will not be saved until it is moved away")
                         .arg(reason, moving.errorString()));
    }

    const SalvagedRecordings salvaged = salvageRecordings(data);
    std::vector<Recording> list;
    QSet<QString> known;
    for (const Recording &r : salvaged.recordings) {
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
    sortNewestFirst(list);

    if (m_metadataWritable)
        log::failure(QStringLiteral("ERROR StorageManager: metadata.json could not be read (%1); kept it as %2 and "
                                    "rebuilt the list: %3 entries recovered, %4 skipped, %5 added from image files")
                         .arg(reason, QFileInfo(aside).fileName())
                         .arg(recovered)
                         .arg(salvaged.unreadableElements)
                         .arg(fromFiles));
    setRecordings(std::move(list));
    // Construction reads the list synchronously; the rebuilt one is written before it returns too.
    writeMetadata().waitForFinished();
    calculateStorageUsed();
}

void StorageManager::setRecordings(std::vector<Recording> recordings)
{
    m_recordings = std::move(recordings);
    emit recordingsChanged();
}

QFuture<StorageManager::WriteResult> StorageManager::writeMetadata()
{
    return m_files->future([path = metadataFilePath(), snapshot = m_recordings, writable = m_metadataWritable] {
        WriteResult result;
        if (!writable)
            result.error = QStringLiteral("%1: an unreadable earlier list is still in its place").arg(path);
        else
            result.ok = writePrivateFileAtomically(path, encodeRecordings(snapshot), &result.error);
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
    auto [saved, completion] = awaitableCompletion(false);
    m_index.saveRecordingWithDeltaFrame(
        recording, imageHash, data.size(), isDeltaFrame, referenceHash, compressionRatio, completion);
    const bool rowWritten = co_await saved;
    if (!self)
        co_return std::nullopt;
    if (!rowWritten) {
        log::failure(QStringLiteral("ERROR StorageManager: Failed to save recording to database"));
        QFuture<void> undoing = m_files->future([path = written.path, unlisted = m_unlistedFiles] {
            QFile::remove(path);
            const std::lock_guard lock(unlisted->mutex);
            unlisted->paths.remove(path);
        });
        co_await undoing;
        co_return std::nullopt;
    }

    std::vector<Recording> list = m_recordings;
    // Healing at start may have listed it from its row meanwhile.
    if (std::none_of(list.begin(), list.end(), [&](const Recording &r) { return r.id == recording.id; })) {
        list.push_back(recording);
        sortNewestFirst(list);
        setRecordings(std::move(list));
    }

    // The list file is written before the disk walk, so that the figure includes it. A save whose
    // entry cannot reach the list file is undone, row included: reporting it as saved would lose it
    // at the next start.
    QFuture<WriteResult> listWriting = writeMetadata();
    const WriteResult listWritten = co_await listWriting;
    if (!self)
        co_return std::nullopt;
    if (!listWritten.ok) {
        std::vector<Recording> without = m_recordings;
        std::erase_if(without, [&](const Recording &r) { return r.id == recording.id; });
        setRecordings(std::move(without));
        auto [rowDeleted, deletion] = awaitableCompletion(-1);
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
    if (!listWritten.ok) {
        co_await settling;
        co_return std::nullopt;
    }

    QCoro::Task<> measuring = calculateStorageUsed();
    co_await measuring;
    if (!self)
        co_return std::nullopt;
    log::debug(QStringLiteral("DEBUG StorageManager: Recording saved successfully with hash: %1, isDelta: %2")
                   .arg(imageHash.value_or(QStringLiteral("none")),
                       isDeltaFrame ? QStringLiteral("true") : QStringLiteral("false")));
    if (self)
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
    std::vector<Recording> old;
    for (const Recording &r : m_recordings) {
        if (r.timestamp < cutoff)
            old.push_back(r);
    }
    if (!old.empty())
        deleteRecordings(std::move(old));
}

QCoro::Task<> StorageManager::deleteRecordings(std::vector<Recording> recordings)
{
    QCoro::Task<> removing = removeFromStore(std::move(recordings), StorageFigure::recompute);
    co_await removing;
}

QCoro::Task<> StorageManager::deleteAllRecordings()
{
    QCoro::Task<> removing = removeFromStore(m_recordings, StorageFigure::reset);
    co_await removing;
}

QCoro::Task<> StorageManager::removeFromStore(std::vector<Recording> recordings, StorageFigure figure)
{
    QPointer<StorageManager> self(this);
    QStringList paths;
    std::vector<QUuid> ids;
    for (const Recording &r : recordings) {
        ids.push_back(r.id);
        paths << r.localPath();
        if (r.thumbnailPath && r.thumbnailPath != r.filePath)
            paths << r.thumbnailPath->toLocalFile();
    }
    QFuture<void> removing = m_files->future([paths] {
        for (const QString &path : paths) {
            QString error;
            if (!removeScreenshotFile(path, &error))
                log::failure(QStringLiteral("ERROR StorageManager: Failed to delete screenshot: %1").arg(error));
        }
    });
    co_await removing;
    if (!self)
        co_return;

    // Only what was asked for leaves the list: a save that finished meanwhile keeps its entry.
    const QSet<QUuid> gone(ids.begin(), ids.end());
    std::vector<Recording> kept;
    kept.reserve(m_recordings.size());
    for (const Recording &r : m_recordings) {
        if (!gone.contains(r.id))
            kept.push_back(r);
    }
    const int removed = static_cast<int>(m_recordings.size() - kept.size());
    setRecordings(std::move(kept));
    if (figure == StorageFigure::reset) {
        // Everything else goes too: backups, files no list names, the hour folders and the
        // damaged lists set aside. Recordings saved meanwhile stay, with their files.
        QSet<QString> keep;
        for (const Recording &r : m_recordings)
            keep.insert(r.localPath());
        QFuture<void> emptying = m_files->future(
            [keep, unlisted = m_unlistedFiles, screenshots = m_screenshotsDirectory,
                lists = m_recordingsDirectory]() mutable {
                {
                    const std::lock_guard lock(unlisted->mutex);
                    keep.unite(unlisted->paths);
                }
                const QStringList failures = emptyScreenshotsFolder(screenshots, keep) + removeSetAsideLists(lists);
                for (const QString &failure : failures)
                    log::failure(QStringLiteral("ERROR StorageManager: Failed to delete screenshot: %1").arg(failure));
            });
        co_await emptying;
        if (!self)
            co_return;
        m_latestWalk.reset();
        m_publishedSequence = ++m_walkSequence; // walks already running describe the old tree
        if (m_storageUsed != 0) {
            m_storageUsed = 0;
            emit storageUsedChanged();
        }
    }
    QFuture<WriteResult> listWriting = writeMetadata();
    co_await listWriting;
    if (!self)
        co_return;

    // The row and its recognised text go too, so that a deleted screenshot is no longer found.
    auto [rowsDeleted, completion] = awaitableCompletion(-1);
    m_index.deleteRecordings(ids, completion);
    const int rows = co_await rowsDeleted;
    if (!self)
        co_return;
    applicationsMayHaveGone();
    if (rows < 0)
        log::failure(
            QStringLiteral("ERROR StorageManager: Failed to delete %1 recordings from the database").arg(ids.size()));
    else
        log::debug(
            QStringLiteral("DEBUG StorageManager: Deleted %1 recordings, %2 database rows").arg(removed).arg(rows));

    if (figure == StorageFigure::recompute) {
        QCoro::Task<> measuring = calculateStorageUsed();
        co_await measuring;
        if (!self)
            co_return;
    }
    emit recordingsDeleted(removed);
}

QCoro::Task<bool> StorageManager::addRecoveredRecordings(std::vector<Recording> recovered)
{
    QPointer<StorageManager> self(this);
    QSet<QUuid> ids;
    QSet<QString> paths;
    for (const Recording &r : m_recordings) {
        ids.insert(r.id);
        paths.insert(r.localPath());
    }
    std::vector<Recording> list = m_recordings;
    const size_t before = list.size();
    for (Recording &r : recovered) {
        if (ids.contains(r.id) || paths.contains(r.localPath()))
            continue;
        ids.insert(r.id);
        paths.insert(r.localPath());
        list.push_back(std::move(r));
    }
    if (list.size() == before)
        co_return true;
    sortNewestFirst(list);
    setRecordings(std::move(list));
    QFuture<WriteResult> listWriting = writeMetadata();
    const WriteResult written = co_await listWriting;
    if (self)
        applicationsMayHaveGone();
    co_return written.ok;
}

QCoro::Task<std::optional<int>> StorageManager::adoptRecordedIdentities(std::vector<Recording> recorded)
{
    QHash<QString, const Recording *> byPath;
    QSet<QUuid> listed;
    for (const Recording &r : m_recordings)
        listed.insert(r.id);
    for (const Recording &r : recorded) {
        // An id another entry already holds would list one recording twice.
        if (!listed.contains(r.id))
            byPath.insert(r.localPath(), &r);
    }
    std::vector<Recording> list = m_recordings;
    int changed = 0;
    for (Recording &entry : list) {
        const auto found = byPath.constFind(entry.localPath());
        if (found == byPath.constEnd() || (*found)->id == entry.id)
            continue;
        const Recording &row = **found;
        entry.id = row.id;
        entry.timestamp = row.timestamp;
        entry.appName = row.appName;
        entry.windowTitle = row.windowTitle;
        entry.imageHash = row.imageHash;
        byPath.erase(found);
        ++changed;
    }
    if (changed == 0)
        co_return 0;
    sortNewestFirst(list);
    setRecordings(std::move(list));
    QFuture<WriteResult> listWriting = writeMetadata();
    const WriteResult written = co_await listWriting;
    co_return written.ok ? std::optional<int>(changed) : std::nullopt;
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
    auto [answered, completion] = awaitableCompletion(QStringList());
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
    auto [answered, completion] = awaitableCompletion(RecordingPage());
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
