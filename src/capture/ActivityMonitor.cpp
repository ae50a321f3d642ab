#include "capture/ActivityMonitor.h"

#include "capture/ActivitySource.h"
#include "capture/CaptureBackendLoader.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"
#include "runtime/SharedInstance.h"

#include <algorithm>
#include <cmath>

namespace pellux {

namespace {
constexpr double kIdleAfterSeconds = 60.0;
constexpr double kMinimumMoveDistance = 5.0;
constexpr double kMinimumScrollDelta = 1.0;
constexpr int kCheckIntervalMs = 1000;

double secondsBetween(TimePoint from, TimePoint to) { return (to - from).count(); }

// Default Double text form: always at least one decimal, like "2.0" or "15.0".
QString intervalText(double seconds)
{
    QString text = QString::number(seconds, 'g', 15);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QLatin1String(".0");
    return text;
}
} // namespace

QString rawValue(ActivityLevel level)
{
    switch (level) {
    case ActivityLevel::idle:
        return QStringLiteral("Idle");
    case ActivityLevel::low:
        return QStringLiteral("Low");
    case ActivityLevel::medium:
        return QStringLiteral("Medium");
    case ActivityLevel::high:
        return QStringLiteral("High");
    }
    return QStringLiteral("Idle");
}

double captureIntervalFor(ActivityLevel level)
{
    switch (level) {
    case ActivityLevel::idle:
        return ActivityMonitor::idleInterval;
    case ActivityLevel::low:
        return ActivityMonitor::lowInterval;
    case ActivityLevel::medium:
        return ActivityMonitor::mediumInterval;
    case ActivityLevel::high:
        return ActivityMonitor::highInterval;
    }
    return ActivityMonitor::idleInterval;
}

ActivityMonitor &ActivityMonitor::shared() { return SharedInstance<ActivityMonitor>::get("ActivityMonitor"); }

ActivityMonitor::ActivityMonitor(std::unique_ptr<ActivitySource> source, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_eventMonitor(std::move(source))
    , m_lastActivityTime(clock.now())
    , m_lastMouseCheckTime(m_lastActivityTime)
{
    m_activityCheckTimer.setInterval(kCheckIntervalMs);
    postTo(this, [this] { startMonitoring(); });
}

ActivityMonitor::~ActivityMonitor() = default;

void ActivityMonitor::startMonitoring()
{
    if (m_eventMonitor) {
        ActivitySource *source = m_eventMonitor.get();
        connect(source, &ActivitySource::keyPressed, this, [this] { handleEvent({ Event::Type::keyDown }); });
        connect(source, &ActivitySource::clicked, this, [this] { handleEvent({ Event::Type::mouseDown }); });
        connect(source, &ActivitySource::scrolled, this, [this](double deltaY) {
            handleEvent({ Event::Type::scrollWheel, {}, deltaY });
        });
        connect(source, &ActivitySource::mouseMoved, this, [this](QPointF position) {
            handleEvent({ Event::Type::mouseMoved, position });
        });
        m_presenceOnly = !source->reportsInputEvents();
        connect(source, &ActivitySource::idled, this, &ActivityMonitor::userIdled);
        connect(source, &ActivitySource::resumed, this, &ActivityMonitor::userResumed);
        // The source logs why when it cannot watch input; the level then follows the timer alone.
        source->start();
    }
    connect(&m_activityCheckTimer, &QTimer::timeout, this, &ActivityMonitor::updateActivityLevel, Qt::UniqueConnection);
    m_activityCheckTimer.start();
}

void ActivityMonitor::handleEvent(const Event &event)
{
    const TimePoint now = m_clock.now();
    m_lastActivityTime = now;
    m_activityTimestamps.push_back(now);
    const TimePoint cutoff = now - Seconds(activityWindow);
    std::erase_if(m_activityTimestamps, [cutoff](TimePoint t) { return t < cutoff; });

    switch (event.type) {
    case Event::Type::mouseDown:
        ++m_recentClicks;
        break;
    case Event::Type::keyDown:
        ++m_recentKeyPresses;
        break;
    case Event::Type::mouseMoved: {
        const QPointF delta = event.position - m_mousePosition;
        if (std::hypot(delta.x(), delta.y()) > kMinimumMoveDistance) {
            ++m_recentMouseMoves;
            m_mousePosition = event.position;
        }
        break;
    }
    case Event::Type::scrollWheel:
        if (std::abs(event.deltaY) > kMinimumScrollDelta)
            ++m_recentMouseMoves;
        break;
    }
}

void ActivityMonitor::userIdled()
{
    m_presenceOnly = true;
    if (!m_userPresent)
        return;
    m_userPresent = false;
    // The last input was one presence timeout ago.
    m_lastActivityTime = m_clock.now() - Seconds(ActivitySource::presenceTimeout_ms / 1000.0);
}

void ActivityMonitor::userResumed()
{
    m_presenceOnly = true;
    m_userPresent = true;
    m_lastActivityTime = m_clock.now();
}

void ActivityMonitor::noteWindowsChanged(int changedWindows)
{
    if (changedWindows > 0)
        m_lastWindowChange = m_clock.now();
}

ActivityLevel ActivityMonitor::presenceLevel(TimePoint now, double idleTime) const
{
    if (idleTime > kIdleAfterSeconds)
        return ActivityLevel::idle;
    if (!m_userPresent)
        return ActivityLevel::low;
    // A change seen by the last cycle or the one before it: the user is working in a window.
    const double changeWindow = m_captureInterval + activityWindow;
    if (m_lastWindowChange && secondsBetween(*m_lastWindowChange, now) <= changeWindow)
        return ActivityLevel::high;
    return ActivityLevel::medium;
}

void ActivityMonitor::updateActivityLevel()
{
    const TimePoint now = m_clock.now();
    if (m_presenceOnly && m_userPresent)
        m_lastActivityTime = now;
    const double idleTime = secondsBetween(m_lastActivityTime, now);
    const TimePoint windowStart = now - Seconds(activityWindow);
    const auto recentCount = std::count_if(m_activityTimestamps.begin(), m_activityTimestamps.end(),
        [windowStart](TimePoint t) { return t > windowStart; });

    if (secondsBetween(m_lastMouseCheckTime, now) > activityWindow) {
        m_recentKeyPresses = 0;
        m_recentMouseMoves = 0;
        m_recentClicks = 0;
        m_lastMouseCheckTime = now;
    }

    const ActivityLevel previousLevel = m_currentActivityLevel;
    ActivityLevel level;
    if (m_presenceOnly)
        level = presenceLevel(now, idleTime);
    else if (idleTime > kIdleAfterSeconds)
        level = ActivityLevel::idle;
    else if (recentCount > 20 || m_recentKeyPresses > 10)
        level = ActivityLevel::high;
    else if (recentCount <= 10 && m_recentKeyPresses <= 5)
        level = recentCount >= 3 ? ActivityLevel::low : ActivityLevel::idle;
    else
        level = ActivityLevel::medium;

    m_currentActivityLevel = level;
    m_captureInterval = captureIntervalFor(level);
    emit currentActivityLevelChanged();
    emit captureIntervalChanged();

    if (level != previousLevel) {
        log::info(QStringLiteral("Activity level changed: %1 \u2192 %2").arg(rawValue(previousLevel), rawValue(level)));
        log::info(QStringLiteral("Capture interval: %1 seconds").arg(intervalText(m_captureInterval)));
        emit activityLevelChanged(previousLevel, level, m_captureInterval);
    }
}

} // namespace pellux
