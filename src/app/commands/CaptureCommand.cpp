#include "app/AppComponents.h"
#include "app/CaptureLock.h"
#include "app/CaptureShutdown.h"
#include "app/commands/Commands.h"
#include "capture/CaptureBackend.h"
#include "capture/CaptureBackendLoader.h"
#include "capture/ScreenshotService.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "ocr/OCRProcessor.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"
#include "runtime/SignalWait.h"
#include "storage/StoreHealer.h"
#include "ui/MainViewModel.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <qcorotask.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace pellux::commands {

namespace {

struct CaptureOptions {
    std::optional<double> durationSeconds;
    bool once = false;
    bool withoutText = false;
};

std::optional<CaptureOptions> parseOptions(const QStringList &args)
{
    CaptureOptions options;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--once")) {
            options.once = true;
        } else if (arg == QLatin1String("--without-text")) {
            options.withoutText = true;
        } else if (arg == QLatin1String("--for") && i + 1 < args.size()) {
            bool ok = false;
            const double seconds = args[++i].toDouble(&ok);
            if (!ok || !(seconds > 0)) {
                std::fprintf(stderr, "pellux capture: --for needs a positive number of seconds\n");
                return std::nullopt;
            }
            options.durationSeconds = seconds;
        } else {
            std::fprintf(stderr, "pellux capture: unexpected argument '%s'\n", qUtf8Printable(arg));
            return std::nullopt;
        }
    }
    if (options.once && options.durationSeconds) {
        std::fprintf(stderr, "pellux capture: --once and --for cannot be combined\n");
        return std::nullopt;
    }
    return options;
}

// Why the run ended.
enum class StopReason { signal, timeUp, screenLost };

class CaptureRun : public QObject {
    Q_OBJECT
public:
    // While capture is off, this often: try to start it (the view model gives up after its retries,
    // and there is no menu to start it again), and notice an X server that went away.
    static constexpr std::chrono::seconds startCheckInterval { 3 };

    CaptureRun(CaptureOptions options, AppComponents &components)
        : m_options(options)
        , m_components(components)
        , m_shutdown(components)
    {
    }

    QCoro::Task<int> run()
    {
        CaptureBackend &backend = m_components.captureBackend();
        if (!backend.preflightScreenCaptureAccess()) {
            // A desktop that asks the user first (the screen-cast portal) asks now; listing the
            // windows waits for the answer.
            backend.requestScreenCaptureAccess();
            const CaptureResult<ShareableContent> content = co_await backend.getShareableContent();
            if (!backend.preflightScreenCaptureAccess()) {
                const QString reason
                    = content.ok() ? QStringLiteral("no windows can be listed") : content.error().localizedDescription;
                // A Wayland backend's reason says what the desktop needs; otherwise the likely cause
                // is a display server that is not there.
                const DesktopSession session = currentDesktopSession();
                const char *hint = session == DesktopSession::none
                    ? " (is a display server running, with WAYLAND_DISPLAY or DISPLAY set?)"
                    : session == DesktopSession::x11 ? " (is an X server running and DISPLAY set?)"
                                                     : "";
                std::fprintf(stderr, "pellux capture: cannot read the screen: %s%s\n", qUtf8Printable(reason), hint);
                co_return kExitFailure;
            }
        }

        ScreenshotService &service = m_components.capture();
        service.setTextRecognitionEnabled(!m_options.withoutText);
        connect(&m_shutdown, &CaptureShutdown::signalReceived, this, [this] { stop(StopReason::signal); });
        // A cycle that could not list the windows while the screen is no longer readable means
        // the X server went away.
        connect(&service, &ScreenshotService::cycleFinished, this, [this, &service, &backend] {
            if (!service.hasAvailableContent() && !backend.preflightScreenCaptureAccess())
                stop(StopReason::screenLost);
        });

        std::unique_ptr<MainViewModel> viewModel;
        QTimer deadline;
        if (m_options.once) {
            // One frame is no time to heal in: whatever healing is owed stays owed.
            m_components.healing().begin(StoreHealer::TextRecognition::enabled, StoreHealer::Healing::deferred);
            co_await service.captureTestScreenshot();
            if (!service.hasAvailableContent() && !backend.preflightScreenCaptureAccess())
                m_reason = StopReason::screenLost;
        } else {
            std::fprintf(stderr, "pellux capture: capturing%s; press Ctrl+C to stop\n",
                m_options.durationSeconds
                    ? qUtf8Printable(QStringLiteral(" for %1 seconds").arg(*m_options.durationSeconds))
                    : "");
            if (m_options.durationSeconds) {
                deadline.setSingleShot(true);
                connect(&deadline, &QTimer::timeout, this, [this] { stop(StopReason::timeUp); });
                // A QTimer counts in int milliseconds: longer runs are capped at about 24 days.
                deadline.start(static_cast<int>(std::min(*m_options.durationSeconds * 1000, double(INT_MAX))));
            }
            // Stored screenshots are re-compressed as they age: a pass now, then hourly.
            m_components.recompression();
            // A crash may have left the list, the rows and the files apart, or frames without
            // their text: healed in the background while capture runs.
            m_components.healing().begin(
                m_options.withoutText ? StoreHealer::TextRecognition::disabled : StoreHealer::TextRecognition::enabled);
            viewModel = std::make_unique<MainViewModel>(MainViewModel::Components { &service, &backend, {} });
            connect(&m_startCheck, &QTimer::timeout, this, [this] { checkCapture(); });
            m_startCheck.start(startCheckInterval);
            if (!m_reason) {
                QCoro::Task<bool> stopped = nextEmission(this, &CaptureRun::stopRequested);
                co_await stopped;
            }
        }
        // Once stopping, nothing may start capture again: neither the periodic check nor a retry
        // of the view model that is still waiting.
        m_startCheck.stop();
        viewModel.reset();
        m_components.healing().stop();

        // Shut down: finish the window in progress, let queued text recognition complete, then
        // make sure every database write has reached the file.
        m_framesWithoutText = co_await CaptureShutdown::finishCapture(service, m_components.database());
        // Frames whose recognition failed are owed their text: the store is not left in order.
        m_components.healing().end(m_framesWithoutText + service.framesNotIndexed() + service.framesNotRecognized());
        if (m_components.hasRecompression())
            m_components.recompression().stop();
        std::fprintf(stderr, "pellux capture: stopped after %d window captures\n", service.captureCount());
        if (!m_options.withoutText) {
            const OCRProcessor &ocr = m_components.textRecognition();
            std::fprintf(stderr,
                "pellux capture: text recognised in %d frames whole (%.1f s of processor time) and in %d by "
                "their changed lines (%.1f s)\n",
                ocr.wholeImageRecognitions(), ocr.wholeImageSeconds(), ocr.changedLineRecognitions(),
                ocr.changedLineSeconds());
            std::fprintf(stderr,
                "pellux capture: %d changed-line bands read from the cache of recognised lines, %d read\n",
                ocr.bandsFromCache(), ocr.bandsRead());
        }
        // Frames lost on the way are a failure of the run, not something only the log shows.
        const int notStored = service.framesNotStored();
        const int notIndexed = service.framesNotIndexed();
        const int notRecognized = service.framesNotRecognized();
        if (notStored > 0 || notIndexed > 0) {
            std::fprintf(stderr,
                "pellux capture: %d frames could not be stored (file, list or database), "
                "%d stored frames could not have their text saved for search\n",
                notStored, notIndexed);
        }
        if (notRecognized > 0) {
            std::fprintf(stderr,
                "pellux capture: text recognition failed for %d stored frames; their text stays owed and "
                "the next capture that runs longer than one frame recognises it\n",
                notRecognized);
        }
        if (m_reason == StopReason::screenLost) {
            std::fprintf(stderr,
                "pellux capture: the screen can no longer be read (the display server went away); "
                "everything captured so far is stored\n");
            co_return kExitFailure;
        }
        co_return notStored > 0 || notIndexed > 0 || notRecognized > 0 ? kExitFailure : kExitSuccess;
    }

    bool installSignalHandlers() { return m_shutdown.installSignalHandlers(); }

signals:
    void stopRequested();

private:
    QCoro::Task<> checkCapture()
    {
        ScreenshotService &service = m_components.capture();
        if (m_reason || m_checking || service.isCapturing())
            co_return;
        m_checking = true;
        CaptureBackend &backend = m_components.captureBackend();
        const CaptureResult<ShareableContent> content = co_await backend.getShareableContent();
        m_checking = false;
        if (m_reason || service.isCapturing())
            co_return;
        if (!content.ok() && !backend.preflightScreenCaptureAccess()) {
            stop(StopReason::screenLost);
            co_return;
        }
        const bool windowToCapture = content.ok()
            && std::any_of(
                content.value().windows.begin(), content.value().windows.end(), &ScreenshotService::isCaptureCandidate);
        if (!windowToCapture) {
            if (!m_waitingReported) {
                m_waitingReported = true;
                std::fprintf(stderr, "pellux capture: no window to capture yet; waiting for one to appear\n");
            }
            co_return;
        }
        m_checking = true;
        co_await service.startCapturing();
        m_checking = false;
    }

    void stop(StopReason reason)
    {
        if (m_reason)
            return;
        m_reason = reason;
        emit stopRequested();
    }

    CaptureOptions m_options;
    AppComponents &m_components;
    CaptureShutdown m_shutdown;
    QTimer m_startCheck;
    bool m_checking = false;
    bool m_waitingReported = false;
    std::optional<StopReason> m_reason;
    int m_framesWithoutText = 0;
};

} // namespace

int capture(const CommandArguments &arguments)
{
    const std::optional<CaptureOptions> options = parseOptions(arguments.args);
    if (!options)
        return kExitUsage;

    log::setStream(stderr);
    if (!log::verbose())
        QLoggingCategory::setFilterRules(QStringLiteral("com.pellux.ScreenshotService.info=false"));
    // No window is shown; the offscreen platform keeps Qt from opening a display connection of its
    // own, which would end the process if the X server went away.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = arguments.argc;
    QGuiApplication app(argc, arguments.argv);
    // Held until the process ends, whichever way it ends.
    CaptureLock captureLock;
    if (!captureLock.tryAcquire()) {
        std::fprintf(stderr, "pellux capture: %s\n", qUtf8Printable(captureLock.refusal()));
        return captureLock.heldElsewhere() ? kExitAlreadyCapturing : kExitFailure;
    }
    // Every long-lived part this run uses; destroyed before the application.
    AppComponents components;
    CaptureRun captureRun(*options, components);
    if (!captureRun.installSignalHandlers()) {
        std::fprintf(stderr, "pellux capture: cannot install the signal handlers\n");
        return kExitFailure;
    }
    int exitCode = kExitFailure;
    QTimer::singleShot(0, &app, [&] {
        captureRun.run().then([&](int code) {
            exitCode = code;
            app.quit();
        });
    });
    app.exec();
    // Recognition still queued after the grace period is dropped when the components stop: those
    // frames are counted as without text, and the next capturing process recognises them.
    return exitCode;
}

} // namespace pellux::commands

#include "CaptureCommand.moc"
