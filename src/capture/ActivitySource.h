#pragma once

#include <QObject>
#include <QPointF>

namespace pellux {

// The user's keyboard and mouse activity across the whole session, as bare events: the source
// reports that something happened and, for pointer moves, where the pointer now is. Nothing here
// carries a key code, and nothing is kept. Signals are emitted on the main thread.
class ActivitySource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ActivitySource() override = default;

    // Begins watching. False (with a log line) when the session offers no way to watch input.
    virtual bool start() = 0;

    // On Wayland no client sees other windows' input: such a source reports only presence,
    // `idled()` once the user has left keyboard and pointer alone for `presenceTimeout_ms` and
    // `resumed()` at the next input, never the events below.
    static constexpr int presenceTimeout_ms = 5000;
    virtual bool reportsInputEvents() const { return true; }

signals:
    void keyPressed();
    // A left or right button press.
    void clicked();
    // A wheel step; `deltaY` is the vertical amount in lines (a wheel notch is 3 lines, positive
    // upwards; 0 for a horizontal step).
    void scrolled(double deltaY);
    // The pointer moved; `position` is its new place in screen coordinates.
    void mouseMoved(QPointF position);

    // Presence, from sources that cannot see input events.
    void idled();
    void resumed();
};

} // namespace pellux
