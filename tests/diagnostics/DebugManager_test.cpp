#include "diagnostics/DebugManager.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;

TEST(DebugManager, ReportsCountOnlyInDebugMode)
{
    FakeClock clock;
    DebugManager debug(clock);
    QSignalSpy frames(&debug, &DebugManager::framesProcessedChanged);
    debug.captureProcessed(QImage(4, 3, QImage::Format_RGB32), 4, 3);
    debug.ocrProcessed(QStringLiteral("hello"), 1.0);
    EXPECT_FALSE(debug.latestCapture());
    EXPECT_TRUE(debug.ocrResults().empty());
    EXPECT_EQ(debug.framesProcessed(), 0);
    EXPECT_EQ(debug.ocrOperations(), 0);
    EXPECT_FALSE(debug.currentFPS());
    EXPECT_EQ(frames.count(), 0);
    // Processing times are recorded regardless.
    debug.recordProcessingTime(10);
    debug.recordProcessingTime(20);
    EXPECT_EQ(debug.avgProcessingTime(), 15);
    // Of the last hundred only.
    for (int i = 0; i < 100; ++i)
        debug.recordProcessingTime(2);
    EXPECT_EQ(debug.avgProcessingTime(), 2);

    debug.setDebugMode(true);
    debug.captureProcessed(QImage(4, 3, QImage::Format_RGB32), 4, 3);
    ASSERT_TRUE(debug.latestCapture());
    EXPECT_EQ(debug.latestCapture()->width, 4);
    EXPECT_EQ(debug.latestCapture()->timestamp, clock.now());
    EXPECT_EQ(debug.framesProcessed(), 1);
    EXPECT_EQ(frames.count(), 1);
    EXPECT_EQ(debug.latestCaptureValue().value<DebugCapture>().height, 3);
}

TEST(DebugManager, KeepsTheNewestHundredTexts)
{
    FakeClock clock;
    DebugManager debug(clock);
    debug.setDebugMode(true);
    for (int i = 1; i <= 101; ++i)
        debug.ocrProcessed(
            QStringLiteral("text %1").arg(i), 0.9, i == 101 ? std::optional(QRectF(1, 2, 3, 4)) : std::nullopt);
    ASSERT_EQ(debug.ocrResults().size(), 100u);
    EXPECT_EQ(debug.ocrResults().front().text, QStringLiteral("text 101"));
    EXPECT_EQ(debug.ocrResults().back().text, QStringLiteral("text 2"));
    EXPECT_EQ(debug.ocrOperations(), 101);
    const QVariantList values = debug.ocrResultValues();
    ASSERT_EQ(values.size(), 100);
    EXPECT_EQ(values.front().value<DebugOCRResult>().boundsValue().toRectF(), QRectF(1, 2, 3, 4));
    EXPECT_FALSE(values.back().value<DebugOCRResult>().boundsValue().isValid());
}

TEST(DebugManager, FramesPerSecondCountsTheLastSecond)
{
    FakeClock clock;
    DebugManager debug(clock);
    debug.setDebugMode(true);
    const QImage image;
    debug.captureProcessed(image, 10, 10);
    clock.advance(0.3);
    debug.captureProcessed(image, 10, 10);
    clock.advance(0.3);
    debug.captureProcessed(image, 10, 10);
    EXPECT_EQ(debug.currentFPS(), 3.0);
    clock.advance(2.0);
    debug.captureProcessed(image, 10, 10);
    EXPECT_EQ(debug.currentFPS(), 1.0);
    // Exactly one second old still counts.
    clock.advance(1.0);
    debug.captureProcessed(image, 10, 10);
    EXPECT_EQ(debug.currentFPS(), 2.0);
    EXPECT_EQ(debug.currentFPSValue().toDouble(), 2.0);
}

TEST(DebugManager, ClearResetsTheCollectionButNotTheMode)
{
    FakeClock clock;
    DebugManager debug(clock);
    debug.setDebugMode(true);
    debug.captureProcessed(QImage(), 1, 1);
    debug.ocrProcessed(QStringLiteral("x"), 0.5);
    debug.recordProcessingTime(5);
    debug.updatePerformanceMetrics();
    const double memory = debug.memoryUsage();
    debug.clearDebugData();
    EXPECT_TRUE(debug.isDebugMode());
    EXPECT_FALSE(debug.latestCapture());
    EXPECT_TRUE(debug.ocrResults().empty());
    EXPECT_EQ(debug.framesProcessed(), 0);
    EXPECT_EQ(debug.ocrOperations(), 0);
    EXPECT_EQ(debug.errorCount(), 0);
    EXPECT_EQ(debug.avgProcessingTime(), 0);
    EXPECT_EQ(debug.currentFPS(), 1.0); // left as it was
    EXPECT_EQ(debug.memoryUsage(), memory);
    // The frame window starts afresh.
    debug.captureProcessed(QImage(), 1, 1);
    EXPECT_EQ(debug.currentFPS(), 1.0);
}

TEST(DebugManager, SamplesProcessorAndMemoryFromProc)
{
    DebugManager debug;
    EXPECT_EQ(debug.performanceTimer().interval(), 1000);
    EXPECT_TRUE(debug.performanceTimer().isActive());
    debug.updatePerformanceMetrics();
    EXPECT_GT(debug.memoryUsage(), 1024.0 * 1024.0); // a Qt process has more than 1 MB resident
    EXPECT_GE(debug.cpuUsage(), 0.0);
    EXPECT_LE(debug.cpuUsage(), 100.0);

    const std::optional<QByteArray> stat = readSmallFile(QStringLiteral("/proc/stat"));
    ASSERT_TRUE(stat);
    EXPECT_TRUE(parseCpuTimes(*stat));
}

TEST(DebugManager, ProcessorUsageIsTheBusyShareBetweenSamples)
{
    QTemporaryDir dir;
    const QString stat = dir.filePath(QStringLiteral("stat"));
    const QString statm = dir.filePath(QStringLiteral("statm"));
    DebugManager debug(Clock::system(), ProcessMetricsSource { stat, statm });

    // user nice system idle iowait irq softirq steal
    ASSERT_TRUE(writeAll(stat, "cpu  100 0 50 800 50 0 0 0 0 0\ncpu0 100 0 50 800 50 0 0 0 0 0\n"));
    ASSERT_TRUE(writeAll(statm, "5000 1200 300 10 0 900 0\n"));
    debug.updatePerformanceMetrics();
    EXPECT_DOUBLE_EQ(debug.cpuUsage(), 15.0); // since boot: 150 of 1000
    EXPECT_EQ(debug.memoryUsage(), 1200.0 * static_cast<double>(::sysconf(_SC_PAGESIZE)));

    ASSERT_TRUE(writeAll(stat, "cpu  130 0 60 850 60 0 0 0 0 0\n"));
    debug.updatePerformanceMetrics();
    EXPECT_DOUBLE_EQ(debug.cpuUsage(), 40.0); // 40 of 100 since the last sample

    // No time passed, unreadable or missing figures: the last values stay.
    debug.updatePerformanceMetrics();
    EXPECT_DOUBLE_EQ(debug.cpuUsage(), 40.0);
    ASSERT_TRUE(writeAll(stat, "intr 1 2 3\n"));
    ASSERT_TRUE(writeAll(statm, "garbage\n"));
    debug.updatePerformanceMetrics();
    EXPECT_DOUBLE_EQ(debug.cpuUsage(), 40.0);
    EXPECT_EQ(debug.memoryUsage(), 1200.0 * static_cast<double>(::sysconf(_SC_PAGESIZE)));
    QFile::remove(stat);
    QFile::remove(statm);
    debug.updatePerformanceMetrics();
    EXPECT_DOUBLE_EQ(debug.cpuUsage(), 40.0);
}
