#pragma once

#include <QObject>

namespace pellux::wayland {

// Wakes a coroutine that waits (with a time limit) for any of several things: whoever makes
// progress emits woke(), and the waiter looks at what changed.
class Waker final : public QObject {
    Q_OBJECT
signals:
    void woke();
};

} // namespace pellux::wayland
