#include "diagnostics/DebugManager.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"

using namespace pellux;
using namespace pellux::test;

class DebugManagerTest : public ::testing::Test {
protected:
    void capture(int width = 4, int height = 3) { debug.captureProcessed(QImage(), width, height); }

    FakeClock clock;
    DebugManager debug { clock };
};

TEST_F(DebugManagerTest, CollectsOnlyInDebugModeKeepsTheNewestHundredTextsAndCountsTheFramesOfTheLastSecond)
{
    QSignalSpy frames(&debug, &DebugManager::framesProcessedChanged);
    capture();
    debug.ocrProcessed("hello", 1.0);
    EXPECT_TRUE(!debug.latestCapture() && debug.ocrResults().empty() && !debug.currentFPS());
    EXPECT_EQ(debug.framesProcessed() + debug.ocrOperations() + frames.count(), 0);
    // Processing times are recorded regardless, of the last hundred only.
    for (const auto &[times, value, average] : { std::tuple(1, 10, 10), { 1, 20, 15 }, { 100, 2, 2 } }) {
        for (int i = 0; i < times; ++i)
            debug.recordProcessingTime(value);
        EXPECT_EQ(debug.avgProcessingTime(), average);
    }

    debug.setDebugMode(true);
    capture();
    ASSERT_TRUE(debug.latestCapture());
    EXPECT_EQ(std::tuple(debug.latestCapture()->timestamp, debug.latestCaptureValue().value<DebugCapture>().height,
                  debug.framesProcessed(), frames.count()),
        std::tuple(clock.now(), 3, 1, qsizetype(1)));

    debug.ocrProcessed("x", 0.5);
    debug.updatePerformanceMetrics();
    const double memory = debug.memoryUsage();
    debug.clearDebugData();
    EXPECT_TRUE(debug.isDebugMode() && !debug.latestCapture() && debug.ocrResults().empty());
    EXPECT_EQ(debug.framesProcessed() + debug.ocrOperations() + debug.errorCount(), 0);
    EXPECT_EQ(std::tuple(debug.avgProcessingTime(), debug.currentFPS().value_or(-1), debug.memoryUsage()),
        std::tuple(0.0, 1.0, memory)); // the rate and memory left as they were
    // The frame window starts afresh.
    clock.advance(0.5);
    capture();
    EXPECT_EQ(debug.currentFPS(), 1.0);

    for (int i = 1; i <= 101; ++i)
        debug.ocrProcessed(QString::number(i), 0.9, i == 101 ? std::optional(QRectF(1, 2, 3, 4)) : std::nullopt);
    ASSERT_EQ(debug.ocrResults().size(), 100u);
    EXPECT_EQ(std::tuple(debug.ocrResults().front().text, debug.ocrResults().back().text, debug.ocrOperations()),
        std::tuple(QString("101"), QString("2"), 101));
    const QVariantList values = debug.ocrResultValues();
    ASSERT_EQ(values.size(), 100);
    EXPECT_EQ(values.front().value<DebugOCRResult>().boundsValue().toRectF(), QRectF(1, 2, 3, 4));
    EXPECT_FALSE(values.back().value<DebugOCRResult>().boundsValue().isValid());

    // Seconds since the previous frame, and the rate after it; exactly one second old still counts.
    const std::pair<double, double> steps[] = { { 5.0, 1.0 }, { 0.3, 2.0 }, { 0.3, 3.0 }, { 2.0, 1.0 }, { 1.0, 2.0 } };
    for (const auto &[step, fps] : steps) {
        clock.advance(step);
        capture();
        EXPECT_EQ(debug.currentFPS(), fps) << step;
    }
    EXPECT_EQ(debug.currentFPSValue().toDouble(), 2.0);
}

TEST(DebugManager, SamplesProcessorAndMemoryFromProcAndTheUsageIsTheBusyShareBetweenSamples)
{
    DebugManager debug;
    debug.updatePerformanceMetrics();
    // A Qt process has more than 1 MB resident.
    EXPECT_TRUE(debug.performanceTimer().isActive() && debug.memoryUsage() > 1024.0 * 1024.0);
    EXPECT_TRUE(debug.cpuUsage() >= 0.0 && debug.cpuUsage() <= 100.0);
    EXPECT_TRUE(parseCpuTimes(readSmallFile("/proc/stat").value_or("")));

    QTemporaryDir dir;
    const QString stat = dir.filePath("stat"), statm = dir.filePath("statm");
    DebugManager sampled(Clock::system(), ProcessMetricsSource { stat, statm });
    const double resident = 1200.0 * static_cast<double>(::sysconf(_SC_PAGESIZE));
    // The /proc/stat text (user nice system idle iowait irq softirq steal), or none, and the usage
    // after a sample: since boot at first, then since the last sample; figures that cannot be read
    // or no time passing leave the last value.
    const struct {
        const char *stat;
        double cpu;
    } samples[] = {
        { "cpu  100 0 50 800 50 0 0 0 0 0\ncpu0 100 0 50 800 50 0 0 0 0 0\n", 15.0 },
        { "cpu  130 0 60 850 60 0 0 0 0 0\n", 40.0 },
        { "cpu  130 0 60 850 60 0 0 0 0 0\n", 40.0 },
        { "intr 1 2 3\n", 40.0 },
        { nullptr, 40.0 },
    };
    ASSERT_TRUE(writeAll(statm, "5000 1200 300 10 0 900 0\n"));
    for (const auto &s : samples) {
        EXPECT_TRUE(s.stat ? writeAll(stat, s.stat) : QFile::remove(stat) && QFile::remove(statm));
        sampled.updatePerformanceMetrics();
        EXPECT_DOUBLE_EQ(sampled.cpuUsage(), s.cpu) << (s.stat ? s.stat : "missing");
        EXPECT_EQ(sampled.memoryUsage(), resident);
    }
    ASSERT_TRUE(writeAll(statm, "garbage\n"));
    sampled.updatePerformanceMetrics();
    EXPECT_EQ(sampled.memoryUsage(), resident);
}
