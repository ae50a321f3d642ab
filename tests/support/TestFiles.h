#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace pellux::test {

// The whole file, or nothing when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs the event loop until `condition` holds (true) or `timeoutMs` pass (false).
inline bool runEventsUntil(const std::function<bool()> &condition, int timeoutMs = 20'000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// One finished run of the built program (PELLUX_BINARY).
struct CommandRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

inline CommandRun runCommand(const QStringList &arguments,
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(), int timeoutMs = 300'000)
{
    environment.remove(QStringLiteral("PELLUX_VERBOSE"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PELLUX_BINARY), arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    return { finished, process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

} // namespace pellux::test
