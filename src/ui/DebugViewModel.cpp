#include "ui/DebugViewModel.h"

#include "capture/ScreenshotService.h"
#include "diagnostics/DebugManager.h"
#include "persistence/SimpleDatabaseManager.h"
#include "ui/DebugCaptureImageProvider.h"
#include "ui/DebugFormatting.h"
#include "ui/Formatting.h"
#include "ui/MainViewModel.h"

#include <QPointer>

namespace pellux {

DebugViewModel::DebugViewModel(
    DebugManager &debug, ScreenshotService *service, SimpleDatabaseManager *database, QObject *parent)
    : QObject(parent)
    , m_debug(debug)
    , m_service(service)
    , m_database(database)
    , m_captureImage(std::make_shared<DebugCaptureImage>())
{
    connect(&debug, &DebugManager::latestCaptureChanged, this, &DebugViewModel::captureUpdated);
    connect(&debug, &DebugManager::ocrResultsChanged, this, &DebugViewModel::resultsUpdated);
    connect(&debug, &DebugManager::currentFPSChanged, this, &DebugViewModel::framesPerSecondChanged);
    connect(&debug, &DebugManager::cpuUsageChanged, this, &DebugViewModel::cpuUsageChanged);
    connect(&debug, &DebugManager::memoryUsageChanged, this, &DebugViewModel::memoryUsageChanged);
    connect(&debug, &DebugManager::avgProcessingTimeChanged, this, &DebugViewModel::avgProcessingTimeChanged);
    connect(&debug, &DebugManager::errorCountChanged, this, &DebugViewModel::errorCountChanged);
    if (service) {
        for (const auto signal : { &ScreenshotService::recognitionFinished,
                 &ScreenshotService::recognitionDeferredChanged, &ScreenshotService::captureCountChanged })
            connect(service, signal, this, &DebugViewModel::textBacklogChanged);
    }
    captureUpdated();
    resultsUpdated();
}

DebugViewModel::~DebugViewModel() = default;

void DebugViewModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    resultsUpdated();
    emit searchTextChanged();
}

bool DebugViewModel::hasCapture() const { return m_debug.latestCapture().has_value(); }

QString DebugViewModel::captureImageSource() const
{
    const std::optional<DebugCapture> &capture = m_debug.latestCapture();
    if (!capture || capture->image.isNull())
        return {};
    return QStringLiteral("image://debugcapture/") + capture->idText();
}

QString DebugViewModel::captureTimeText() const
{
    const std::optional<DebugCapture> &capture = m_debug.latestCapture();
    return capture ? debugTimeText(capture->time()) : QString();
}

QString DebugViewModel::captureSizeText() const
{
    const std::optional<DebugCapture> &capture = m_debug.latestCapture();
    return capture ? frameSizeText(capture->width, capture->height) : QString();
}

int DebugViewModel::captureWidth() const
{
    const std::optional<DebugCapture> &capture = m_debug.latestCapture();
    return capture ? capture->width : 0;
}

int DebugViewModel::captureHeight() const
{
    const std::optional<DebugCapture> &capture = m_debug.latestCapture();
    return capture ? capture->height : 0;
}

QString DebugViewModel::framesPerSecondText() const
{
    const std::optional<double> fps = m_debug.currentFPS();
    return fps ? pellux::framesPerSecondText(*fps) : QString();
}

double DebugViewModel::cpuUsage() const { return m_debug.cpuUsage(); }

QString DebugViewModel::cpuUsageText() const { return usagePercentText(m_debug.cpuUsage()); }

QColor DebugViewModel::cpuUsageColor() const { return usageLevelColor(usageLevel(m_debug.cpuUsage())); }

QString DebugViewModel::memoryText() const { return memoryStyleByteCount(static_cast<qint64>(m_debug.memoryUsage())); }

QString DebugViewModel::avgProcessingTimeText() const { return processingTimeText(m_debug.avgProcessingTime()); }

QString DebugViewModel::textBacklogText() const
{
    return m_service ? textBacklogText(
               m_service->pendingRecognitions(), m_service->owedRecognitions(), m_service->recognitionDeferred())
                     : QStringLiteral("None");
}

QString DebugViewModel::textBacklogText(int inMemory, int onDisk, bool deferred)
{
    QString text = inMemory + onDisk == 0 ? QStringLiteral("None")
        : onDisk == 0                     ? QStringLiteral("%1 in memory").arg(inMemory)
                                          : QStringLiteral("%1 in memory, %2 on disk").arg(inMemory).arg(onDisk);
    if (deferred)
        text += QStringLiteral(" (on battery: waits until you are away)");
    return text;
}

bool DebugViewModel::hasErrors() const { return m_debug.errorCount() > 0; }

void DebugViewModel::setCaptureState(MainViewModel *viewModel)
{
    m_viewModel = viewModel;
    if (viewModel) {
        connect(
            viewModel, &MainViewModel::hasScreenRecordingPermissionChanged, this, &DebugViewModel::captureStateChanged);
        connect(viewModel, &MainViewModel::isCapturingScreenshotsChanged, this, &DebugViewModel::captureStateChanged);
    }
    emit captureStateChanged();
}

QString DebugViewModel::testCaptureUnavailableReason() const
{
    if (!m_viewModel)
        return {};
    // Before the first check answers, the backend's own quick answer stands in for it.
    if (!m_viewModel->hasScreenRecordingPermission() && !m_viewModel->backend().preflightScreenCaptureAccess())
        return QStringLiteral("Pellux cannot read the screen: it has no screen recording permission.");
    // Paused by the user (another process capturing is no pause: the test capture is this one's).
    if (m_viewModel->captureAllowed() && !m_viewModel->isCapturingScreenshots())
        return QStringLiteral("Screenshots are paused. Resume them from the tray menu to take a test screenshot.");
    return {};
}

void DebugViewModel::captureTestScreenshot()
{
    if (!canCaptureTest() || m_isCapturingTest)
        return;
    setCapturingTest(true);
    m_debug.setTestCaptureRunning(true);
    QPointer<DebugViewModel> self(this);
    QPointer<DebugManager> debug(&m_debug);
    m_service->captureTestScreenshot().then([self, debug] {
        if (debug)
            debug->setTestCaptureRunning(false);
        if (!self)
            return;
        self->setCapturingTest(false);
        emit self->testCaptureFinished();
    });
}

void DebugViewModel::debugPrintDatabase()
{
    if (m_database)
        m_database->debugPrintAllOCRTexts();
}

void DebugViewModel::captureUpdated()
{
    const std::optional<DebugCapture> &capture = m_debug.latestCapture();
    // Published before the views learn the new address, so the provider already has the frame.
    if (capture)
        m_captureImage->publish(capture->idText(), capture->image);
    else
        m_captureImage->publish(QString(), QImage());
    emit captureChanged();
}

void DebugViewModel::resultsUpdated() { m_ocrResults.update(m_debug.ocrResults(), m_searchText); }

void DebugViewModel::setCapturingTest(bool on)
{
    if (on == m_isCapturingTest)
        return;
    m_isCapturingTest = on;
    emit isCapturingTestChanged();
}

} // namespace pellux
