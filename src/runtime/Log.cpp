#include "runtime/Log.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace pellux::log {

namespace {
std::atomic<bool> g_verbose { false };
std::atomic<std::FILE *> g_stream { nullptr };
std::mutex g_writeMutex;

void write(const QString &line)
{
    const QByteArray bytes = escapeControls(line).toUtf8();
    std::FILE *stream = g_stream.load();
    if (!stream)
        stream = stdout;
    // One lock per line keeps lines from different threads whole.
    std::lock_guard lock(g_writeMutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}
void writeQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray bytes = escapeControls(qFormatLogMessage(type, context, message)).toUtf8();
    std::lock_guard lock(g_writeMutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
} // namespace

QString escapeControls(const QString &line)
{
    const auto isControl = [](char16_t u) {
        return u < 0x20 || (u >= 0x7F && u < 0xA0) || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069)
            || u == 0x2028 || u == 0x2029 || u == 0x200E || u == 0x200F || u == 0x061C;
    };
    if (std::none_of(line.begin(), line.end(), [&](QChar c) { return isControl(c.unicode()); }))
        return line;
    QString escaped;
    escaped.reserve(line.size() + 8);
    for (const QChar c : line) {
        const char16_t u = c.unicode();
        if (!isControl(u))
            escaped += c;
        else if (u == u'\n')
            escaped += QLatin1String("\\n");
        else if (u == u'\t')
            escaped += QLatin1String("\\t");
        else if (u == u'\r')
            escaped += QLatin1String("\\r");
        else if (u < 0x100)
            escaped += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            escaped += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
    }
    return escaped;
}

bool verbose() { return g_verbose.load(std::memory_order_relaxed); }

void setVerbose(bool on) { g_verbose.store(on, std::memory_order_relaxed); }

void configureFromEnvironment(int argc, char **argv)
{
    qInstallMessageHandler(writeQtMessage);
    if (qEnvironmentVariable("PELLUX_VERBOSE") == QLatin1String("1"))
        setVerbose(true);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--verbose") == 0)
            setVerbose(true);
    }
}

void setStream(std::FILE *stream) { g_stream.store(stream); }

void debug(const QString &line)
{
    if (verbose())
        write(line);
}

void info(const QString &line) { write(line); }

void failure(const QString &line) { write(line); }

} // namespace pellux::log
