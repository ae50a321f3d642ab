#pragma once

#include <QByteArray>

#include <ctime>

namespace pellux::test {

// Local time in the named zone for the scope (e.g. "Europe/Berlin", whose days of 23 and 25 hours
// the date rules must survive); the zone before it comes back afterwards.
class LocalTimeZone {
public:
    explicit LocalTimeZone(const char *zone)
        : m_had(qEnvironmentVariableIsSet("TZ"))
        , m_old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalTimeZone()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }
    LocalTimeZone(const LocalTimeZone &) = delete;
    LocalTimeZone &operator=(const LocalTimeZone &) = delete;

private:
    bool m_had;
    QByteArray m_old;
};

} // namespace pellux::test
