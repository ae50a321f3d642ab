#pragma once

#include "diagnostics/ProcessMetrics.h"
#include "runtime/Clock.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QRectF>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <QVariant>

#include <deque>
#include <optional>
#include <vector>

namespace pellux {

// The latest frame reported while debug mode is on.
struct DebugCapture {
    Q_GADGET
    Q_PROPERTY(QString id READ idText)
    Q_PROPERTY(QDateTime timestamp READ time)
    Q_PROPERTY(QImage image MEMBER image)
    Q_PROPERTY(int width MEMBER width)
    Q_PROPERTY(int height MEMBER height)

public:
    QUuid id;
    TimePoint timestamp;
    // Null when the reporter had no image.
    QImage image;
    int width = 0;
    int height = 0;

    QString idText() const;
    QDateTime time() const;
};

// One recognised text reported while debug mode is on.
struct DebugOCRResult {
    Q_GADGET
    Q_PROPERTY(QString id READ idText)
    Q_PROPERTY(QDateTime timestamp READ time)
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(double confidence MEMBER confidence)
    Q_PROPERTY(QVariant bounds READ boundsValue)

public:
    QUuid id;
    TimePoint timestamp;
    QString text;
    // 0 to 1.
    double confidence = 0;
    std::optional<QRectF> bounds;

    QString idText() const;
    QDateTime time() const;
    // The rectangle, or null when absent.
    QVariant boundsValue() const;
};

// Collects what the debug window shows: the latest frame, recent recognised texts, counters, the
// frame rate, processing times and the processor and memory figures (sampled every second, always).
// Producers' reports count only while debug mode is on, or while a test capture the user asked for
// runs. Main thread only.
class DebugManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDebugMode READ isDebugMode WRITE setDebugMode NOTIFY isDebugModeChanged)
    Q_PROPERTY(QVariant latestCapture READ latestCaptureValue NOTIFY latestCaptureChanged)
    Q_PROPERTY(QVariantList ocrResults READ ocrResultValues NOTIFY ocrResultsChanged)
    Q_PROPERTY(QVariant currentFPS READ currentFPSValue NOTIFY currentFPSChanged)
    Q_PROPERTY(double cpuUsage READ cpuUsage NOTIFY cpuUsageChanged)
    Q_PROPERTY(double memoryUsage READ memoryUsage NOTIFY memoryUsageChanged)
    Q_PROPERTY(int framesProcessed READ framesProcessed NOTIFY framesProcessedChanged)
    Q_PROPERTY(int ocrOperations READ ocrOperations NOTIFY ocrOperationsChanged)
    Q_PROPERTY(double avgProcessingTime READ avgProcessingTime NOTIFY avgProcessingTimeChanged)
    Q_PROPERTY(int errorCount READ errorCount NOTIFY errorCountChanged)

public:
    static constexpr int maxStoredResults = 100;

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static DebugManager &shared();

    explicit DebugManager(Clock &clock = Clock::system(), ProcessMetricsSource sources = {}, QObject *parent = nullptr);

    bool isDebugMode() const { return m_isDebugMode; }
    void setDebugMode(bool on);
    const std::optional<DebugCapture> &latestCapture() const { return m_latestCapture; }
    // Newest first, at most maxStoredResults.
    const std::deque<DebugOCRResult> &ocrResults() const { return m_ocrResults; }
    std::optional<double> currentFPS() const { return m_currentFPS; }
    // Percent of the machine's processor time in use.
    double cpuUsage() const { return m_cpuUsage; }
    // Resident memory of this process in bytes.
    double memoryUsage() const { return m_memoryUsage; }
    int framesProcessed() const { return m_framesProcessed; }
    int ocrOperations() const { return m_ocrOperations; }
    double avgProcessingTime() const { return m_avgProcessingTime; }
    int errorCount() const { return m_errorCount; }
    const QTimer &performanceTimer() const { return m_performanceTimer; }

    QVariant latestCaptureValue() const;
    QVariantList ocrResultValues() const;
    QVariant currentFPSValue() const;

    // A test capture's frames are shown, and counted, also outside debug mode.
    void setTestCaptureRunning(bool running) { m_testCaptureRunning = running; }

    void captureProcessed(const QImage &image, int width, int height);
    void ocrProcessed(const QString &text, double confidence, std::optional<QRectF> bounds = std::nullopt);
    // Recorded whether or not debug mode is on.
    void recordProcessingTime(double duration);
    // A frame could not be captured, stored or recognised.
    void errorOccurred();
    Q_INVOKABLE void clearDebugData();

    // One sample of the processor and memory figures; the timer calls it every second.
    void updatePerformanceMetrics();

signals:
    void isDebugModeChanged();
    void latestCaptureChanged();
    void ocrResultsChanged();
    void currentFPSChanged();
    void cpuUsageChanged();
    void memoryUsageChanged();
    void framesProcessedChanged();
    void ocrOperationsChanged();
    void avgProcessingTimeChanged();
    void errorCountChanged();

private:
    void updateFPS();
    void startPerformanceMonitoring();
    std::optional<double> getCPUInfo();

    Clock &m_clock;
    ProcessMetricsSource m_sources;
    bool m_isDebugMode = false;
    bool m_testCaptureRunning = false;
    std::optional<DebugCapture> m_latestCapture;
    std::deque<DebugOCRResult> m_ocrResults;
    std::optional<double> m_currentFPS;
    double m_cpuUsage = 0;
    double m_memoryUsage = 0;
    int m_framesProcessed = 0;
    int m_ocrOperations = 0;
    double m_avgProcessingTime = 0;
    int m_errorCount = 0;
    std::deque<TimePoint> m_frameTimestamps;
    std::deque<double> m_processingTimes;
    std::optional<CpuTimes> m_previousCpuTimes;
    QTimer m_performanceTimer;
};

} // namespace pellux
