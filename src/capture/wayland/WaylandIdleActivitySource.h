#pragma once

#include "capture/ActivitySource.h"
#include "capture/wayland/WaylandConnection.h"

#include <memory>

struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;
struct org_kde_kwin_idle;
struct org_kde_kwin_idle_timeout;

namespace pellux::wayland {

// Presence on a Wayland desktop: the compositor tells, on a connection of Pellux's own, when the
// seat has had no input for `presenceTimeout_ms` (`idled()`) and when input comes back
// (`resumed()`). Speaks ext-idle-notify-v1 where the compositor offers it (KWin 5.27, newer
// wlroots) and otherwise KDE's older org_kde_kwin_idle (sway 1.7). Sees no input events itself.
class WaylandIdleActivitySource final : public ActivitySource {
    Q_OBJECT
public:
    // An empty display name means $WAYLAND_DISPLAY.
    explicit WaylandIdleActivitySource(QString displayName = {}, QObject *parent = nullptr);
    ~WaylandIdleActivitySource() override;

    bool start() override;
    bool reportsInputEvents() const override { return false; }
    bool isRunning() const { return m_connection != nullptr; }

private:
    void stop(const QString &reason);
    void setIdle(bool idle);

    QString m_displayName;
    // Declared first so that it is destroyed last, after the objects made on it.
    std::unique_ptr<WaylandConnection> m_connection;
    struct Objects;
    std::unique_ptr<Objects> m_objects;
    bool m_idle = false;
};

} // namespace pellux::wayland
