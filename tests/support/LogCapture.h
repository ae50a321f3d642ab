#pragma once

#include "runtime/Log.h"

#include <QRegularExpression>

namespace pellux::test {

// Collects the component log lines in a temporary file for the lifetime of the object, with the
// "DEBUG ..." lines switched on unless asked otherwise; restores standard output and the previous
// verbosity afterwards.
class LogCapture {
public:
    enum class Verbosity { verbose, quiet };

    explicit LogCapture(Verbosity verbosity = Verbosity::verbose)
        : m_file(std::tmpfile())
        , m_wasVerbose(log::verbose())
    {
        log::setVerbose(verbosity == Verbosity::verbose);
        log::setStream(m_file);
    }
    ~LogCapture()
    {
        log::setStream(nullptr);
        log::setVerbose(m_wasVerbose);
        std::fclose(m_file);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Everything written so far.
    QString text() const
    {
        std::fflush(m_file);
        const long end = std::ftell(m_file);
        QByteArray bytes(end, '\0');
        std::rewind(m_file);
        const size_t read = std::fread(bytes.data(), 1, static_cast<size_t>(end), m_file);
        bytes.truncate(static_cast<qsizetype>(read));
        std::fseek(m_file, 0, SEEK_END);
        return QString::fromUtf8(bytes);
    }
    QStringList lines() const { return text().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // The lines that start with the prefix, in order.
    QStringList linesStartingWith(const QString &prefix) const
    {
        return lines().filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)));
    }
    bool contains(const QString &line) const { return lines().contains(line); }
    // Forgets what was collected so far.
    void clear()
    {
        std::FILE *old = m_file;
        m_file = std::tmpfile();
        log::setStream(m_file);
        std::fclose(old);
    }

private:
    std::FILE *m_file;
    bool m_wasVerbose;
};

} // namespace pellux::test
