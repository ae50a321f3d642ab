#pragma once
// What nearly every test uses: GoogleTest, the common Qt and standard headers, reading and writing
// whole files, the one wait on the event loop, and running the built program.
#include "support/LogCapture.h"
#include "support/TempHome.h"

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRect>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSignalSpy>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
