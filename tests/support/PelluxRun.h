#pragma once

#include "support/XvfbSession.h"

namespace pellux::test {

// One run of the built program (PELLUX_BINARY, defined for every test program); standard error is
// collected while it runs.
class PelluxRun {
public:
    // Which Qt platform the program uses: the tests' own (offscreen), or the session's display,
    // for the tray application whose windows and icon are to be seen there.
    enum class Platform { inherited, display };

    // `display` unset: the program gets no DISPLAY at all.
    PelluxRun(const QStringList &args, const std::optional<QString> &display, Platform platform = Platform::inherited)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        if (display)
            env.insert(QStringLiteral("DISPLAY"), *display);
        if (platform == Platform::display)
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(PELLUX_BINARY), args);
    }

    ~PelluxRun()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    PelluxRun(const PelluxRun &) = delete;
    PelluxRun &operator=(const PelluxRun &) = delete;

    // Standard error so far, without waiting.
    const QString &readError()
    {
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_err;
    }

    // Standard output so far, without waiting.
    const QString &readOutput()
    {
        m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_out;
    }

    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    // Waits until standard error contains `text`.
    bool waitForError(const QString &text, int timeoutMs = 60'000)
    {
        return runEventsUntil([&] { return readError().contains(text); }, timeoutMs);
    }

    void terminate() { ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM); }

    // The exit code, or -1 when the program did not end by itself in time (or crashed); `ending()`
    // then says which. A program that already ended while the test ran events counts as ended.
    int finish(int timeoutMs = 90'000)
    {
        const bool ended = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
        m_process.kill();
        m_process.waitForFinished();
        readError();
        readOutput();
        const bool crashed = m_process.exitStatus() == QProcess::CrashExit;
        m_ending = !ended
            ? QStringLiteral("still running after %1 ms, killed").arg(timeoutMs)
            : QString::fromLatin1(crashed ? "ended by signal %1" : "exited with %1").arg(m_process.exitCode());
        return ended && !crashed ? m_process.exitCode() : -1;
    }

    // How the program ended, for a failure's message, with all it printed.
    std::string ending()
    {
        return (m_ending + "\nstdout:\n" + readOutput() + "\nstderr:\n" + readError()).toStdString();
    }

    const QString &err() const { return m_err; }
    const QString &out() const { return m_out; }

private:
    QProcess m_process;
    QString m_err;
    QString m_out;
    QString m_ending = QStringLiteral("running");
};

} // namespace pellux::test
