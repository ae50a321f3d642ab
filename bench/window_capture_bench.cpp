// Time to capture one 1920x1080 window, from the request to the Format_RGB32 image, on X11 and on
// sway. X11: an xterm filling a private Xvfb screen (XComposite and MIT-SHM). sway: the window
// given by the sway session this program runs in (WAYLAND_DISPLAY and SWAYSOCK; sway refuses
// root, so run it as the session's user), for example a fullscreen foot on a 1920x1080 headless
// output; each capture asks sway for its tree (the window may have moved) and copies the window's
// part of the output with wlr-screencopy. Skipped without such a session. The figure to read is the
// ratio of the two, measured in the same run.
#include "capture/x11/X11CaptureBackend.h"

#if PELLUX_WAYLAND
#include "capture/wayland/wlroots/WlrootsCaptureBackend.h"
#endif

#include <QGuiApplication>

#include "FullScreenXterm.h"
#include "support/XvfbSession.h"

#include <benchmark/benchmark.h>
#include <qcorotask.h>

namespace {

using namespace pellux;

void measureCaptures(benchmark::State &state, CaptureBackend &backend)
{
    const CaptureResult<ShareableContent> content = QCoro::waitFor(backend.getShareableContent(true, true));
    if (!content || content.value().windows.empty()) {
        state.SkipWithError("no window on screen to capture");
        return;
    }
    const WindowDescription window = content.value().windows.front();
    const ContentFilter filter = ContentFilter::desktopIndependentWindow(window);
    const StreamConfiguration configuration { int(window.frame.width()), int(window.frame.height()) };
    for (auto _ : state) {
        const CaptureResult<QImage> image = QCoro::waitFor(backend.captureImage(filter, configuration));
        if (!image) {
            state.SkipWithError(qPrintable(image.error().localizedDescription));
            return;
        }
        benchmark::DoNotOptimize(image.value().constBits());
        state.counters["pixels"] = double(image.value().width()) * image.value().height();
    }
}

void BM_X11WindowCapture(benchmark::State &state)
{
    test::XvfbSession session(test::XvfbSession::Options { QSize(1920, 1080), true });
    const quint32 window = bench::fullScreenXterm(state, session);
    if (!window)
        return;
    X11CaptureBackend backend(session.display());
    measureCaptures(state, backend);
}
BENCHMARK(BM_X11WindowCapture)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

#if PELLUX_WAYLAND
void BM_SwayWindowCapture(benchmark::State &state)
{
    if (qEnvironmentVariableIsEmpty("SWAYSOCK") || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        state.SkipWithError("not inside a sway session (WAYLAND_DISPLAY and SWAYSOCK)");
        return;
    }
    wayland::WlrootsCaptureBackend backend;
    measureCaptures(state, backend);
}
BENCHMARK(BM_SwayWindowCapture)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
