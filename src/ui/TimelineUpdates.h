#pragma once

#include "runtime/Clock.h"

#include <QDate>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace pellux {

class StorageManager;

// Tells the search window's models when what they show went out of date while the window is open:
// screenshots were saved (one notice for a burst, at most one a second), or the local date
// changed (at local midnight as the clock tells it, and when the machine resumes from suspend,
// during which timers stand still). While the window is hidden saves are only noted: one notice
// comes when it is shown again. Main thread.
class TimelineUpdates : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kSaveCoalescing { 1000 };

    TimelineUpdates(StorageManager &storage, const Clock &clock, QObject *parent = nullptr);

    void setWindowShown(bool shown);

signals:
    void capturesSaved();
    void todayChanged();

private slots:
    // logind's notice around a suspend; `starting` is false once the machine is back.
    void prepareForSleep(bool starting);

private:
    void saved();
    void checkToday();
    void armForMidnight();

    const Clock &m_clock;
    // The local date as of the last check.
    QDate m_today;
    QTimer m_saves;
    QTimer m_midnight;
    bool m_shown = true;
    bool m_savedWhileHidden = false;
};

} // namespace pellux
