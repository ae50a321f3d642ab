#include "app/CaptureShutdown.h"

#include "app/AppComponents.h"
#include "capture/ScreenshotService.h"
#include "persistence/SimpleDatabaseManager.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace pellux {

namespace {

int g_signalPipe[2] = { -1, -1 };

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

CaptureShutdown::CaptureShutdown(AppComponents &components, QObject *parent)
    : QObject(parent)
    , m_components(components)
{
}

CaptureShutdown::~CaptureShutdown() = default;

bool CaptureShutdown::installSignalHandlers()
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) { }
        emit signalReceived();
    });
    return true;
}

QCoro::Task<int> CaptureShutdown::finishCapture(
    ScreenshotService &service, SimpleDatabaseManager &database, std::chrono::milliseconds gracePeriod)
{
    service.abandonCycle();
    service.stopCapturing();
    co_await service.waitForCycle();
    const int framesWithoutText = co_await service.waitForRecognitions(gracePeriod);
    database.waitUntilIdle();
    if (framesWithoutText > 0) {
        std::fprintf(stderr,
            "pellux: text recognition did not finish in time: %d stored frames were left without text\n",
            framesWithoutText);
    }
    co_return framesWithoutText;
}

void CaptureShutdown::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_components.hasCapture()) {
        QMetaObject::invokeMethod(
            this, [this] { emit finished(0); }, Qt::QueuedConnection);
        return;
    }
    finishCapture(m_components.capture(), m_components.database()).then([this](int framesWithoutText) {
        emit finished(framesWithoutText);
    });
}

} // namespace pellux
