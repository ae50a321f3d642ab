#pragma once

#include "runtime/Clock.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

namespace pellux {

class RecompressionWorker;
class SerialQueue;

// What the latest pass looked at; a pass with nothing new to do lists no folder and reads no file.
struct RecompressionPassStatistics {
    int hourFolders = 0; // hour folders looked at
    int foldersListed = 0; // hour folders whose files were listed
    int filesRead = 0; // files whose bytes were read
    int filesFailed = 0; // files that could not be read, decoded, encoded or replaced, and were kept
};

// Re-encodes screenshots older than seven days at lower qualities as they age (0.6 from 7 days,
// 0.4 from 30, 0.3 from 90, 0.2 from 180), once at start and then hourly. Lives on the main
// thread and publishes the latest pass's progress; every file is read, decoded, encoded and
// written on its own worker queue.
class ScreenshotOptimizationService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isOptimizing READ isOptimizing NOTIFY isOptimizingChanged)
    Q_PROPERTY(double optimizationProgress READ optimizationProgress NOTIFY optimizationProgressChanged)
    Q_PROPERTY(int optimizedCount READ optimizedCount NOTIFY optimizedCountChanged)
    Q_PROPERTY(qint64 savedBytes READ savedBytes NOTIFY savedBytesChanged)

public:
    static constexpr std::chrono::seconds kOptimizationInterval { 3600 };

    // Tells the database a screenshot's new size: the file name, the byte count, and a completion
    // to call once (from any thread) with whether a row changed. Called on the service's worker
    // queue, which waits for the completion before it goes on.
    using FileSizeUpdater
        = std::function<void(const QString &fileName, qint64 newSize, std::function<void(bool)> completion)>;

    enum class Schedule {
        start, // a pass at once, then one every kOptimizationInterval
        manual, // passes only through optimizeOldScreenshots()
    };

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static ScreenshotOptimizationService &shared();
    // Documents/Pellux/Screenshots of the current user.
    static QString defaultScreenshotsFolder();

    ScreenshotOptimizationService(QString screenshotsFolder, FileSizeUpdater updateFileSize, const Clock &clock,
        Schedule schedule, QObject *parent = nullptr);
    ~ScreenshotOptimizationService() override;

    ScreenshotOptimizationService(const ScreenshotOptimizationService &) = delete;
    ScreenshotOptimizationService &operator=(const ScreenshotOptimizationService &) = delete;

    bool isOptimizing() const { return m_isOptimizing; }
    // Fraction of the latest pass's candidates processed, 0...1; stays after the pass.
    double optimizationProgress() const { return m_optimizationProgress; }
    // Files re-encoded and bytes saved by the latest pass.
    int optimizedCount() const { return m_optimizedCount; }
    qint64 savedBytes() const { return m_savedBytes; }
    RecompressionPassStatistics lastPassStatistics() const { return m_statistics; }

    // Starts the hourly timer and a first pass (done by the constructor with Schedule::start).
    void startOptimizationSchedule();
    // One complete pass; returns at once when a pass is already running.
    QCoro::Task<> optimizeOldScreenshots();
    // For shutdown: ends the schedule, and a pass in progress after the file it is working on,
    // which this waits for. No pass starts afterwards.
    void stop();

signals:
    void isOptimizingChanged();
    void optimizationProgressChanged();
    void optimizedCountChanged();
    void savedBytesChanged();
    // At the end of every complete pass.
    void passFinished();

private:
    void setIsOptimizing(bool value);
    void setOptimizationProgress(double value);
    void setOptimizedCount(int value);
    void setSavedBytes(qint64 value);

    QString m_screenshotsFolder;
    FileSizeUpdater m_updateFileSize;
    const Clock &m_clock;
    QTimer m_optimizationTimer;
    bool m_isOptimizing = false;
    bool m_stopped = false;
    double m_optimizationProgress = 0.0;
    int m_optimizedCount = 0;
    qint64 m_savedBytes = 0;
    RecompressionPassStatistics m_statistics;
    // Used only on the queue; the queue is declared after it, so it stops first.
    std::unique_ptr<RecompressionWorker> m_worker;
    std::unique_ptr<SerialQueue> m_queue;
};

} // namespace pellux
