#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <qcorotask.h>

#include <chrono>
#include <memory>

namespace pellux {

class AppComponents;
class ScreenshotService;
class SimpleDatabaseManager;

// Ends a capture session cleanly: the window in progress finishes, queued text recognition gets a
// bounded time to complete, and every database write reaches the file. Also turns SIGINT and
// SIGTERM into a signal on the main thread (the handler only writes a byte to a pipe).
class CaptureShutdown : public QObject {
    Q_OBJECT

public:
    // Text recognition still queued at shutdown gets this long to finish.
    static constexpr std::chrono::seconds recognitionGracePeriod { 30 };

    explicit CaptureShutdown(AppComponents &components, QObject *parent = nullptr);
    ~CaptureShutdown() override;

    // Routes SIGINT and SIGTERM to signalReceived(); false when that is impossible.
    bool installSignalHandlers();

    // Stops capture and waits as described above; the number of stored frames left without text.
    static QCoro::Task<int> finishCapture(ScreenshotService &service, SimpleDatabaseManager &database,
        std::chrono::milliseconds gracePeriod = recognitionGracePeriod);

    // finishCapture() on the application's capture service (if it was built), once; finished()
    // follows.
    void start();

signals:
    void signalReceived();
    void finished(int framesWithoutText);

private:
    AppComponents &m_components;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_started = false;
};

} // namespace pellux
