#include "storage/StoreHealer.h"

#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageFileReader.h"
#include "imaging/StoredScreenshotReader.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"
#include "runtime/SerialQueue.h"
#include "runtime/SignalWait.h"
#include "runtime/ThreadSanitizer.h"
#include "storage/OwedText.h"
#include "storage/RecordingsFile.h"
#include "storage/StorageManager.h"
#include "storage/StoreSession.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QSet>

#include <qcorofuture.h>

#include <functional>

namespace pellux {

namespace {

bool isImageFileName(const QString &name)
{
    return !name.startsWith(QLatin1Char('.'))
        && (name.endsWith(QLatin1String(".webp")) || name.endsWith(QLatin1String(".jpg")));
}

void noteExample(QStringList &examples, const QString &path)
{
    if (examples.size() < StoreHealer::kExamplesInReport)
        examples << path;
}

} // namespace

// The list's ids and paths, read once: sets of ids and of path hashes stay small for 200,000
// entries, where a copy of the list would not.
struct StoreHealer::ListKeys {
    bool damaged = false; // elements that could not be read, or not a whole list
    std::vector<QUuid> order;
    QSet<QUuid> ids;
    QSet<size_t> pathHashes;
    bool names(const QString &path) const { return pathHashes.contains(qHash(path)); }
};

StoreHealer::StoreHealer(
    StorageManager &storage, SimpleDatabaseManager &database, OCRProcessor &ocr, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_storage(storage)
    , m_database(database)
    , m_ocr(ocr)
    , m_clock(clock)
    , m_files(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.healing"), ThreadPriority::idle))
{
}

StoreHealer::~StoreHealer() { m_stopping = true; }

HealingSession::HealingSession(
    StorageManager &storage, SimpleDatabaseManager &database, OCRProcessor &ocr, Clock &clock)
    : m_storage(storage)
    , m_database(database)
    , m_ocr(ocr)
    , m_clock(clock)
{
}

HealingSession::~HealingSession() = default;

void HealingSession::begin(StoreHealer::TextRecognition textRecognition, StoreHealer::Healing healing)
{
    Q_ASSERT(isMainThread());
    if (m_session)
        return;
    m_session = std::make_unique<StoreSession>(m_storage.recordingsDirectory());
    const StoreSession::LastEnd last = m_session->begin();
    m_textRecognition = textRecognition;
    if (healing == StoreHealer::Healing::deferred)
        return;
    if (last == StoreSession::LastEnd::inOrder && !m_database.wasRecreated() && !m_storage.listRebuiltAtStart()) {
        log::info(QStringLiteral("Store healing: not needed, the last capture left the store in order"));
        m_healingNeeded = false;
        return;
    }
    m_healer = std::make_unique<StoreHealer>(m_storage, m_database, m_ocr, m_clock);
    m_healer->heal(textRecognition);
}

void HealingSession::stop()
{
    if (m_healer)
        m_healer->stop();
}

void HealingSession::end(int framesWithoutText)
{
    if (!m_session)
        return;
    // A database set aside during the run (after a retried open) was never healed.
    const bool healed = m_healer ? m_healer->healedCompletely() : !m_healingNeeded;
    const bool databaseRebuiltUnhealed = m_database.wasRecreated() && !healed;
    m_session->end(framesWithoutText == 0 && !databaseRebuiltUnhealed
            && m_textRecognition == StoreHealer::TextRecognition::enabled,
        healed);
}

QCoro::Task<std::shared_ptr<StoreHealer::ListKeys>> StoreHealer::readListKeys()
{
    auto keys = std::make_shared<ListKeys>();
    QFuture<void> reading = m_storage.withListFile([keys](const QString &path) {
        recordings_file::Reader reader(path);
        if (!reader.open())
            return;
        while (!reader.atEnd()) {
            for (const Recording &r : reader.next(kBatchSize)) {
                keys->order.push_back(r.id);
                keys->ids.insert(r.id);
                keys->pathHashes.insert(qHash(r.localPath()));
            }
        }
        keys->damaged = !reader.wellFormed();
    });
    co_await reading;
    tsan::acquire(tsan::futureToken(reading));
    co_return keys;
}

QCoro::Task<std::vector<Recording>> StoreHealer::listedEntries(QSet<QUuid> ids)
{
    auto found = std::make_shared<std::vector<Recording>>();
    QFuture<void> reading = m_storage.withListFile([found, ids = std::move(ids)](const QString &path) {
        recordings_file::Reader reader(path);
        if (!reader.open())
            return;
        while (!reader.atEnd()) {
            for (Recording &r : reader.next(kBatchSize)) {
                if (ids.contains(r.id))
                    found->push_back(std::move(r));
            }
        }
    });
    co_await reading;
    tsan::acquire(tsan::futureToken(reading));
    co_return std::move(*found);
}

QCoro::Task<HealingReport> StoreHealer::heal(TextRecognition textRecognition)
{
    QPointer<StoreHealer> self(this);
    m_startedAt = m_clock.now();
    HealingReport report;
    // Rows first: an entry rebuilt from its image file must take its row's identity before the
    // rows walk would take the row for one without an entry.
    QCoro::Task<bool> rowsForEntries = writeRowsForListedEntries(report);
    bool ok = co_await rowsForEntries;
    if (ok && self) {
        QCoro::Task<bool> entriesForRows = listEntriesForRows(report);
        ok = co_await entriesForRows;
    }
    if (ok && self) {
        // Entries the list could not read were listed again from their rows above; what is left
        // of the damage is set aside.
        QCoro::Task<std::shared_ptr<ListKeys>> readingKeys = readListKeys();
        const std::shared_ptr<ListKeys> keys = co_await readingKeys;
        if (self && keys->damaged) {
            QCoro::Task<bool> rewriting = m_storage.rewriteDamagedList();
            ok = co_await rewriting;
        }
    }
    if (ok && self) {
        QCoro::Task<bool> unnamed = reportUnnamedFiles(report);
        ok = co_await unnamed;
    }
    if (ok && self && textRecognition == TextRecognition::enabled) {
        QCoro::Task<bool> recognizing = recognizeMissingText(report);
        ok = co_await recognizing;
    }
    report.completed = ok && self && !m_stopping;
    if (self && report.completed && textRecognition == TextRecognition::enabled)
        m_healedCompletely = true;

    if (report.rowsWithoutFile > 0)
        log::failure(QStringLiteral("Store healing: %1 database rows name a file that is gone (kept): %2")
                         .arg(report.rowsWithoutFile)
                         .arg(report.rowsWithoutFileExamples.join(QStringLiteral(", "))));
    if (report.unnamedFiles > 0)
        log::failure(QStringLiteral("Store healing: %1 image files are named by neither the list nor the database "
                                    "(kept): %2")
                         .arg(report.unnamedFiles)
                         .arg(report.unnamedFileExamples.join(QStringLiteral(", "))));
    log::info(QStringLiteral("Store healing %1: %2 rows written from the list, %3 list entries recreated from rows, "
                             "%4 entries took their row's identity, %5 frames got their text, %6 show no text, "
                             "%7 could not be read, %8 still owed their text")
                  .arg(report.completed ? QStringLiteral("finished") : QStringLiteral("stopped"))
                  .arg(report.rowsWritten)
                  .arg(report.entriesRecreated)
                  .arg(report.identitiesRestored)
                  .arg(report.framesRecognized)
                  .arg(report.framesWithoutText)
                  .arg(report.framesUnreadable)
                  .arg(report.framesNotRecognized));
    if (self)
        emit finished(report);
    co_return report;
}

QCoro::Task<bool> StoreHealer::writeRowsForListedEntries(HealingReport &report)
{
    QPointer<StoreHealer> self(this);
    QCoro::Task<std::shared_ptr<ListKeys>> readingKeys = readListKeys();
    const std::shared_ptr<ListKeys> keys = co_await readingKeys;
    if (!self)
        co_return false;
    // Entries whose id has no row; usually none.
    QSet<QUuid> withoutRow;
    for (size_t start = 0; self && !m_stopping && start < keys->order.size(); start += kBatchSize) {
        const std::vector<QUuid> ids(keys->order.begin() + static_cast<std::ptrdiff_t>(start),
            keys->order.begin() + static_cast<std::ptrdiff_t>(std::min(keys->order.size(), start + kBatchSize)));
        auto [rowsFound, foundDone] = completionFuture(std::optional<QSet<QUuid>> {});
        m_database.existingRecordingIds(ids, foundDone);
        const std::optional<QSet<QUuid>> existing = co_await rowsFound;
        if (!existing || !self)
            co_return false;
        for (const QUuid &id : ids) {
            if (!existing->contains(id))
                withoutRow.insert(id);
        }
    }
    if (withoutRow.isEmpty() || !self || m_stopping)
        co_return self && !m_stopping;
    QCoro::Task<std::vector<Recording>> reading = listedEntries(std::move(withoutRow));
    const std::vector<Recording> entries = co_await reading;
    if (!self)
        co_return false;

    for (size_t start = 0; self && !m_stopping && start < entries.size(); start += kBatchSize) {
        std::vector<Recording> batch(entries.begin() + static_cast<std::ptrdiff_t>(start),
            entries.begin() + static_cast<std::ptrdiff_t>(std::min(entries.size(), start + kBatchSize)));

        // An entry the damaged list lost and its image file gave back under a new id: its row is
        // found by path and lends the entry its identity.
        QStringList paths;
        for (const Recording &r : batch)
            paths << r.localPath();
        auto [byPath, byPathDone] = completionFuture(std::optional<std::vector<Recording>> {});
        m_database.recordingsWithFilePaths(paths, byPathDone);
        std::optional<std::vector<Recording>> rows = co_await byPath;
        if (!rows || !self)
            co_return false;
        QSet<QString> recordedPaths;
        for (const Recording &row : *rows)
            recordedPaths.insert(row.localPath());
        if (!rows->empty()) {
            QCoro::Task<std::optional<int>> adopting = m_storage.adoptRecordedIdentities(std::move(*rows));
            const std::optional<int> adopted = co_await adopting;
            if (!adopted || !self)
                co_return false;
            report.identitiesRestored += *adopted;
        }
        std::erase_if(batch, [&](const Recording &r) { return recordedPaths.contains(r.localPath()); });
        if (batch.empty())
            continue;

        // The rest lost their row (a crash between listing and the row, or a database started
        // afresh): written back from the entry and what the file tells.
        QFuture<std::vector<SimpleDatabaseManager::RecoveredRow>> inspecting = m_files->future([batch] {
            std::vector<SimpleDatabaseManager::RecoveredRow> out;
            for (const Recording &r : batch) {
                const std::optional<QByteArray> bytes = readStoredFile(r.localPath());
                if (!bytes)
                    continue; // gone meanwhile (the list drops it at the next start), or not a regular file
                out.push_back({ r, bytes->size(), DeltaFrameReader::isDeltaContainer(*bytes) });
            }
            return out;
        });
        std::vector<SimpleDatabaseManager::RecoveredRow> recovered = co_await inspecting;
        if (!self)
            co_return false;
        if (recovered.empty())
            continue;
        auto [written, writtenDone] = completionFuture(std::optional<int> {});
        m_database.saveRecoveredRows(std::move(recovered), writtenDone);
        const std::optional<int> count = co_await written;
        if (!count)
            co_return false;
        report.rowsWritten += *count;
    }
    co_return self && !m_stopping;
}

QCoro::Task<bool> StoreHealer::listEntriesForRows(HealingReport &report)
{
    QPointer<StoreHealer> self(this);
    QCoro::Task<std::shared_ptr<ListKeys>> readingKeys = readListKeys();
    const std::shared_ptr<ListKeys> keys = co_await readingKeys;
    if (!self)
        co_return false;
    std::vector<Recording> toList;
    qint64 afterRowid = 0;
    while (self && !m_stopping) {
        auto [batchRead, readDone] = completionFuture(std::optional<SimpleDatabaseManager::RecordingRows> {});
        m_database.recordingRows(afterRowid, kBatchSize, readDone);
        std::optional<SimpleDatabaseManager::RecordingRows> rows = co_await batchRead;
        if (!rows || !self)
            co_return false;
        if (rows->lastRowid <= afterRowid)
            break;
        afterRowid = rows->lastRowid;
        // Rows of frames captured since healing began belong to saves still under way, which list
        // them themselves.
        std::erase_if(rows->recordings,
            [&](const Recording &r) { return keys->ids.contains(r.id) || r.timestamp >= m_startedAt; });
        if (rows->recordings.empty())
            continue;
        struct Sorted {
            std::vector<Recording> withFile;
            std::vector<Recording> withoutFile;
        };
        QFuture<Sorted> checking = m_files->future([unlisted = std::move(rows->recordings), keys] {
            Sorted out;
            for (const Recording &r : unlisted) {
                const QString path = r.localPath();
                // Listed under another id: its own entry is the one to keep.
                if (keys->names(path))
                    continue;
                (QFileInfo::exists(path) ? out.withFile : out.withoutFile).push_back(r);
            }
            return out;
        });
        Sorted sorted = co_await checking;
        if (!self)
            co_return false;
        for (const Recording &r : sorted.withoutFile) {
            ++report.rowsWithoutFile;
            noteExample(report.rowsWithoutFileExamples, r.localPath());
        }
        toList.insert(toList.end(), sorted.withFile.begin(), sorted.withFile.end());
        if (static_cast<int>(toList.size()) >= kListingBatchSize) {
            const int count = static_cast<int>(toList.size());
            QCoro::Task<bool> listing = m_storage.addRecoveredRecordings(std::exchange(toList, {}));
            if (!co_await listing || !self)
                co_return false;
            report.entriesRecreated += count;
        }
    }
    if (!toList.empty() && self) {
        const int count = static_cast<int>(toList.size());
        QCoro::Task<bool> listing = m_storage.addRecoveredRecordings(std::move(toList));
        if (!co_await listing || !self)
            co_return false;
        report.entriesRecreated += count;
    }
    co_return self && !m_stopping;
}

QCoro::Task<bool> StoreHealer::reportUnnamedFiles(HealingReport &report)
{
    QPointer<StoreHealer> self(this);
    QCoro::Task<std::shared_ptr<ListKeys>> readingKeys = readListKeys();
    const std::shared_ptr<ListKeys> keys = co_await readingKeys;
    if (!self)
        co_return false;
    // Used only on the file queue, one batch of names per step.
    auto walk = std::make_shared<QDirIterator>(
        m_storage.screenshotsDirectory(), QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (self && !m_stopping) {
        struct Batch {
            QStringList unlisted;
            bool done = false;
        };
        QFuture<Batch> listing = m_files->future([walk, keys] {
            Batch batch;
            int seen = 0;
            while (seen < kBatchSize && walk->hasNext()) {
                const QString path = walk->next();
                ++seen;
                if (isImageFileName(walk->fileName()) && !keys->names(path))
                    batch.unlisted << path;
            }
            batch.done = !walk->hasNext();
            return batch;
        });
        const Batch batch = co_await listing;
        if (!self)
            co_return false;
        if (!batch.unlisted.isEmpty()) {
            auto [byPath, byPathDone] = completionFuture(std::optional<std::vector<Recording>> {});
            m_database.recordingsWithFilePaths(batch.unlisted, byPathDone);
            const std::optional<std::vector<Recording>> rows = co_await byPath;
            if (!rows || !self)
                co_return false;
            QSet<QString> recorded;
            for (const Recording &r : *rows)
                recorded.insert(r.localPath());
            for (const QString &path : batch.unlisted) {
                if (recorded.contains(path))
                    continue;
                ++report.unnamedFiles;
                noteExample(report.unnamedFileExamples, path);
            }
        }
        if (batch.done)
            break;
    }
    co_return self && !m_stopping;
}

void StoreHealer::stop()
{
    m_stopping = true;
    emit stopRequested();
}

void StoreHealer::setRecognitionRetryPauses(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    m_firstRetry = first;
    m_longestRetry = longest;
}

QCoro::Task<bool> StoreHealer::recognizeMissingText(HealingReport &report)
{
    QPointer<StoreHealer> self(this);
    std::chrono::milliseconds pause = m_firstRetry;
    while (true) {
        QCoro::Task<bool> walking = recognitionRound(report);
        if (!co_await walking || !self || m_stopping)
            co_return false;
        if (report.framesNotRecognized == 0)
            co_return true;
        // The frames stay owed (never "no text"); a recogniser that fails now (no model yet, an
        // engine error) is asked again later, less often the longer it keeps failing.
        log::failure(QStringLiteral("Store healing: the text of %1 frames could not be recognised; trying again in "
                                    "%2 s")
                         .arg(report.framesNotRecognized)
                         .arg(pause.count() / 1000.0));
        emit recognitionRetryScheduled(pause);
        if (m_stopping)
            co_return false;
        QCoro::Task<bool> stopped = nextEmission(this, &StoreHealer::stopRequested, pause);
        co_await stopped;
        if (!self || m_stopping)
            co_return false;
        pause = std::min(pause * 2, m_longestRetry);
    }
}

QCoro::Task<bool> StoreHealer::recognitionRound(HealingReport &report)
{
    QPointer<StoreHealer> self(this);
    OwedTextCounts counts;
    OwedTextWalk walk(m_database, m_ocr, *m_files);
    QCoro::Task<bool> walking = walk.walk(
        OwedTextWalk::Range { std::nullopt, m_startedAt }, counts, this, [this] { return m_stopping.load(); });
    const bool walked = co_await walking;
    if (!self)
        co_return false;
    report.framesRecognized += counts.recognized;
    report.framesWithoutText += counts.withoutText;
    report.framesUnreadable += counts.unreadable;
    report.framesNotRecognized = counts.notRecognized;
    co_return walked;
}

} // namespace pellux
