#include "app/TrayApplication.h"

#include "app/AppDelegate.h"
#include "app/CaptureShutdown.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "persistence/SimpleDatabaseManager.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace pellux {

int runTrayApplication(int argc, char **argv, bool resetDatabase)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pellux"));
    QApplication::setApplicationName(QStringLiteral("Pellux"));
    QApplication::setQuitOnLastWindowClosed(false);

    if (resetDatabase || QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier)) {
        std::printf("Option key held - resetting database...\n");
        std::fflush(stdout);
        SimpleDatabaseManager::shared().resetDatabase();
    }

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    // Quitting (menu, SIGINT, SIGTERM, end of session) first lets the capture in progress finish
    // and queued text recognition complete, so nothing is left half-written.
    CaptureShutdown shutdown;
    if (!shutdown.installSignalHandlers())
        std::fprintf(stderr, "pellux: cannot install the signal handlers\n");
    int framesWithoutText = 0;
    QObject::connect(&shutdown, &CaptureShutdown::finished, &app, [&](int left) {
        framesWithoutText = left;
        // The file being re-compressed is finished, never left half-way.
        ScreenshotOptimizationService::shared().stop();
        QCoreApplication::exit(0);
    });
    QObject::connect(&shutdown, &CaptureShutdown::signalReceived, &app, [&] { shutdown.start(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [&] { shutdown.start(); });
    delegate.setQuitHandler([&] { shutdown.start(); });
    const int exitCode = app.exec();
    std::fflush(stdout);
    std::fflush(stderr);
    if (framesWithoutText > 0) {
        // Recognition still running on its queue would race with the teardown of the components;
        // everything stored is already on disk.
        std::_Exit(exitCode);
    }
    return exitCode;
}

} // namespace pellux
