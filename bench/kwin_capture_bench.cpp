// Wall time to capture one 1920x1080 window: the X11 backend reading an xterm that fills a private
// Xvfb screen (XComposite and MIT-SHM), against the KWin backend capturing the largest window of the
// KDE Wayland session the program runs in, from the window stream it keeps open (the newest PipeWire
// frame, converted to RGB32; the first capture starts the stream) and through ScreenShot2 (reply,
// then the pixels through a pipe). Also the KWin window list: loading, running and unloading the
// script and its report over D-Bus. Outside a KDE session the KWin cases are skipped; scripts/kwin-capture-bench.sh
// starts a headless one, authorises this program and runs it there. The figure to read is the ratio
// of the two captures, measured in the same run.
#include "capture/x11/X11CaptureBackend.h"
#if PELLUX_WAYLAND
#include "capture/wayland/kde/KWinCaptureBackend.h"
#endif

#include "runtime/Log.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>

#include "FullScreenXterm.h"
#include "support/XvfbSession.h"

#include <benchmark/benchmark.h>
#include <qcorotask.h>

namespace {

using namespace pellux;

void BM_X11WindowCapture(benchmark::State &state)
{
    test::XvfbSession session(test::XvfbSession::Options { QSize(1920, 1080), true });
    const quint32 window = bench::fullScreenXterm(state, session);
    if (!window)
        return;
    X11CaptureBackend backend(session.display());
    QSize size;
    for (auto _ : state) {
        const CaptureResult<QImage> image = backend.readImage(window);
        if (!image) {
            state.SkipWithError(qPrintable(image.error().localizedDescription));
            return;
        }
        size = image.value().size();
    }
    state.counters["width"] = size.width();
    state.counters["height"] = size.height();
}
BENCHMARK(BM_X11WindowCapture)->UseRealTime()->Unit(benchmark::kMillisecond);

#if PELLUX_WAYLAND
bool inKdeSession(benchmark::State &state)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        state.SkipWithError("not in a KDE Wayland session (scripts/kwin-capture-bench.sh starts one)");
        return false;
    }
    return true;
}

void kwinWindowCapture(benchmark::State &state, kwin::KWinCaptureBackend::Options options)
{
    if (!inKdeSession(state))
        return;
    kwin::KWinCaptureBackend backend(QDBusConnection::sessionBus(), options);
    const CaptureResult<ShareableContent> content = QCoro::waitFor(backend.getShareableContent(false, true));
    if (!content || content.value().windows.empty()) {
        state.SkipWithError(content ? "KWin lists no window" : qPrintable(content.error().localizedDescription));
        return;
    }
    const auto largest = std::max_element(content.value().windows.begin(), content.value().windows.end(),
        [](const WindowDescription &a, const WindowDescription &b) {
            return a.frame.width() * a.frame.height() < b.frame.width() * b.frame.height();
        });
    const ContentFilter filter = ContentFilter::desktopIndependentWindow(*largest);
    const StreamConfiguration configuration { int(largest->frame.width()), int(largest->frame.height()) };
    // The first capture starts the window's stream; the loop measures the captures after its first
    // frame has come.
    QElapsedTimer first;
    first.start();
    if (const CaptureResult<QImage> image = QCoro::waitFor(backend.captureImage(filter, configuration)); !image) {
        state.SkipWithError(qPrintable(image.error().localizedDescription));
        return;
    }
    state.counters["first_ms"] = double(first.elapsed());
    while (options.useWindowStreams && backend.deliveringStreams() == 0 && first.elapsed() < 5000) {
        test::runEventsUntil([] { return false; }, 100);
        QCoro::waitFor(backend.captureImage(filter, configuration));
    }
    state.counters["first_frame_ms"] = double(first.elapsed());
    QSize size;
    for (auto _ : state) {
        const CaptureResult<QImage> image = QCoro::waitFor(backend.captureImage(filter, configuration));
        if (!image) {
            state.SkipWithError(qPrintable(image.error().localizedDescription));
            return;
        }
        size = image.value().size();
    }
    state.counters["width"] = size.width();
    state.counters["height"] = size.height();
    state.counters["streams"] = double(backend.deliveringStreams());
}

void BM_KWinWindowCaptureStream(benchmark::State &state) { kwinWindowCapture(state, {}); }
BENCHMARK(BM_KWinWindowCaptureStream)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_KWinWindowCaptureScreenShot(benchmark::State &state)
{
    kwin::KWinCaptureBackend::Options options;
    options.useWindowStreams = false;
    kwinWindowCapture(state, options);
}
BENCHMARK(BM_KWinWindowCaptureScreenShot)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_KWinWindowList(benchmark::State &state)
{
    if (!inKdeSession(state))
        return;
    kwin::KWinCaptureBackend backend;
    // The first listing also connects to KWin's screencast protocol, which KWin answers slowly once.
    QCoro::waitFor(backend.getShareableContent());
    size_t windows = 0;
    for (auto _ : state) {
        const CaptureResult<ShareableContent> content = QCoro::waitFor(backend.getShareableContent());
        if (!content) {
            state.SkipWithError(qPrintable(content.error().localizedDescription));
            return;
        }
        windows = content.value().windows.size();
    }
    state.counters["windows"] = double(windows);
}
BENCHMARK(BM_KWinWindowList)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // PELLUX_VERBOSE=1 shows each capture's time to KWin's reply.
    pellux::log::configureFromEnvironment(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
