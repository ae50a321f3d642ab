#pragma once

#include "persistence/Recording.h"
#include "runtime/Clock.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <qcorotask.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

namespace pellux {

class OCRProcessor;
class SerialQueue;
class SimpleDatabaseManager;
class StorageManager;
class StoreSession;

// What one healing pass found and did.
struct HealingReport {
    int rowsWritten = 0; // rows written back from list entries and their files
    int entriesRecreated = 0; // list entries recreated from rows
    int identitiesRestored = 0; // entries rebuilt from image files that took their row's identity
    int rowsWithoutFile = 0;
    QStringList rowsWithoutFileExamples;
    int unnamedFiles = 0; // image files neither the list nor a row names
    QStringList unnamedFileExamples;
    int framesRecognized = 0; // frames that got their text
    int framesWithoutText = 0; // frames recognised and showing no text
    int framesUnreadable = 0; // frames whose file could not be read or rebuilt
    int framesNotRecognized = 0; // frames the recogniser failed on in the last round: still owed
    bool completed = false; // false when stopped early or the database could not answer
};

// Brings the recordings list, the database rows and the screenshot files back into agreement after
// a crash, then recognises the text of stored frames whose recognition never finished. Runs on the
// main thread as one coroutine; file work runs on its own queue ("com.pellux.healing"), database
// work on the database queue and recognition on the recogniser's queue, all in bounded batches, so
// that neither the GUI nor memory feels a store of 200,000 recordings.
class StoreHealer : public QObject {
    Q_OBJECT
public:
    enum class TextRecognition { enabled, disabled };

    StoreHealer(StorageManager &storage, SimpleDatabaseManager &database, OCRProcessor &ocr,
        Clock &clock = Clock::system(), QObject *parent = nullptr);
    ~StoreHealer() override;

    enum class Healing {
        whenNeeded, // when the last capture did not end in order, or the list or database was rebuilt
        deferred, // never in this process (a single capture): any healing owed stays owed
    };

    // One healing pass. Frames captured from the moment it starts are left to the capture itself.
    QCoro::Task<HealingReport> heal(TextRecognition textRecognition = TextRecognition::enabled);
    // True once a pass finished completely.
    bool healedCompletely() const { return m_healedCompletely; }
    // Ends the pass at its next batch (or its pause before retrying recognition); what it stored
    // so far stays.
    void stop();
    // The pause before frames the recogniser failed on are tried again, doubling from `first` to
    // at most `longest` while failures go on.
    void setRecognitionRetryPauses(std::chrono::milliseconds first, std::chrono::milliseconds longest);

    // Rows, entries and files handled per database or file step.
    static constexpr int kBatchSize = 500;
    // Entries recreated from rows are listed this many at a time (each listing rewrites the list).
    static constexpr int kListingBatchSize = 20'000;
    // Paths named in a report line.
    static constexpr int kExamplesInReport = 5;
    static constexpr std::chrono::milliseconds kFirstRecognitionRetry { std::chrono::minutes(1) };
    static constexpr std::chrono::milliseconds kLongestRecognitionRetry { std::chrono::hours(1) };

signals:
    void finished(const HealingReport &report);
    // Frames the recogniser failed on are tried again after this pause.
    void recognitionRetryScheduled(std::chrono::milliseconds pause);
    void stopRequested();

private:
    struct ListKeys;

    QCoro::Task<bool> writeRowsForListedEntries(HealingReport &report);
    QCoro::Task<bool> listEntriesForRows(HealingReport &report);
    QCoro::Task<bool> reportUnnamedFiles(HealingReport &report);
    QCoro::Task<bool> recognizeMissingText(HealingReport &report);
    // One walk over the frames owed their text; false when the database could not answer.
    QCoro::Task<bool> recognitionRound(HealingReport &report);
    // The ids of the list's entries in file order, and its keys.
    QCoro::Task<std::shared_ptr<ListKeys>> readListKeys();
    // The list's entries with these ids.
    QCoro::Task<std::vector<Recording>> listedEntries(QSet<QUuid> ids);

    StorageManager &m_storage;
    SimpleDatabaseManager &m_database;
    OCRProcessor &m_ocr;
    Clock &m_clock;
    TimePoint m_startedAt;
    std::atomic<bool> m_stopping { false };
    bool m_healedCompletely = false;
    std::chrono::milliseconds m_firstRetry = kFirstRecognitionRetry;
    std::chrono::milliseconds m_longestRetry = kLongestRecognitionRetry;
    std::unique_ptr<SerialQueue> m_files;
};

// One capturing process's use of the store: marks it in use, heals it in the background when the
// last process did not leave it in order, and marks it left in order at the end when this process
// does. Owned by the composition root, built once the store, the database and the recogniser are.
class HealingSession {
public:
    HealingSession(
        StorageManager &storage, SimpleDatabaseManager &database, OCRProcessor &ocr, Clock &clock = Clock::system());
    ~HealingSession();
    HealingSession(const HealingSession &) = delete;
    HealingSession &operator=(const HealingSession &) = delete;

    // Marks the store as in use and, when it needs it, starts healing it; the first call only,
    // later ones do nothing. A store whose last capture ended in order is not read at all, so
    // starting costs the same with any history.
    void begin(StoreHealer::TextRecognition textRecognition = StoreHealer::TextRecognition::enabled,
        StoreHealer::Healing healing = StoreHealer::Healing::whenNeeded);
    // Ends a pass under way at its next batch.
    void stop();
    // Marks the store as left in order when this process leaves it so (every frame stored with its
    // text) and nothing healing owes is left undone. Nothing before begin().
    void end(int framesWithoutText);
    // The healer begin() started, if any.
    StoreHealer *healer() const { return m_healer.get(); }

private:
    StorageManager &m_storage;
    SimpleDatabaseManager &m_database;
    OCRProcessor &m_ocr;
    Clock &m_clock;
    std::unique_ptr<StoreSession> m_session;
    std::unique_ptr<StoreHealer> m_healer;
    bool m_healingNeeded = true;
    StoreHealer::TextRecognition m_textRecognition = StoreHealer::TextRecognition::enabled;
};

} // namespace pellux
