#pragma once

#include "capture/ActivitySource.h"

#include <QDBusConnection>

namespace pellux::wayland {

// Presence on GNOME from Mutter's idle monitor (org.gnome.Mutter.IdleMonitor, the core monitor of
// the whole session): an idle watch fires after `presenceTimeout_ms` without input and a
// user-active watch at the next input. Mutter removes a user-active watch once it fired, so each
// watch is armed again after it fires.
class MutterIdleMonitor final : public ActivitySource {
    Q_OBJECT
public:
    explicit MutterIdleMonitor(QDBusConnection bus, QObject *parent = nullptr);
    ~MutterIdleMonitor() override;

    bool start() override;
    bool reportsInputEvents() const override { return false; }

private slots:
    void onWatchFired(uint id);
    void onMonitorOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    // Adds a watch and answers its id, or 0 (with a log line) when Mutter refused.
    uint addWatch(const QString &method, const QVariantList &arguments);
    void removeWatch(uint &id);
    bool armWatches();

    QDBusConnection m_bus;
    uint m_idleWatch = 0;
    uint m_activeWatch = 0;
    bool m_idle = false;
    bool m_started = false;
};

} // namespace pellux::wayland
