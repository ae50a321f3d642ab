#include "runtime/Log.h"

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
    const QByteArray bytes = line.toUtf8();
    std::FILE *stream = g_stream.load();
    if (!stream)
        stream = stdout;
    // One lock per line keeps lines from different threads whole.
    std::lock_guard lock(g_writeMutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}
} // namespace

bool verbose() { return g_verbose.load(std::memory_order_relaxed); }

void setVerbose(bool on) { g_verbose.store(on, std::memory_order_relaxed); }

void configureFromEnvironment(int argc, char **argv)
{
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
