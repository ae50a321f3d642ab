// Deleting one screenshot the user chose, keeping the frames that build on it readable.
#include "imaging/ImageOptimizer.h"
#include "imaging/StoredScreenshotReader.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SerialQueue.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"

#include <QBuffer>
#include <QPointer>

#include <qcorofuture.h>

#include <future>
#include <memory>

namespace pellux {

namespace {

struct StoredInFull {
    QString filePath;
    std::optional<QString> takesHash;
    qint64 fileSize = 0;
    double compressionRatio = 1;
};

// Lossless, so that the deltas applied to it later give the pixels they gave before.
std::optional<QByteArray> encodeLossless(const QImage &frame)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !frame.save(&buffer, "PNG"))
        return std::nullopt;
    return bytes;
}

} // namespace

using Dependents = std::optional<std::vector<RecordingIndex::DependentFrame>>;

QCoro::Task<bool> StorageManager::deleteScreenshot(Recording recording)
{
    QPointer<StorageManager> self(this);
    Removal removal { .recordings = { std::move(recording) } };
    QCoro::Task<bool> detaching = storeDependentsInFull(removal, &removal.newHashes);
    const bool detached = co_await detaching;
    if (!self)
        co_return false;
    if (!detached) {
        log::failure(QStringLiteral("ERROR StorageManager: %1 is kept: a frame built on it could not be stored in full")
                         .arg(removal.recordings.front().localPath()));
        co_return false;
    }
    QCoro::Task<DeletionReport> removing = removeFromStore(std::move(removal), StorageFigure::recompute);
    co_return (co_await removing).ok;
}

// Each frame that builds on the deleted one is rebuilt while its chain is whole, written over its
// own file (a full image now, which the reader takes as the start of any chain through it), and
// only then marked full in its row: a crash at any point leaves every frame readable.
QCoro::Task<bool> StorageManager::storeDependentsInFull(
    const Removal &removal, QHash<QString, QString> *newHashes, QString *why)
{
    QPointer<StorageManager> self(this);
    auto [answered, completion] = completionFuture(Dependents());
    if (removal.capturedBefore || removal.application)
        m_index.framesBuiltOnRemoval(removal.capturedBefore, removal.application, completion);
    else
        m_index.framesBuiltOn(removal.recordings.front().localPath(), completion);
    Dependents dependents = co_await answered;
    if (!self)
        co_return false;
    if (!dependents) {
        if (why)
            *why = QStringLiteral("The database could not list the screenshots.");
        co_return false;
    }
    if (dependents->empty())
        co_return true;
    if (why)
        *why = QStringLiteral("A screenshot that is kept builds on one to delete and could not be stored on its own.");

    RecordingIndex *index = &m_index;
    QFuture<std::optional<std::vector<StoredInFull>>> storing = m_files->future([index,
                                                                                    frames = std::move(*dependents)] {
        StoredScreenshotReader reader(
            [index](const QString &path) {
                auto promise = std::make_shared<std::promise<std::optional<std::vector<DeltaChainLink>>>>();
                std::future<std::optional<std::vector<DeltaChainLink>>> chain = promise->get_future();
                index->deltaChain(path, [promise](std::optional<std::vector<DeltaChainLink>> links) {
                    promise->set_value(std::move(links));
                });
                return chain.get();
            },
            256LL * 1024 * 1024);
        // Every frame is rebuilt before any file changes, while every chain is as it was.
        std::vector<std::pair<StoredInFull, QByteArray>> encoded;
        for (const RecordingIndex::DependentFrame &frame : frames) {
            QString why;
            const QImage image = reader.read(frame.filePath, QSize(), &why);
            const std::optional<QByteArray> bytes = image.isNull() ? std::nullopt : encodeLossless(image);
            if (!bytes) {
                log::failure(QStringLiteral("ERROR StorageManager: cannot store %1 in full: %2")
                                 .arg(frame.filePath, image.isNull() ? why : QStringLiteral("encoding failed")));
                return std::optional<std::vector<StoredInFull>>();
            }
            const double ratio = double(tiffRepresentationSize(image)) / double(std::max<qsizetype>(1, bytes->size()));
            encoded.emplace_back(StoredInFull { frame.filePath, frame.takesHash, bytes->size(), ratio }, *bytes);
        }
        std::vector<StoredInFull> written;
        for (auto &[frame, bytes] : encoded) {
            QString error;
            if (replaceExistingPrivateFile(frame.filePath, bytes, &error) != ReplaceOutcome::replaced) {
                log::failure(
                    QStringLiteral("ERROR StorageManager: cannot store %1 in full: %2").arg(frame.filePath, error));
                return std::optional<std::vector<StoredInFull>>();
            }
            written.push_back(frame);
        }
        return std::optional(std::move(written));
    });
    const std::optional<std::vector<StoredInFull>> written = co_await storing;
    if (!self || !written)
        co_return false;
    bool marked = true;
    for (const StoredInFull &frame : *written) {
        auto [done, markCompletion] = completionFuture(false);
        m_index.markStoredInFull(
            frame.filePath, frame.takesHash, frame.fileSize, frame.compressionRatio, markCompletion);
        const bool ok = co_await done;
        if (!self)
            co_return false;
        if (!ok)
            log::failure(
                QStringLiteral("ERROR StorageManager: the row of %1 still names it a delta").arg(frame.filePath));
        marked = marked && ok;
        if (ok && frame.takesHash)
            newHashes->insert(frame.filePath, *frame.takesHash);
    }
    co_return marked;
}

} // namespace pellux
