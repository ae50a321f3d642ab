#pragma once

#include "support/XvfbSession.h"

#include <benchmark/benchmark.h>

namespace pellux::bench {

// An xterm listing /usr/bin, resized to 1920x1080, on the benchmark's private Xvfb: the X11 side
// of every single-window capture figure. 0 (and the benchmark skipped, saying why) without one.
inline quint32 fullScreenXterm(benchmark::State &state, test::XvfbSession &session)
{
    const quint32 window
        = session.isRunning() ? session.launchXterm(QStringLiteral("bench"), QStringLiteral("ls -l")) : 0;
    if (!window) {
        state.SkipWithError(qPrintable(QStringLiteral("no X session: ") + session.errorString()));
        return 0;
    }
    session.run({ QStringLiteral("xdotool"), QStringLiteral("windowsize"), QString::number(window),
        QStringLiteral("1920"), QStringLiteral("1080") });
    test::runEventsUntil([] { return false; }, 500);
    return window;
}

} // namespace pellux::bench
