// CPU cost of one capture cycle over an unchanged 1920x1080 window: enumeration, capture and
// change detection, the frame dropped as unchanged. Once with a backend that hands out a copy of
// a fixed frame (the pipeline alone), once with the X11 backend reading a real xterm filling a
// private Xvfb screen (window list, XComposite and MIT-SHM read included). The baseline is a plain
// deep copy of the same frame, measured in the same run; the figure to read is the ratio.
// Inside a GNOME session with a 1920x1080 window titled "pellux-bench" (`tests/wayland/gnome.sh
// BUILD SOURCE --bench` starts one, headless), the same runs over Mutter's ScreenCast, with the
// window's recording kept between captures and with a new recording for each; the single-window
// captures alone are measured for X11 and GNOME too.
#include "capture/ActivityMonitor.h"
#include "capture/NullCaptureBackend.h"
#include "capture/ScreenshotService.h"
#include "capture/x11/X11CaptureBackend.h"
#if PELLUX_WAYLAND
#include "capture/wayland/gnome/MutterCaptureBackend.h"
#endif
#include "diagnostics/DebugManager.h"
#include "imaging/ImageOptimizer.h"
#include "ocr/OCRProcessor.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"

#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPainter>
#include <QTemporaryDir>

#include "FullScreenXterm.h"
#include "support/XvfbSession.h"

#include <benchmark/benchmark.h>
#include <qcorotask.h>

#include <memory>

namespace {

using namespace pellux;

// One window that always shows the same frame.
class StaticWindowBackend final : public CaptureBackend {
public:
    explicit StaticWindowBackend(QImage frame)
        : m_frame(std::move(frame))
    {
        m_window.windowID = 1;
        m_window.frame = QRectF(0, 0, m_frame.width(), m_frame.height());
        m_window.isOnScreen = true;
        m_window.title = QStringLiteral("bench");
        m_window.owningApplication = RunningApplication { QStringLiteral("Bench"), QStringLiteral("bench"), 1 };
    }

    bool preflightScreenCaptureAccess() override { return true; }
    void requestScreenCaptureAccess() override { }
    QCoro::Task<CaptureResult<QImage>> captureImage(const ContentFilter &, const StreamConfiguration &) override
    {
        co_return CaptureResult<QImage>(m_frame.copy()); // a capture delivers fresh pixels
    }

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(bool, bool) override
    {
        co_return CaptureResult<ShareableContent>(ShareableContent { { m_window }, { *m_window.owningApplication } });
    }

private:
    QImage m_frame;
    WindowDescription m_window;
};

QImage desktopFrame()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 250));
    QPainter painter(&image);
    painter.setPen(Qt::black);
    for (int line = 0; line < 60; ++line)
        painter.drawText(
            20, 20 + line * 17, QStringLiteral("%1  the quick brown fox jumps over the lazy dog").arg(line));
    painter.fillRect(1400, 100, 400, 300, QColor(30, 120, 200));
    return image;
}

struct Pipeline {
    explicit Pipeline(CaptureBackend &backend)
        : backend(backend)
    {
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_DOCUMENTS_DIR", QFile::encodeName(home.path() + QStringLiteral("/Documents")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/share")));
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.useDynamicIntervals = false;
        preferences.save();
        database = std::make_unique<SimpleDatabaseManager>();
        index = std::make_unique<DatabaseRecordingIndex>(*database);
        storage = std::make_unique<StorageManager>(*index);
        monitor = std::make_unique<ActivityMonitor>(std::make_unique<NullActivitySource>());
        service = std::make_unique<ScreenshotService>(
            ScreenshotService::Components { &this->backend, &optimizer, storage.get(), &ocr, database.get(), &debug,
                [this]() -> ActivityMonitor & { return *monitor; }, &Clock::system() });
    }

    ~Pipeline()
    {
        QCoro::waitFor(service->waitForRecognitions(std::chrono::minutes(1)));
        database->waitUntilIdle();
    }

    QTemporaryDir home;
    CaptureBackend &backend;
    ImageOptimizer optimizer;
    OCRProcessor ocr;
    DebugManager debug;
    std::unique_ptr<SimpleDatabaseManager> database;
    std::unique_ptr<DatabaseRecordingIndex> index;
    std::unique_ptr<StorageManager> storage;
    std::unique_ptr<ActivityMonitor> monitor;
    std::unique_ptr<ScreenshotService> service;
};

void BM_PlainFrameCopy(benchmark::State &state)
{
    const QImage frame = desktopFrame();
    for (auto _ : state) {
        QImage copy = frame.copy();
        benchmark::DoNotOptimize(copy.constBits());
    }
}
BENCHMARK(BM_PlainFrameCopy)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void measureUnchangedCycles(benchmark::State &state, CaptureBackend &backend)
{
    Pipeline p(backend);
    // The first cycle stores the frame; every cycle measured afterwards finds it unchanged.
    QCoro::waitFor(p.service->captureTestScreenshot());
    const int storedBefore = p.storage->recordingCount();
    if (storedBefore != 1) {
        state.SkipWithError("the first cycle stored no frame");
        return;
    }
    for (auto _ : state)
        QCoro::waitFor(p.service->captureTestScreenshot());
    if (p.storage->recordingCount() != storedBefore)
        state.SkipWithError("an unchanged frame was stored");
}

void BM_UnchangedWindowCycle(benchmark::State &state)
{
    StaticWindowBackend backend(desktopFrame());
    measureUnchangedCycles(state, backend);
}
BENCHMARK(BM_UnchangedWindowCycle)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

// The window of a private Xvfb screen that an xterm fills, or 0 (with the benchmark skipped).
void BM_UnchangedX11WindowCycle(benchmark::State &state)
{
    test::XvfbSession session(test::XvfbSession::Options { QSize(1920, 1080), true });
    if (!bench::fullScreenXterm(state, session))
        return;
    X11CaptureBackend backend(session.display());
    measureUnchangedCycles(state, backend);
}
BENCHMARK(BM_UnchangedX11WindowCycle)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void measureCaptures(benchmark::State &state, CaptureBackend &backend, const WindowDescription &window)
{
    const ContentFilter filter = ContentFilter::desktopIndependentWindow(window);
    const StreamConfiguration configuration { int(window.frame.width()), int(window.frame.height()) };
    // The first capture may set things up (a recording kept afterwards); it is not measured.
    CaptureResult<QImage> image = QCoro::waitFor(backend.captureImage(filter, configuration));
    if (!image) {
        state.SkipWithError(qPrintable(image.error().localizedDescription));
        return;
    }
    for (auto _ : state) {
        image = QCoro::waitFor(backend.captureImage(filter, configuration));
        if (!image) {
            state.SkipWithError(qPrintable(image.error().localizedDescription));
            return;
        }
    }
    state.counters["width"] = image.value().width();
    state.counters["height"] = image.value().height();
}

void BM_X11WindowCapture(benchmark::State &state)
{
    test::XvfbSession session(test::XvfbSession::Options { QSize(1920, 1080), true });
    const quint32 window = bench::fullScreenXterm(state, session);
    if (!window)
        return;
    X11CaptureBackend backend(session.display());
    WindowDescription description;
    description.windowID = window;
    description.frame = QRectF(0, 0, 1920, 1080);
    measureCaptures(state, backend, description);
}
BENCHMARK(BM_X11WindowCapture)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

#if PELLUX_WAYLAND
const QString mutterBenchTitle = QStringLiteral("pellux-bench");

// The bench window of the GNOME session this program runs in; nothing (benchmark skipped) elsewhere.
std::optional<WindowDescription> mutterBenchWindow(benchmark::State &state, CaptureBackend &backend)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !backend.preflightScreenCaptureAccess()) {
        state.SkipWithError("not in a GNOME session with Pellux's extension (tests/wayland/gnome.sh --bench)");
        return std::nullopt;
    }
    const CaptureResult<ShareableContent> content = QCoro::waitFor(backend.getShareableContent());
    if (content)
        for (const WindowDescription &window : content.value().windows)
            if (window.title == mutterBenchTitle)
                return window;
    state.SkipWithError("no window titled pellux-bench");
    return std::nullopt;
}

void mutterWindowCapture(benchmark::State &state, bool keepRecordings)
{
    wayland::MutterCaptureBackend::Options options;
    options.keepRecordings = keepRecordings;
    wayland::MutterCaptureBackend backend(QDBusConnection::sessionBus(), options);
    if (const auto window = mutterBenchWindow(state, backend))
        measureCaptures(state, backend, *window);
}

void BM_MutterWindowCapture(benchmark::State &state) { mutterWindowCapture(state, true); }
BENCHMARK(BM_MutterWindowCapture)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_MutterWindowCaptureNewRecording(benchmark::State &state) { mutterWindowCapture(state, false); }
BENCHMARK(BM_MutterWindowCaptureNewRecording)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void mutterWindowCycle(benchmark::State &state, bool keepRecordings)
{
    wayland::MutterCaptureBackend::Options options;
    options.keepRecordings = keepRecordings;
    wayland::MutterCaptureBackend backend(QDBusConnection::sessionBus(), options);
    if (mutterBenchWindow(state, backend))
        measureUnchangedCycles(state, backend);
}

void BM_UnchangedMutterWindowCycle(benchmark::State &state) { mutterWindowCycle(state, true); }
BENCHMARK(BM_UnchangedMutterWindowCycle)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UnchangedMutterWindowCycleNewRecording(benchmark::State &state) { mutterWindowCycle(state, false); }
BENCHMARK(BM_UnchangedMutterWindowCycleNewRecording)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("OMP_THREAD_LIMIT", "1");
    QLoggingCategory::setFilterRules(QStringLiteral("com.pellux.ScreenshotService.info=false"));
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
