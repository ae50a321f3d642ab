#include "ui/TimelineUpdates.h"

#include "persistence/Timeline.h"
#include "storage/StorageManager.h"

#include <QDBusConnection>

#include <algorithm>
#include <cmath>
#include <utility>

namespace pellux {

TimelineUpdates::TimelineUpdates(StorageManager &storage, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_today(localDay(clock.now()))
{
    m_saves.setSingleShot(true);
    m_saves.setInterval(kSaveCoalescing);
    connect(&m_saves, &QTimer::timeout, this, &TimelineUpdates::capturesSaved);
    connect(&storage, &StorageManager::recordingsChanged, this, &TimelineUpdates::saved);

    // A coarse timer may fire hours early on a day-long interval.
    m_midnight.setSingleShot(true);
    m_midnight.setTimerType(Qt::PreciseTimer);
    connect(&m_midnight, &QTimer::timeout, this, &TimelineUpdates::checkToday);
    armForMidnight();
    // Timers stand still while the machine sleeps: logind says when it wakes. Without it the
    // midnight timer still comes, late by the time asleep.
    QDBusConnection::systemBus().connect(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void TimelineUpdates::setWindowShown(bool shown)
{
    m_shown = shown;
    if (!shown) {
        if (m_saves.isActive()) {
            m_saves.stop();
            m_savedWhileHidden = true;
        }
        return;
    }
    checkToday();
    if (std::exchange(m_savedWhileHidden, false))
        emit capturesSaved();
}

void TimelineUpdates::saved()
{
    if (!m_shown)
        m_savedWhileHidden = true;
    else if (!m_saves.isActive())
        m_saves.start();
}

void TimelineUpdates::prepareForSleep(bool starting)
{
    if (!starting)
        checkToday();
}

void TimelineUpdates::checkToday()
{
    const QDate today = localDay(m_clock.now());
    armForMidnight();
    if (today == m_today)
        return;
    m_today = today;
    emit todayChanged();
}

void TimelineUpdates::armForMidnight()
{
    const TimePoint now = m_clock.now();
    const double left = secondsSince1970(localDayStart(localDay(now).addDays(1))) - secondsSince1970(now);
    m_midnight.start(std::chrono::milliseconds(qint64(std::ceil(std::max(left, 0.0) * 1000.0))));
}

} // namespace pellux
