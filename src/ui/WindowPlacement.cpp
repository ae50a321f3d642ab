#include "ui/WindowPlacement.h"

#include <algorithm>

namespace pellux {

namespace {

qint64 overlap(const QRect &a, const QRect &b)
{
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

} // namespace

QRect placeWindow(const QRect &saved, const QList<QRect> &screens, QSize minimum)
{
    if (!saved.isValid() || screens.isEmpty())
        return {};
    const auto best = std::max_element(screens.begin(), screens.end(),
        [&](const QRect &a, const QRect &b) { return overlap(saved, a) < overlap(saved, b); });
    const QRect screen = overlap(saved, *best) > 0 ? *best : screens.first();
    const QSize size(std::max(minimum.width(), std::min(saved.width(), screen.width())),
        std::max(minimum.height(), std::min(saved.height(), screen.height())));
    // Too large for the screen even at its minimum: its top-left corner stays reachable.
    const int x = std::max(screen.left(), std::min(saved.x(), screen.right() + 1 - size.width()));
    const int y = std::max(screen.top(), std::min(saved.y(), screen.bottom() + 1 - size.height()));
    return { QPoint(x, y), size };
}

} // namespace pellux
