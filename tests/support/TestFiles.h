#pragma once
// What nearly every test uses: GoogleTest, the common Qt and standard headers, reading and writing
// whole files, the one wait on the event loop, and running the built program.
#include "support/LogCapture.h"
#include "support/TempHome.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <csignal>
#include <thread>

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

// Permission bits of a file or folder, -1 when it does not exist.
inline int modeOf(const QString &path)
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

// Runs the event loop until `condition` holds (true) or `timeoutMs` pass (false), napping between
// polls so that a wait leaves the processor to what it waits for.
inline bool runEventsUntil(const std::function<bool()> &condition, int timeoutMs = 20'000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Starts an operation that reports through a completion callback and waits for that callback,
// running the main event loop meanwhile so that completions posted to the main thread arrive.
template <typename T> T awaitCompletion(const std::function<void(std::function<void(T)>)> &start)
{
    std::optional<T> result;
    std::atomic<bool> done { false };
    start([&](T value) {
        result = std::move(value);
        done = true;
    });
    runEventsUntil([&] { return done.load(); }, std::numeric_limits<int>::max());
    return std::move(*result);
}

// One finished run of the built program (PELLUX_BINARY, or `program`); a crash's exit code is -1.
struct CommandRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

inline CommandRun runCommand(const QStringList &arguments,
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(), int timeoutMs = 300'000,
    const QString &program = QStringLiteral(PELLUX_BINARY))
{
    environment.remove(QStringLiteral("PELLUX_VERBOSE"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    return { finished, process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
}

} // namespace pellux::test
