#include "storage/OwedText.h"

#include "imaging/StoredScreenshotReader.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/CompletionFuture.h"
#include "runtime/SerialQueue.h"

#include <qcorofuture.h>

namespace pellux {

namespace {

// Rebuilt frames kept while recognising: the deltas of one window follow each other.
constexpr qint64 kReaderCacheBytes = 48LL * 1024 * 1024;
// Frames fetched per database step; one is recognised at a time.
constexpr int kBatchSize = 8;

} // namespace

OwedTextWalk::OwedTextWalk(SimpleDatabaseManager &database, OCRProcessor &ocr, SerialQueue &files)
    : m_database(database)
    , m_ocr(ocr)
    , m_files(files)
{
}

QCoro::Task<bool> OwedTextWalk::walk(Range range, OwedTextCounts &counts, QObject *ownerObject,
    std::function<bool()> stopped, std::function<bool(const QUuid &)> skip)
{
    const QPointer<QObject> owner(ownerObject);
    using Outcome = SimpleDatabaseManager::RecognitionOutcome;
    // Blocks on the database for delta chains: used only on the file queue.
    auto reader = std::make_shared<StoredScreenshotReader>(
        StoredScreenshotReader::databaseLookup(m_database), kReaderCacheBytes);
    qint64 afterRowid = 0;
    while (!stopped()) {
        auto [batchRead, readDone] = completionFuture(std::optional<SimpleDatabaseManager::RecordingRows> {});
        m_database.recordingsAwaitingText(range.from, range.before, afterRowid, kBatchSize, readDone);
        const std::optional<SimpleDatabaseManager::RecordingRows> rows = co_await batchRead;
        if (!owner || !rows)
            co_return false;
        if (rows->lastRowid <= afterRowid)
            co_return true;
        afterRowid = rows->lastRowid;
        for (const Recording &r : rows->recordings) {
            if (stopped())
                co_return false;
            if (skip && skip(r.id))
                continue;
            QFuture<QImage> loading
                = m_files.future([reader, path = r.localPath()] { return reader->read(path, QSize()); });
            const QImage image = co_await loading;
            if (!owner)
                co_return false;
            Outcome outcome = Outcome::unreadable;
            RecordingText text;
            if (!image.isNull()) {
                auto [recognized, recognizedDone] = completionFuture(
                    Recognition(RecognitionFailure { RecognitionFailure::Kind::image, QStringLiteral("no answer") }));
                m_ocr.processImage(image, r.id, recognizedDone);
                const Recognition fragments = co_await recognized;
                if (!owner)
                    co_return false;
                if (!fragments) {
                    ++counts.notRecognized;
                    if (fragments.failure().kind == RecognitionFailure::Kind::unavailable)
                        co_return true;
                    continue;
                }
                // Read from the stored image: the boxes are in its pixels already.
                text = recognizedText(fragments.value());
                outcome = text.text.isEmpty() ? Outcome::noText : Outcome::text;
            }
            auto [saved, savedDone] = completionFuture(SimpleDatabaseManager::LateRecognitionSave::failed);
            m_database.saveLateRecognition(r.id, outcome, text, r.timestamp, savedDone);
            const SimpleDatabaseManager::LateRecognitionSave save = co_await saved;
            if (!owner || save == SimpleDatabaseManager::LateRecognitionSave::failed)
                co_return false;
            // Deleted meanwhile, or recognised by the capture itself: nothing of this frame to count.
            if (save == SimpleDatabaseManager::LateRecognitionSave::superseded)
                continue;
            ++(outcome == Outcome::text ? counts.recognized
                                        : (outcome == Outcome::noText ? counts.withoutText : counts.unreadable));
        }
    }
    co_return false;
}

} // namespace pellux
