#include "app/AppComponents.h"

#include "capture/ActivityMonitor.h"
#include "capture/ActivitySource.h"
#include "capture/BatteryMonitor.h"
#include "capture/CaptureBackend.h"
#include "capture/CaptureBackendLoader.h"
#include "capture/ScreenshotService.h"
#include "diagnostics/DebugManager.h"
#include "imaging/DeltaFrameProcessor.h"
#include "imaging/ImageOptimizer.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "ocr/OCRProcessor.h"
#include "ocr/TextLineDetector.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/MainThread.h"
#include "storage/RecordingIndex.h"
#include "storage/RecordingTextLoader.h"
#include "storage/StorageManager.h"
#include "storage/StoreHealer.h"

namespace pellux {

AppComponents::AppComponents()
    : AppComponents(Options {})
{
}

AppComponents::AppComponents(Options options)
    : m_options(std::move(options))
    , m_clock(m_options.clock ? *m_options.clock : Clock::system())
{
    Q_ASSERT(isMainThread());
}

AppComponents::~AppComponents()
{
    stop();
    // Each part before the parts it uses.
    m_healing.reset();
    m_battery.reset();
    m_capture.reset();
    m_activity.reset();
    m_backend.reset();
    m_debug.reset();
    m_recompression.reset();
    m_deltaFrames.reset();
    m_imageOptimizer.reset();
    m_recordingTexts.reset();
    m_ocr.reset();
    m_storage.reset();
    m_index.reset();
    m_database.reset();
}

void AppComponents::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_healing)
        m_healing->stop();
    if (m_recompression.object)
        m_recompression.object->stop();
    if (m_ocr.object) {
        m_ocr.object->textRecognitionQueue().discardPending();
        m_ocr.object->textRecognitionQueue().drain();
    }
    if (m_database.object)
        m_database.object->waitUntilIdle();
}

SimpleDatabaseManager &AppComponents::database()
{
    if (!m_database.object)
        m_database.set(std::make_unique<SimpleDatabaseManager>());
    return *m_database.object;
}

StorageManager &AppComponents::storage()
{
    if (!m_storage.object) {
        m_index = std::make_unique<DatabaseRecordingIndex>(database());
        m_storage.set(std::make_unique<StorageManager>(*m_index, m_clock));
    }
    return *m_storage.object;
}

OCRProcessor &AppComponents::textRecognition()
{
    if (!m_ocr.object) {
        std::unique_ptr<TextRecognizer> recognizer = m_options.makeRecognizer ? m_options.makeRecognizer() : nullptr;
        m_ocr.set(recognizer ? std::make_unique<OCRProcessor>(std::move(recognizer), m_clock)
                             : std::make_unique<OCRProcessor>());
    }
    return *m_ocr.object;
}

ImageOptimizer &AppComponents::imageOptimizer()
{
    if (!m_imageOptimizer.object) {
        SimpleDatabaseManager &db = database();
        ImageOptimizer &optimizer = m_imageOptimizer.set(std::make_unique<ImageOptimizer>());
        optimizer.setTextLineDetector(detectTextLines);
        optimizer.setDuplicateLookup(
            [&db](const QString &hash, std::function<void(std::optional<QString>)> completion) {
                db.getScreenshotByHash(hash, std::move(completion));
            });
        // The delta stage encodes with the optimizer, and the optimizer hands frames to it.
        DeltaFrameProcessor &delta = m_deltaFrames.set(std::make_unique<DeltaFrameProcessor>(optimizer, m_clock));
        optimizer.setDeltaFrameStage(
            [&delta](QImage current, QImage previous, QString windowID, QString imageHash) {
                return delta.processDeltaFrame(
                    std::move(current), std::move(previous), std::move(windowID), std::move(imageHash));
            },
            [&optimizer](const QImage &bitmap, const std::vector<QRect> &regions) {
                return DeltaFrameProcessor::encodeDeltaData(optimizer, bitmap, regions);
            },
            [&delta](const PendingReference &reference) { delta.commitReference(reference); });
    }
    return *m_imageOptimizer.object;
}

DeltaFrameProcessor &AppComponents::deltaFrames()
{
    imageOptimizer();
    return *m_deltaFrames.object;
}

ScreenshotOptimizationService &AppComponents::recompression()
{
    if (!m_recompression.object) {
        SimpleDatabaseManager &db = database();
        m_recompression.set(std::make_unique<ScreenshotOptimizationService>(
            ScreenshotOptimizationService::defaultScreenshotsFolder(),
            [&db](const QString &fileName, qint64 newSize, std::function<void(bool)> completion) {
                db.updateFileSize(fileName, newSize, std::move(completion));
            },
            m_clock, ScreenshotOptimizationService::Schedule::start));
    }
    return *m_recompression.object;
}

DebugManager &AppComponents::debug()
{
    if (!m_debug.object)
        m_debug.set(std::make_unique<DebugManager>(m_clock));
    return *m_debug.object;
}

CaptureBackend &AppComponents::captureBackend()
{
    if (!m_backend.object)
        m_backend.set(m_options.makeBackend ? m_options.makeBackend() : createCaptureBackend());
    return *m_backend.object;
}

ActivityMonitor &AppComponents::activityMonitor()
{
    if (!m_activity.object) {
        std::unique_ptr<ActivitySource> source
            = m_options.makeActivitySource ? m_options.makeActivitySource() : createActivitySource();
        m_activity.set(std::make_unique<ActivityMonitor>(std::move(source), m_clock));
    }
    return *m_activity.object;
}

ScreenshotService &AppComponents::capture()
{
    if (!m_capture.object) {
        m_capture.set(std::make_unique<ScreenshotService>(ScreenshotService::Components {
            &captureBackend(),
            &imageOptimizer(),
            &storage(),
            &textRecognition(),
            &database(),
            &debug(),
            // Built when a dynamic interval is first needed, so the monitor starts watching then.
            [this]() -> ActivityMonitor & { return activityMonitor(); },
            &m_clock,
        }));
        // On battery, text recognition waits for the user to be away.
        m_battery = std::make_unique<BatteryMonitor>();
        QObject::connect(m_battery.get(), &BatteryMonitor::onBatteryChanged, m_capture.object.get(),
            &ScreenshotService::setOnBattery);
    }
    return *m_capture.object;
}

RecordingTextLoader &AppComponents::recordingTexts()
{
    if (!m_recordingTexts.object)
        m_recordingTexts.set(std::make_unique<RecordingTextLoader>(database(), textRecognition()));
    return *m_recordingTexts.object;
}

HealingSession &AppComponents::healing()
{
    if (!m_healing)
        m_healing = std::make_unique<HealingSession>(storage(), database(), textRecognition(), m_clock);
    return *m_healing;
}

} // namespace pellux
