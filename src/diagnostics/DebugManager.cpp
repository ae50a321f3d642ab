#include "diagnostics/DebugManager.h"

#include "persistence/Recording.h"
#include "runtime/MainThread.h"
#include "runtime/SharedInstance.h"

#include <QVariant>

#include <cmath>
#include <numeric>
#include <unistd.h>

namespace pellux {

namespace {

constexpr int kPerformanceIntervalMs = 1000;
constexpr double kFPSWindowSeconds = 1.0;
constexpr size_t kMaxProcessingTimes = 100;

QDateTime dateTime(TimePoint t)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(secondsSince1970(t) * 1000.0)));
}

} // namespace

QString DebugCapture::idText() const { return uuidText(id); }
QDateTime DebugCapture::time() const { return dateTime(timestamp); }
QString DebugOCRResult::idText() const { return uuidText(id); }
QDateTime DebugOCRResult::time() const { return dateTime(timestamp); }
QVariant DebugOCRResult::boundsValue() const { return bounds ? QVariant(*bounds) : QVariant(); }

DebugManager &DebugManager::shared() { return SharedInstance<DebugManager>::get("DebugManager"); }

DebugManager::DebugManager(Clock &clock, ProcessMetricsSource sources, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_sources(std::move(sources))
{
    startPerformanceMonitoring();
}

void DebugManager::startPerformanceMonitoring()
{
    m_performanceTimer.setInterval(kPerformanceIntervalMs);
    connect(&m_performanceTimer, &QTimer::timeout, this, &DebugManager::updatePerformanceMetrics);
    m_performanceTimer.start();
}

void DebugManager::setDebugMode(bool on)
{
    if (m_isDebugMode == on)
        return;
    m_isDebugMode = on;
    emit isDebugModeChanged();
}

QVariant DebugManager::latestCaptureValue() const
{
    return m_latestCapture ? QVariant::fromValue(*m_latestCapture) : QVariant();
}

QVariantList DebugManager::ocrResultValues() const
{
    QVariantList out;
    out.reserve(static_cast<qsizetype>(m_ocrResults.size()));
    for (const DebugOCRResult &r : m_ocrResults)
        out.append(QVariant::fromValue(r));
    return out;
}

QVariant DebugManager::currentFPSValue() const { return m_currentFPS ? QVariant(*m_currentFPS) : QVariant(); }

void DebugManager::captureProcessed(const QImage &image, int width, int height)
{
    if (!m_isDebugMode && !m_testCaptureRunning)
        return;
    m_latestCapture = DebugCapture { QUuid::createUuid(), m_clock.now(), image, width, height };
    emit latestCaptureChanged();
    ++m_framesProcessed;
    emit framesProcessedChanged();
    updateFPS();
}

void DebugManager::updateFPS()
{
    const TimePoint now = m_clock.now();
    m_frameTimestamps.push_back(now);
    while (!m_frameTimestamps.empty() && (now - m_frameTimestamps.front()).count() > kFPSWindowSeconds)
        m_frameTimestamps.pop_front();
    const double fps = static_cast<double>(m_frameTimestamps.size());
    if (m_currentFPS == fps)
        return;
    m_currentFPS = fps;
    emit currentFPSChanged();
}

void DebugManager::ocrProcessed(const QString &text, double confidence, std::optional<QRectF> bounds)
{
    if (!m_isDebugMode)
        return;
    m_ocrResults.push_front(DebugOCRResult { QUuid::createUuid(), m_clock.now(), text, confidence, bounds });
    if (m_ocrResults.size() > static_cast<size_t>(maxStoredResults))
        m_ocrResults.pop_back();
    emit ocrResultsChanged();
    ++m_ocrOperations;
    emit ocrOperationsChanged();
}

void DebugManager::recordProcessingTime(double duration)
{
    m_processingTimes.push_back(duration);
    if (m_processingTimes.size() > kMaxProcessingTimes)
        m_processingTimes.pop_front();
    m_avgProcessingTime = std::accumulate(m_processingTimes.begin(), m_processingTimes.end(), 0.0)
        / static_cast<double>(m_processingTimes.size());
    emit avgProcessingTimeChanged();
}

void DebugManager::errorOccurred()
{
    if (!m_isDebugMode && !m_testCaptureRunning)
        return;
    ++m_errorCount;
    emit errorCountChanged();
}

void DebugManager::clearDebugData()
{
    m_latestCapture.reset();
    m_ocrResults.clear();
    m_framesProcessed = 0;
    m_ocrOperations = 0;
    m_errorCount = 0;
    m_processingTimes.clear();
    m_frameTimestamps.clear();
    m_avgProcessingTime = 0;
    emit latestCaptureChanged();
    emit ocrResultsChanged();
    emit framesProcessedChanged();
    emit ocrOperationsChanged();
    emit errorCountChanged();
    emit avgProcessingTimeChanged();
}

std::optional<double> DebugManager::getCPUInfo()
{
    const std::optional<QByteArray> stat = readSmallFile(m_sources.statPath);
    const std::optional<CpuTimes> times = stat ? parseCpuTimes(*stat) : std::nullopt;
    if (!times)
        return std::nullopt;
    // The share of the machine's processor time in use since the previous sample (since boot for
    // the first one).
    const std::optional<double> usage = cpuUsagePercent(m_previousCpuTimes, *times);
    m_previousCpuTimes = times;
    return usage;
}

void DebugManager::updatePerformanceMetrics()
{
    if (const std::optional<double> cpu = getCPUInfo(); cpu && *cpu != m_cpuUsage) {
        m_cpuUsage = *cpu;
        emit cpuUsageChanged();
    }
    const std::optional<QByteArray> statm = readSmallFile(m_sources.statmPath);
    const std::optional<double> resident = statm ? parseResidentBytes(*statm, ::sysconf(_SC_PAGESIZE)) : std::nullopt;
    if (resident && *resident != m_memoryUsage) {
        m_memoryUsage = *resident;
        emit memoryUsageChanged();
    }
}

} // namespace pellux
