#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace pellux {

// The icons of the user interface, by the symbol names the views use ("mail.and.text.magnifyingglass",
// "trash", ...), mapped to freedesktop icon names of the current theme, with the bundled Breeze or
// Adwaita theme as fallback. A name without an entry gives a null icon.
QIcon symbolIcon(const QString &symbolName);

// The icon drawn in one colour (the tray icon turns green while capturing).
QIcon tintedIcon(const QIcon &icon, const QColor &color, int size = 22);

} // namespace pellux
