#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

namespace pellux {

// The icons of the user interface, by the symbol names the views use ("mail.and.text.magnifyingglass",
// "trash", ...), mapped to freedesktop icon names of the current theme, with the bundled Breeze or
// Adwaita theme as fallback. A name without an entry gives a null icon.
QIcon symbolIcon(const QString &symbolName);

// The icon drawn in one colour (the tray icon turns green while capturing).
QIcon tintedIcon(const QIcon &icon, const QColor &color, int size = 22);

// The symbol rendered at `size` (square icons are centred in it), every opaque pixel in `tint`
// when one is given. Null for a symbol without an entry or without an installed icon. Safe from
// any thread: icon lookups and rendering are serialised.
QImage symbolImage(const QString &symbolName, QSize size, std::optional<QColor> tint = std::nullopt);

// Every symbol name the mapping table knows.
QStringList knownSymbolNames();

// Makes the installed icon folders and the Breeze/Adwaita fallback known to QIcon::fromTheme
// (without a desktop session, or on the offscreen platform, Qt may know none).
void ensureIconThemeFallback();
// Held around QIcon theme lookups and rendering made off the GUI thread.
std::mutex &iconThemeMutex();

} // namespace pellux
