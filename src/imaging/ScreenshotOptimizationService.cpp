#include "imaging/ScreenshotOptimizationService.h"

#include "imaging/RecompressionWorker.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "runtime/SerialQueue.h"
#include "runtime/SharedInstance.h"
#include "runtime/StoreLayout.h"
#include "runtime/ThreadSanitizer.h"

#include <QFuture>
#include <QPointer>

#include <qcorofuture.h>

#include <atomic>

namespace pellux {

namespace {

// The log line of one file and, after a rewrite, the database's new size, waited for. Runs on the
// worker queue, so that a file finished during shutdown is fully accounted for.
void reportOutcome(const FileOutcome &outcome, const ScreenshotOptimizationService::FileSizeUpdater &updateFileSize)
{
    if (outcome.kind == FileOutcome::Kind::failed) {
        if (!outcome.alreadyReported)
            log::failure(
                QStringLiteral("Failed to optimize %1 (kept as it is): %2").arg(outcome.fileName, outcome.error));
        return;
    }
    if (outcome.kind != FileOutcome::Kind::optimized)
        return;
    log::info(QStringLiteral("Optimized %1: %2KB → %3KB (saved %4KB)")
                  .arg(outcome.fileName)
                  .arg(outcome.sourceBytes / 1024)
                  .arg(outcome.newBytes / 1024)
                  .arg((outcome.sourceBytes - outcome.newBytes) / 1024));
    if (!updateFileSize)
        return;
    auto [updated, completion] = completionFuture(false);
    updateFileSize(outcome.fileName, outcome.newBytes, std::move(completion));
    updated.waitForFinished();
}

} // namespace

ScreenshotOptimizationService &ScreenshotOptimizationService::shared()
{
    return SharedInstance<ScreenshotOptimizationService>::get("ScreenshotOptimizationService");
}

QString ScreenshotOptimizationService::defaultScreenshotsFolder()
{
    return StoreLayout::standard().screenshotsFolder();
}

ScreenshotOptimizationService::ScreenshotOptimizationService(
    QString screenshotsFolder, FileSizeUpdater updateFileSize, const Clock &clock, Schedule schedule, QObject *parent)
    : QObject(parent)
    , m_screenshotsFolder(std::move(screenshotsFolder))
    , m_updateFileSize(std::move(updateFileSize))
    , m_clock(clock)
    , m_worker(std::make_unique<RecompressionWorker>(m_screenshotsFolder))
    , m_queue(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.recompression"), ThreadPriority::idle))
{
    m_optimizationTimer.setInterval(kOptimizationInterval);
    connect(&m_optimizationTimer, &QTimer::timeout, this, [this] { optimizeOldScreenshots(); });
    if (schedule == Schedule::start)
        startOptimizationSchedule();
}

ScreenshotOptimizationService::~ScreenshotOptimizationService()
{
    // The file in progress is finished (or left whole); a pass still waiting on it ends there.
    m_queue.reset();
}

void ScreenshotOptimizationService::startOptimizationSchedule()
{
    m_optimizationTimer.start();
    optimizeOldScreenshots();
}

void ScreenshotOptimizationService::stop()
{
    m_stopped = true;
    m_optimizationTimer.stop();
    m_queue->drain();
}

QCoro::Task<> ScreenshotOptimizationService::optimizeOldScreenshots()
{
    if (m_isOptimizing || m_stopped)
        co_return;
    QPointer<ScreenshotOptimizationService> self(this);
    setIsOptimizing(true);
    setOptimizationProgress(0.0);
    setOptimizedCount(0);
    setSavedBytes(0);
    log::info(QStringLiteral("Starting progressive screenshot optimization..."));

    RecompressionWorker *worker = m_worker.get();
    const TimePoint now = m_clock.now();
    QFuture<RecompressionScan> scanning = m_queue->future([worker, now] { return worker->scan(now); });
    RecompressionScan scan = co_await scanning;
    if (!self || m_stopped)
        co_return;
    m_statistics = { scan.hourFolders, scan.foldersListed, scan.filesRead, 0 };
    if (!scan.markersSupported) {
        log::failure(QStringLiteral("Screenshots are not re-compressed: %1 keeps no extended attributes, so "
                                    "re-encoded files could not be told apart")
                         .arg(m_screenshotsFolder));
    }

    size_t total = 0;
    for (const FolderVisit &folder : scan.folders)
        total += folder.candidates.size();
    size_t processed = 0;
    for (const FolderVisit &folder : scan.folders) {
        bool everyFileHandled = true;
        for (const RecompressionCandidate &candidate : folder.candidates) {
            QFuture<FileOutcome> optimizing = m_queue->future([worker, candidate, updater = m_updateFileSize] {
                FileOutcome outcome = worker->optimizeScreenshot(candidate);
                reportOutcome(outcome, updater);
                return outcome;
            });
            const FileOutcome outcome = co_await optimizing;
            if (!self || m_stopped)
                co_return;
            if (outcome.read)
                ++m_statistics.filesRead;
            if (outcome.kind == FileOutcome::Kind::optimized) {
                setOptimizedCount(m_optimizedCount + 1);
                setSavedBytes(m_savedBytes + (outcome.sourceBytes - outcome.newBytes));
            } else if (outcome.kind == FileOutcome::Kind::failed) {
                // The folder is not recorded as done: the next pass, an hour on, tries the file again.
                everyFileHandled = false;
                ++m_statistics.filesFailed;
            }
            ++processed;
            setOptimizationProgress(double(processed) / double(total));
        }
        QFuture<void> finishing
            = m_queue->future([worker, folder, everyFileHandled] { worker->finishFolder(folder, everyFileHandled); });
        co_await finishing;
        tsan::acquire(tsan::futureToken(finishing));
        if (!self)
            co_return;
    }

    setIsOptimizing(false);
    log::info(QStringLiteral("Optimization complete. Optimized %1 screenshots, saved %2 MB")
                  .arg(m_optimizedCount)
                  .arg(m_savedBytes / 1048576));
    emit passFinished();
}

void ScreenshotOptimizationService::setIsOptimizing(bool value)
{
    if (m_isOptimizing == value)
        return;
    m_isOptimizing = value;
    emit isOptimizingChanged();
}

void ScreenshotOptimizationService::setOptimizationProgress(double value)
{
    if (m_optimizationProgress == value)
        return;
    m_optimizationProgress = value;
    emit optimizationProgressChanged();
}

void ScreenshotOptimizationService::setOptimizedCount(int value)
{
    if (m_optimizedCount == value)
        return;
    m_optimizedCount = value;
    emit optimizedCountChanged();
}

void ScreenshotOptimizationService::setSavedBytes(qint64 value)
{
    if (m_savedBytes == value)
        return;
    m_savedBytes = value;
    emit savedBytesChanged();
}

} // namespace pellux
