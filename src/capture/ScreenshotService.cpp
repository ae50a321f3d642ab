#include "capture/ScreenshotService.h"

#include "capture/ActivityMonitor.h"
#include "diagnostics/DebugManager.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "imaging/Thumbnail.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognitionMemory.h"
#include "ocr/RecognizedText.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Characters.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"
#include "runtime/SerialQueue.h"
#include "runtime/SharedInstance.h"
#include "runtime/SignalWait.h"
#include "runtime/ThreadPool.h"
#include "storage/OwedText.h"
#include "storage/StorageManager.h"

#include <QCoreApplication>
#include <QPointer>

#include <cmath>
#include <unordered_set>

namespace pellux {

Q_LOGGING_CATEGORY(screenshotServiceLog, "com.pellux.ScreenshotService", QtInfoMsg)

namespace {

constexpr double kMinimumWindowSide = 50.0;
constexpr double kMinimumIntervalChange = 0.5;
constexpr int kPreviewLength = 100;

int milliseconds(double seconds) { return static_cast<int>(std::lround(seconds * 1000.0)); }

} // namespace

const QStringList &ScreenshotService::excludedOwnerNames()
{
    static const QStringList names { QStringLiteral("Window Server"), QStringLiteral("Dock"),
        QStringLiteral("SystemUIServer"), QStringLiteral("Control Center") };
    return names;
}

bool ScreenshotService::isCaptureCandidate(const WindowDescription &window)
{
    return window.frame.width() > kMinimumWindowSide && window.frame.height() > kMinimumWindowSide && window.isOnScreen;
}

ScreenshotService &ScreenshotService::shared() { return SharedInstance<ScreenshotService>::get("ScreenshotService"); }

ScreenshotService::ScreenshotService(Components components, QObject *parent)
    : QObject(parent)
    , m_components(std::move(components))
    , m_preferences(AppPreferences::load())
{
    if (!m_components.clock)
        m_components.clock = &Clock::system();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { runCaptureCycle(); });
    if (m_components.storage) {
        connect(m_components.storage, &StorageManager::recordingsDeleted, this, [this](int removed) {
            if (removed > 0)
                forgetStoredFrames();
        });
    }

    if (m_components.database && m_components.ocr) {
        m_owedFiles = std::make_unique<SerialQueue>(QStringLiteral("com.pellux.capture.owed"), ThreadPriority::idle);
        m_owedWalk = std::make_unique<OwedTextWalk>(*m_components.database, *m_components.ocr, *m_owedFiles);
    }

    postTo(this, [this] { refreshAvailableContent(); });
}

ScreenshotService::~ScreenshotService() = default;

std::optional<double> ScreenshotService::pendingCaptureInterval() const
{
    if (!m_timer.isActive())
        return std::nullopt;
    return m_armedInterval;
}

bool ScreenshotService::hasCachedFrame(quint32 windowID) const { return m_windowFrames.contains(windowID); }

void ScreenshotService::forgetStoredFrames()
{
    m_windowFrames.clear();
    ++m_storedFramesGeneration;
    if (m_components.optimizer)
        m_components.optimizer->forgetStoredFrames();
}

std::optional<std::vector<OCRText>> ScreenshotService::rememberedText(quint32 windowID) const
{
    const auto it = m_windowFrames.find(windowID);
    if (it == m_windowFrames.end() || !it->second.text)
        return std::nullopt;
    return it->second.text->fragments();
}

void ScreenshotService::setCapturing(bool on)
{
    if (m_isCapturing == on)
        return;
    m_isCapturing = on;
    emit isCapturingChanged();
}

void ScreenshotService::announceCapturing(bool on)
{
    // A refused start reports "off" even when capture already was off, so that observers that
    // set themselves on in anticipation fall back.
    m_isCapturing = on;
    emit isCapturingChanged();
}

ActivityMonitor &ScreenshotService::activityMonitor()
{
    ActivityMonitor &monitor = m_components.activityMonitor();
    if (!m_monitorConnected) {
        m_monitorConnected = true;
        connect(&monitor, &ActivityMonitor::activityLevelChanged, this,
            [this](ActivityLevel, ActivityLevel, double interval) {
                if (m_preferences.useDynamicIntervals)
                    updateCaptureInterval(interval);
                updateRecognitionDeferral();
            });
    }
    return monitor;
}

double ScreenshotService::activityInterval() { return activityMonitor().captureInterval(); }

QCoro::Task<> ScreenshotService::refreshAvailableContent()
{
    QPointer<ScreenshotService> self(this);
    QCoro::Task<CaptureResult<ShareableContent>> query = m_components.backend->getShareableContent();
    CaptureResult<ShareableContent> content = co_await query;
    if (!self)
        co_return;
    if (content.ok()) {
        m_availableContent = std::move(content).value();
        m_windows.clear();
        for (const WindowDescription &window : m_availableContent->windows) {
            if (isCaptureCandidate(window))
                m_windows.push_back(window);
        }
        qCInfo(screenshotServiceLog, "Found %ld windows", static_cast<long>(m_windows.size()));
        co_return;
    }
    const CaptureError &error = content.error();
    qCCritical(screenshotServiceLog, "Failed to get shareable content: %s", qUtf8Printable(error.localizedDescription));
    if (error.domain == QLatin1String(screenCaptureErrorDomain)) {
        qCCritical(screenshotServiceLog, "This appears to be a permission error. Current permission state: %s",
            m_components.backend->preflightScreenCaptureAccess() ? "true" : "false");
    }
    m_availableContent.reset();
    m_windows.clear();
}

QCoro::Task<> ScreenshotService::startCapturing()
{
    if (m_isCapturing)
        co_return;
    const quint64 stopsBefore = m_stopCount;
    co_await refreshAvailableContent();
    // A start made meanwhile by another caller wins; this one has nothing left to do.
    if (m_isCapturing)
        co_return;
    // So does a stop: whoever stopped capture (a shutdown, the user) did so after this start was asked for.
    if (m_stopCount != stopsBefore)
        co_return;

    if (!m_availableContent) {
        qCCritical(screenshotServiceLog, "Could not access screen content - checking permissions");
        if (m_components.backend->preflightScreenCaptureAccess())
            qCCritical(screenshotServiceLog, "Permission granted but cannot access content - may need app restart");
        else
            qCCritical(screenshotServiceLog, "Screen recording permission not granted");
        announceCapturing(false);
        co_return;
    }
    if (m_windows.empty()) {
        qCCritical(screenshotServiceLog, "No windows available for capture");
        announceCapturing(false);
        co_return;
    }

    setCapturing(true);
    m_currentInterval = m_preferences.useDynamicIntervals ? activityInterval() : m_preferences.screenshotInterval;
    scheduleNextCapture();
    qCInfo(screenshotServiceLog, "Started screenshot capture with dynamic intervals (initial: %lds) for %ld windows",
        static_cast<long>(m_currentInterval), static_cast<long>(m_windows.size()));
}

void ScreenshotService::stopCapturing()
{
    ++m_stopCount;
    m_timer.stop();
    setCapturing(false);
    qCInfo(screenshotServiceLog, "Stopped screenshot capture");
}

QCoro::Task<> ScreenshotService::updateCaptureInterval(double interval)
{
    if (!m_isCapturing)
        co_return;
    if (std::abs(m_currentInterval - interval) < kMinimumIntervalChange)
        co_return;
    m_currentInterval = interval;
    // Restarting the wait from zero at every change would starve capture while the level flips
    // (on Wayland it changes five seconds after the last input, as often as a cycle is due). A
    // cycle in progress schedules the next one itself.
    if (m_timer.isActive()) {
        const double waited = m_timerArmed.elapsed() / 1000.0;
        m_armedInterval = interval;
        m_timer.start(std::max(0, milliseconds(interval - waited)));
    }
    qCInfo(screenshotServiceLog, "Updated capture interval to %ld seconds", static_cast<long>(interval));
}

void ScreenshotService::refreshPreferences()
{
    m_preferences = AppPreferences::load();
    if (!m_isCapturing)
        return;
    QPointer<ScreenshotService> self(this);
    QMetaObject::invokeMethod(
        this,
        [self]() {
            if (!self)
                return;
            self->stopCapturing();
            self->startCapturing();
        },
        Qt::QueuedConnection);
}

void ScreenshotService::reloadPreferences() { m_preferences = AppPreferences::load(); }

QCoro::Task<> ScreenshotService::captureTestScreenshot()
{
    qCInfo(screenshotServiceLog, "Capturing test screenshot");
    if (m_windows.empty()) {
        co_await refreshAvailableContent();
        if (m_windows.empty()) {
            qCCritical(screenshotServiceLog, "No windows available for test screenshot");
            co_return;
        }
    }
    co_await captureAllWindows();
    qCInfo(screenshotServiceLog, "Test screenshots captured for %ld windows", static_cast<long>(m_windows.size()));
}

void ScreenshotService::armTimer(double interval)
{
    m_timer.stop();
    m_armedInterval = interval;
    m_timerArmed.start();
    m_timer.start(std::max(0, milliseconds(interval)));
}

void ScreenshotService::scheduleNextCapture() { armTimer(m_currentInterval); }

QCoro::Task<> ScreenshotService::runCaptureCycle()
{
    co_await captureAllWindows();
    if (!m_isCapturing)
        co_return;
    if (m_preferences.useDynamicIntervals)
        m_currentInterval = activityInterval();
    scheduleNextCapture();
}

QCoro::Task<> ScreenshotService::waitForCycle()
{
    while (m_cycleRunning) {
        QCoro::Task<bool> finished = nextEmission(this, &ScreenshotService::cycleFinished);
        co_await finished;
    }
}

QCoro::Task<> ScreenshotService::captureAllWindows()
{
    // Cycles never overlap, whoever starts them (timer, interval change, test capture): the
    // per-window caches assume one window at a time.
    co_await waitForCycle();
    m_cycleRunning = true;
    m_abandonCycle = false;
    m_changedWindows = 0;

    const TimePoint timestamp = m_components.clock->now();
    co_await refreshAvailableContent();
    const std::vector<WindowDescription> windows = m_windows;
    for (const WindowDescription &window : windows) {
        if (m_abandonCycle)
            break;
        co_await captureWindowScreenshot(window, timestamp);
    }

    std::unordered_set<quint32> present;
    for (const WindowDescription &window : m_windows)
        present.insert(window.windowID);
    std::erase_if(m_windowFrames, [&present](const auto &entry) {
        if (present.contains(entry.first))
            return false;
        log::debug(
            QStringLiteral("DEBUG ScreenshotService: Window %1 is gone, dropping its cached frame").arg(entry.first));
        return true;
    });
    // Where input cannot be seen (Wayland), how much the windows change tells how busy the user is.
    if (m_isCapturing && m_preferences.useDynamicIntervals)
        activityMonitor().noteWindowsChanged(m_changedWindows);

    m_cycleRunning = false;
    emit cycleFinished();
}

QCoro::Task<> ScreenshotService::captureWindowScreenshot(WindowDescription window, TimePoint timestamp)
{
    const QString appName
        = window.owningApplication ? window.owningApplication->applicationName : QStringLiteral("Unknown");
    const QString windowTitle = window.title.value_or(QString());
    if (excludedOwnerNames().contains(appName))
        co_return;
    if (window.owningApplication && m_preferences.excludedApps.contains(window.owningApplication->bundleIdentifier))
        co_return;
    // Pellux's own windows would store every query typed into them and show up in their own results.
    if (window.owningApplication && window.owningApplication->processID == QCoreApplication::applicationPid())
        co_return;

    const StreamConfiguration configuration { static_cast<int>(window.frame.width()),
        static_cast<int>(window.frame.height()), CaptureResolution::best };
    const ContentFilter filter = ContentFilter::desktopIndependentWindow(window);
    QCoro::Task<CaptureResult<QImage>> capture = m_components.backend->captureImage(filter, configuration);
    CaptureResult<QImage> captured = co_await capture;
    if (!captured.ok()) {
        qCCritical(screenshotServiceLog, "Failed to capture screenshot: %s",
            qUtf8Printable(captured.error().localizedDescription));
        if (m_components.debug)
            m_components.debug->errorOccurred();
        co_return;
    }
    // Every frame read, changed or not, is what the debug window's live view shows.
    if (m_components.debug)
        m_components.debug->captureProcessed(captured.value(), captured.value().width(), captured.value().height());
    // How long a frame takes from its pixels to its stored file (the debug window's average).
    const auto processingStart = std::chrono::steady_clock::now();
    QCoro::Task<> processing
        = processWindowScreenshot(std::move(captured).value(), window, appName, windowTitle, timestamp);
    co_await processing;
    if (m_components.debug)
        m_components.debug->recordProcessingTime(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - processingStart).count());
    ++m_captureCount;
    emit captureCountChanged();
}

QCoro::Task<> ScreenshotService::processWindowScreenshot(
    QImage image, WindowDescription window, QString appName, QString windowTitle, TimePoint timestamp)
{
    ImageOptimizer &optimizer = *m_components.optimizer;
    const quint32 windowID = window.windowID;
    const quint64 generation = m_storedFramesGeneration;
    std::optional<QImage> previousImage;
    std::optional<QString> previousHash;
    qint64 previousChainStartBytes = 0;
    if (auto it = m_windowFrames.find(windowID); it != m_windowFrames.end()) {
        previousImage = it->second.image;
        previousHash = it->second.imageHash;
        previousChainStartBytes = it->second.chainStartBytes;
    }

    if (previousImage) {
        QCoro::Task<QString> hashing = optimizer.generatePerceptualHash(image);
        const QString currentHash = co_await hashing;
        bool unchanged = currentHash == *previousHash;
        if (!unchanged) {
            QCoro::Task<double> diffing = optimizer.calculateImageDifference(image, *previousImage);
            unchanged = co_await diffing <= changeThreshold;
        }
        if (unchanged) {
            qCInfo(screenshotServiceLog, "Window %s - %s has not changed, skipping capture", qUtf8Printable(appName),
                qUtf8Printable(windowTitle));
            co_return;
        }
        ++m_changedWindows;
    }

    const std::optional<QString> windowIDText = QString::number(windowID);
    QCoro::Task<OptimizationResult> optimizing
        = optimizer.optimizeScreenshot(image, windowTitle, appName, previousHash, previousImage, windowIDText);
    const OptimizationResult result = co_await optimizing;
    if (!result.shouldStore) {
        if (result.duplicateOf)
            qCInfo(screenshotServiceLog, "Screenshot is duplicate of %s, skipping storage",
                qUtf8Printable(*result.duplicateOf));
        co_return;
    }
    if (!result.optimizedData) {
        qCCritical(screenshotServiceLog, "Failed to optimize screenshot");
        co_return;
    }

    qCInfo(screenshotServiceLog, "Screenshot optimized from %ldx%ld with compression ratio %sx to %ldKB",
        static_cast<long>(image.width()), static_cast<long>(image.height()),
        qUtf8Printable(QString::number(result.compressionRatio, 'f', 2)),
        static_cast<long>(result.optimizedData->size() / 1024));

    const std::optional<QString> storedAppName = appName;
    const std::optional<QString> storedTitle = windowTitle;
    const std::optional<QString> storedHash = result.imageHash;
    const std::optional<double> storedRatio = result.compressionRatio;
    // The cards' image, from the frame in hand, when a card would otherwise decode a heavy frame (a
    // delta's, its chain's first): then a delta's card never rebuilds its chain.
    const qint64 chainStartBytes = result.isDeltaFrame ? previousChainStartBytes : result.optimizedData->size();
    std::optional<QByteArray> thumbnailData;
    if (thumbnail::mayBeWorthKeeping(chainStartBytes)) {
        QCoro::Task<std::optional<QByteArray>> reducing = runOnPool([image] { return thumbnail::encode(image); });
        thumbnailData = co_await reducing;
        if (thumbnailData && !thumbnail::worthKeeping(thumbnailData->size(), chainStartBytes))
            thumbnailData.reset();
    }
    QCoro::Task<std::optional<Recording>> saving
        = m_components.storage->saveScreenshot(*result.optimizedData, timestamp, 0, storedAppName, storedTitle,
            storedHash, result.isDeltaFrame, result.referenceHash, storedRatio, thumbnailData.value_or(QByteArray()));
    const std::optional<Recording> recording = co_await saving;
    if (!recording) {
        // Nothing is committed: the next cycle compares with the last stored frame and tries again.
        ++m_framesNotStored;
        qCCritical(screenshotServiceLog, "Failed to save screenshot");
        if (m_components.debug)
            m_components.debug->errorOccurred();
        co_return;
    }
    // The window's previous frame and its text: whatever rows this frame shares with it, in place
    // or scrolled, take their text from there.
    std::optional<PreviousFrame> previousFrame;
    const bool forgotten = generation != m_storedFramesGeneration;
    if (previousImage && !forgotten) {
        if (auto it = m_windowFrames.find(windowID); it != m_windowFrames.end())
            previousFrame = PreviousFrame { it->second.image, it->second.text };
    }
    auto text = std::make_shared<RecognitionMemory>();
    // Screenshots deleted while this one was made may include the frame it was compared with:
    // the window starts afresh next cycle instead of building on it.
    if (!forgotten) {
        m_windowFrames[windowID] = WindowFrameState { image, result.imageHash, text, chainStartBytes };
        optimizer.commitStoredFrame(result);
    }

    if (!m_textRecognitionEnabled)
        co_return;
    if ((m_pendingRecognitions >= maxPendingRecognitions || m_recognitionDeferred) && m_owedWalk) {
        leaveTextOwed(*recording);
        co_return;
    }
    // A full frame may be stored scaled down; a delta is rebuilt at the captured size.
    const QSize storedSize
        = result.isDeltaFrame ? image.size() : encodedImageSize(*result.optimizedData).value_or(image.size());
    recognizeText(image, recording->id, storedSize, appName, timestamp, std::move(previousFrame), std::move(text));
}

void ScreenshotService::recognizeText(const QImage &image, const QUuid &recordingId, QSize storedSize,
    const QString &appName, TimePoint timestamp, std::optional<PreviousFrame> previous,
    std::shared_ptr<RecognitionMemory> remember)
{
    ++m_pendingRecognitions;
    m_recognizing.insert(recordingId);
    QPointer<ScreenshotService> self(this);
    // Called once the frame's text is stored, known to be absent, or owed; from any thread.
    auto done = [self, recordingId](TextOutcome outcome) {
        postToMain([self, outcome, recordingId] {
            if (!self)
                return;
            self->m_recognizing.remove(recordingId);
            self->recognitionDone(outcome);
        });
    };
    SimpleDatabaseManager *database = m_components.database;
    DebugManager *debug = m_components.debug;

    m_components.ocr->processChangedImage(
        image, recordingId, std::move(previous), std::move(remember), [=](Recognition fragments) {
            if (!fragments) {
                // Not "no text": the frame stays owed its text, and healing recognises it later.
                qCCritical(screenshotServiceLog, "Text of a screenshot from %s left for later: %s",
                    qUtf8Printable(appName), qUtf8Printable(fragments.failure().reason));
                done(TextOutcome::notRecognized);
                return;
            }
            RecordingText recognized = recognizedText(fragments.value());
            recognized.words = scaledWordBoxes(std::move(recognized.words), image.size(), storedSize);
            const QString text = recognized.text;
            if (text.isEmpty()) {
                // Remembered, so that neither healing nor a walk over the frames owed their text
                // takes it for one whose recognition never finished.
                qCInfo(screenshotServiceLog, "No OCR text found in screenshot from %s", qUtf8Printable(appName));
                database->saveLateRecognition(recordingId, SimpleDatabaseManager::RecognitionOutcome::noText,
                    RecordingText {}, timestamp, [done](SimpleDatabaseManager::LateRecognitionSave save) {
                        done(save == SimpleDatabaseManager::LateRecognitionSave::failed ? TextOutcome::notSaved
                                                                                        : TextOutcome::saved);
                    });
                return;
            }
            const QString id = uuidText(recordingId);
            qCInfo(screenshotServiceLog, "OCR extracted %ld characters from %s for recording %s",
                static_cast<long>(characterCount(text)), qUtf8Printable(appName), qUtf8Printable(id));
            log::debug(QStringLiteral("DEBUG ScreenshotService: Saving OCR text for recording ID: ") + id);
            log::debug(QStringLiteral("DEBUG ScreenshotService: OCR text preview: ")
                + leadingCharacters(text, kPreviewLength) + QStringLiteral("..."));

            database->verifyRecordingExists(recordingId, [=](bool exists) {
                if (!exists) {
                    log::failure(QStringLiteral(
                        "ERROR ScreenshotService: Recording not found in database, cannot save OCR text"));
                    done(TextOutcome::notSaved);
                    return;
                }
                log::debug(QStringLiteral("DEBUG ScreenshotService: Recording verified in database, saving OCR text"));
                database->saveOCRText(recordingId, recognized, timestamp,
                    [done](bool saved) { done(saved ? TextOutcome::saved : TextOutcome::notSaved); });
            });

            postToMain([self, debug, text] {
                if (self && debug)
                    debug->ocrProcessed(text, 1.0, std::nullopt);
            });
        });
}

void ScreenshotService::recognitionDone(TextOutcome outcome)
{
    --m_pendingRecognitions;
    if (outcome == TextOutcome::notSaved)
        ++m_framesNotIndexed;
    else if (outcome == TextOutcome::notRecognized)
        ++m_framesNotRecognized;
    if (outcome != TextOutcome::saved && m_components.debug)
        m_components.debug->errorOccurred();
    emit recognitionFinished();
    walkOwedFramesWhenFree();
}

void ScreenshotService::walkOwedFramesWhenFree()
{
    if (m_pendingRecognitions == 0 && m_owedFrom && !m_walkingOwed && !m_recognitionDeferred)
        recognizeOwedFrames();
}

void ScreenshotService::setOnBattery(bool onBattery)
{
    m_onBattery = onBattery;
    updateRecognitionDeferral();
}

bool ScreenshotService::recognitionDeferred() const { return m_recognitionDeferred; }

void ScreenshotService::updateRecognitionDeferral()
{
    // The monitor starts watching the first time it is asked for.
    const bool deferred = m_onBattery && m_components.activityMonitor
        && activityMonitor().currentActivityLevel() != ActivityLevel::idle;
    if (deferred == m_recognitionDeferred)
        return;
    m_recognitionDeferred = deferred;
    qCInfo(
        screenshotServiceLog, deferred ? "On battery and in use: text recognition waits" : "Text recognition goes on");
    emit recognitionDeferredChanged();
    walkOwedFramesWhenFree();
}

void ScreenshotService::leaveTextOwed(const Recording &recording)
{
    ++m_owedRecognitions;
    if (!m_owedFrom || recording.timestamp < *m_owedFrom)
        m_owedFrom = recording.timestamp;
    // The walk starts once the frames in memory are done (recognitionDone).
    log::debug(
        QStringLiteral("DEBUG ScreenshotService: %1 frames wait for their text on disk").arg(m_owedRecognitions));
}

QCoro::Task<> ScreenshotService::recognizeOwedFrames()
{
    QPointer<ScreenshotService> self(this);
    m_walkingOwed = true;
    // Frames owed while a walk runs start another one after it.
    while (m_owedFrom) {
        const OwedTextWalk::Range range { m_owedFrom, std::nullopt };
        m_owedFrom.reset();
        OwedTextCounts counts;
        QCoro::Task<bool> walking = m_owedWalk->walk(
            range, counts, this, [this] { return m_recognitionDeferred; },
            [this](const QUuid &id) { return m_recognizing.contains(id); });
        const bool walked = co_await walking;
        if (!self)
            co_return;
        if (!walked && m_recognitionDeferred) {
            // Back on battery and in use: the rest waits for the next chance.
            m_owedRecognitions
                = std::max(0, m_owedRecognitions - counts.recognized - counts.withoutText - counts.unreadable);
            m_owedFrom = m_owedFrom ? std::min(*m_owedFrom, *range.from) : range.from;
            break;
        }
        m_framesNotRecognized += counts.notRecognized;
        if (!walked || counts.notRecognized > 0) {
            // The database could not answer, or the recogniser failed: the frames stay owed, and
            // healing recognises them later.
            m_owedRecognitions = std::max(0,
                m_owedRecognitions - counts.recognized - counts.withoutText - counts.unreadable - counts.notRecognized);
            log::failure(QStringLiteral("ScreenshotService: %1 frames stay owed their text").arg(m_owedRecognitions));
            break;
        }
        qCInfo(screenshotServiceLog, "Recognised the text of %d frames that waited on disk",
            counts.recognized + counts.withoutText);
        // Every frame owed before this walk began had its turn; those owed since start the next one.
        if (!m_owedFrom)
            m_owedRecognitions = 0;
    }
    m_walkingOwed = false;
    emit recognitionFinished();
}

QCoro::Task<int> ScreenshotService::waitForRecognitions(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pendingRecognitions > 0 || m_walkingOwed) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        QCoro::Task<bool> finished = nextEmission(this, &ScreenshotService::recognitionFinished, left);
        co_await finished;
    }
    co_return m_pendingRecognitions + m_owedRecognitions;
}

} // namespace pellux
