#pragma once

#include "runtime/Clock.h"

#include <QObject>
#include <QPointF>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace pellux {

class ActivitySource;

// How busy the user is, from the last few seconds of keyboard and mouse input.
enum class ActivityLevel { idle, low, medium, high };

QString rawValue(ActivityLevel level);
// Seconds between screenshots at this level: Idle 30, Low 15, Medium 5, High 2.
double captureIntervalFor(ActivityLevel level);

// Counts the user's global input and turns it, once a second, into an activity level and a capture
// interval. Input is only counted, never recorded. Lives on the main thread; never stops.
//
// On Wayland no client sees the input of other windows: the source reports only presence (idled
// after a few seconds without input, resumed at the next input). There the levels come from
// presence and from how much the captured windows change:
//   idle:   no input for more than 60 seconds;
//   low:    no input for the last few seconds (reading, watching);
//   medium: input within the last few seconds;
//   high:   input within the last few seconds while captured windows change at every cycle
//           (typing, scrolling, working in a window).
class ActivityMonitor : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString currentActivityLevel READ currentActivityLevelText NOTIFY currentActivityLevelChanged)
    Q_PROPERTY(double captureInterval READ captureInterval NOTIFY captureIntervalChanged)

public:
    static constexpr double activityWindow = 5.0;
    static constexpr double idleInterval = 30.0;
    static constexpr double lowInterval = 15.0;
    static constexpr double mediumInterval = 5.0;
    static constexpr double highInterval = 2.0;

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static ActivityMonitor &shared();

    // Takes the input source (may be null: then no input is ever seen). Monitoring starts from the
    // event loop, shortly after construction.
    explicit ActivityMonitor(
        std::unique_ptr<ActivitySource> source, const Clock &clock = Clock::system(), QObject *parent = nullptr);
    ~ActivityMonitor() override;

    ActivityLevel currentActivityLevel() const { return m_currentActivityLevel; }
    QString currentActivityLevelText() const { return rawValue(m_currentActivityLevel); }
    double captureInterval() const { return m_captureInterval; }

    // One monitored input event, reduced to what is counted.
    struct Event {
        enum class Type { mouseDown, mouseMoved, keyDown, scrollWheel };
        Type type = Type::keyDown;
        QPointF position; // pointer position, for mouseMoved
        double deltaY = 0; // vertical scroll amount, for scrollWheel
    };

    // Counts one input event; the source's signals arrive here.
    void handleEvent(const Event &event);
    // Re-evaluates the level; the once-a-second timer calls it.
    void updateActivityLevel();

    // Presence from a source that cannot see input events; its signals arrive here.
    void userIdled();
    void userResumed();
    // A capture cycle found this many windows changed since their last stored frame. Only sources
    // that report presence alone use it.
    void noteWindowsChanged(int changedWindows);
    bool reportsPresenceOnly() const { return m_presenceOnly; }

    bool isMonitoring() const { return m_activityCheckTimer.isActive(); }

signals:
    void currentActivityLevelChanged();
    void captureIntervalChanged();
    // The level changed at the last evaluation; `interval` is the new level's capture interval.
    void activityLevelChanged(pellux::ActivityLevel previous, pellux::ActivityLevel current, double interval);

private:
    void startMonitoring();
    ActivityLevel presenceLevel(TimePoint now, double idleTime) const;

    const Clock &m_clock;
    ActivityLevel m_currentActivityLevel = ActivityLevel::idle;
    double m_captureInterval = 5.0;
    std::unique_ptr<ActivitySource> m_eventMonitor;
    TimePoint m_lastActivityTime;
    QTimer m_activityCheckTimer;
    QPointF m_mousePosition { 0, 0 };
    TimePoint m_lastMouseCheckTime;
    int m_recentKeyPresses = 0;
    int m_recentMouseMoves = 0;
    int m_recentClicks = 0;
    std::vector<TimePoint> m_activityTimestamps;
    bool m_presenceOnly = false;
    bool m_userPresent = true;
    std::optional<TimePoint> m_lastWindowChange;
};

} // namespace pellux
