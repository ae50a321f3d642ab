#pragma once

#include <QList>
#include <QRect>
#include <QSize>

namespace pellux {

// Where a window last shown at `saved` opens now, among the screens there are (their available
// areas, the primary one first): on the screen it overlapped most, else on the primary one (a
// monitor unplugged since), shrunk to fit that screen but never below `minimum`, and moved wholly
// onto it. An invalid `saved` (none kept) gives an invalid rectangle: the window's own default.
QRect placeWindow(const QRect &saved, const QList<QRect> &screens, QSize minimum);

} // namespace pellux
