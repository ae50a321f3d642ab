#include "app/TrayApplication.h"

#include "app/AppComponents.h"
#include "app/AppDelegate.h"
#include "app/CaptureLock.h"
#include "app/CaptureShutdown.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "capture/ScreenshotService.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"
#include "storage/StorageManager.h"
#include "storage/StoreHealer.h"
#include "ui/Alert.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdio>

namespace pellux {

namespace {

// The offscreen and minimal platforms draw nowhere a user could see.
bool canShowWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

bool confirmReset()
{
    return runAlert(nullptr, QMessageBox::Warning, QStringLiteral("Reset Database?"),
               QStringLiteral("This will delete all screenshots and OCR data. This action cannot be undone."),
               { { QStringLiteral("&Reset"), QMessageBox::DestructiveRole },
                   { QStringLiteral("Cancel"), QMessageBox::RejectRole } },
               1, 1)
        == 0;
}

} // namespace

int runTrayApplication(int argc, char **argv, TrayOptions options)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pellux"));
    QApplication::setApplicationName(QStringLiteral("Pellux"));
    // The windows' icon, and the desktop entry the desktop associates them with.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Pellux/images/pellux.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("pellux"));
    QApplication::setQuitOnLastWindowClosed(false);

    // Alt held at launch asks to reset, as --reset-database does; both only once the user confirms
    // in a window, so a hand on Alt+Tab while Pellux starts at login never costs the history.
    const bool altHeld = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
    bool resetDatabase = options.resetDatabase || altHeld;
    SingleInstance instance;
    // Started in the background (autostart) while Pellux runs: nothing to show.
    const SingleInstance::Outcome outcome
        = instance.start(options.background ? SingleInstance::Request::none : SingleInstance::Request::show);
    switch (outcome) {
    case SingleInstance::Outcome::running:
        break;
    case SingleInstance::Outcome::handedOver:
        if (resetDatabase) {
            // The running one has the database open: emptying it underneath would lose its writes.
            std::fprintf(stderr, "pellux: Pellux is already running; quit it before resetting the database\n");
            return kExitUsage;
        }
        return kExitSuccess;
    case SingleInstance::Outcome::noAnswer:
        std::fprintf(stderr, "pellux: Pellux is already running (pid %lld) but does not answer: %s\n",
            static_cast<long long>(instance.runningPid()), qUtf8Printable(instance.errorString()));
        return kExitFailure;
    case SingleInstance::Outcome::failed:
        // Without the guard Pellux still works; a second start would simply run beside it.
        log::failure(QStringLiteral("Pellux: cannot check for a running Pellux: %1").arg(instance.errorString()));
        break;
    }

    // Only one process captures into the Pellux folder; a `pellux capture` running keeps this one
    // from capturing, but its window still opens.
    CaptureLock captureLock;
    if (!captureLock.tryAcquire())
        log::failure(QStringLiteral("Pellux: not capturing: %1").arg(captureLock.refusal()));

    // Every long-lived part; destroyed after the delegate and its windows, before the application.
    AppComponents components;
    if (resetDatabase && !canShowWindows()) {
        std::fprintf(stderr, "pellux: not resetting the database: no window can be shown to confirm it\n");
        if (options.resetDatabase)
            return kExitUsage;
        resetDatabase = false;
    }
    if (resetDatabase && captureLock.isHeld())
        resetDatabase = confirmReset();
    if (resetDatabase) {
        if (captureLock.isHeld()) {
            std::printf("%s\n", altHeld ? "Option key held - resetting database..." : "Resetting database...");
            std::fflush(stdout);
            const auto failed = [] {
                runAlert(nullptr, QMessageBox::Warning, QStringLiteral("Reset Database Failed"),
                    QStringLiteral("Some screenshots or the database could not be deleted. The log names what failed."),
                    { { QStringLiteral("OK"), QMessageBox::AcceptRole } }, 0, 0);
            };
            components.database().resetDatabase([failed](bool done) {
                if (!done)
                    postToMain(failed);
            });
            // All screenshots go with their text, as the reset from the menu does.
            components.storage().deleteAllRecordings().then([failed](bool done) {
                if (!done)
                    failed();
            });
        } else {
            log::failure(QStringLiteral("Pellux: not resetting the database while another process captures into it"));
        }
    }

    AppDelegate delegate(components);
    delegate.setCaptureLock(&captureLock);
    QObject::connect(&instance, &SingleInstance::showRequested, &delegate, &AppDelegate::showMainWindow);
    delegate.applicationDidFinishLaunching(!options.background);
    // Only the process that captures may bring the store back into agreement after a crash; after
    // a reset there is nothing to heal.
    if (captureLock.isHeld() && !resetDatabase)
        components.healing().begin();
    // The disk-use figure the windows show; saves keep it current from here on.
    components.storage().calculateStorageUsed();

    // Quitting (menu, SIGINT, SIGTERM, end of session) first lets the capture in progress finish
    // and queued text recognition complete, so nothing is left half-written.
    CaptureShutdown shutdown(components);
    if (!shutdown.installSignalHandlers())
        std::fprintf(stderr, "pellux: cannot install the signal handlers\n");
    QObject::connect(&shutdown, &CaptureShutdown::finished, &app, [&](int left) {
        components.healing().stop();
        if (captureLock.isHeld())
            components.healing().end(left + (components.hasCapture() ? components.capture().framesNotIndexed() : 0));
        // The file being re-compressed is finished, never left half-way.
        components.recompression().stop();
        QCoreApplication::exit(0);
    });
    QObject::connect(&shutdown, &CaptureShutdown::signalReceived, &app, [&] { shutdown.start(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [&] { shutdown.start(); });
    delegate.setQuitHandler([&] { shutdown.start(); });
    // Recognition still queued after the grace period is dropped when the components stop: those
    // frames are counted as without text, and the next capturing process recognises them.
    return app.exec();
}

} // namespace pellux
