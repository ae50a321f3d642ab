#pragma once

#include "capture/ActivitySource.h"
#include "capture/x11/Xcb.h"

#include <memory>

class QSocketNotifier;

namespace pellux {

// Session-wide input activity from XInput2 raw events on the root window, read on its own X
// connection from the main thread's event loop: raw key presses, raw button presses (1 and 3 are
// clicks, 4 and 5 wheel steps) and raw motion, after which the pointer position is asked once per
// batch of events. Key codes and raw values are never looked at.
class XInputActivitySource final : public ActivitySource {
    Q_OBJECT
public:
    // An empty display name means $DISPLAY.
    explicit XInputActivitySource(QString displayName = {}, QObject *parent = nullptr);
    ~XInputActivitySource() override;

    bool start() override;
    bool isRunning() const;

private:
    void readEvents();
    void handle(const xcb_generic_event_t *event, bool &moved);
    void emitPointerPosition();
    void stop(const QString &reason);

    QString m_displayName;
    std::unique_ptr<xcb::Connection> m_connection;
    QSocketNotifier *m_notifier = nullptr;
    uint8_t m_opcode = 0;
};

} // namespace pellux
