#pragma once

#include <QByteArray>
#include <QString>

namespace pellux {

// Starting Pellux with the desktop session: the XDG autostart entry pellux.desktop in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart), which runs `pellux --background`. Small file
// work on the calling thread: call it from a worker, not the GUI thread.

// Where the entry lives.
QString autostartEntryPath();
// The entry Pellux writes (the same as data/autostart/pellux.desktop).
QByteArray autostartEntry();

// True when the entry exists and is not switched off (Hidden=true or
// X-GNOME-Autostart-enabled=false, as a desktop's own settings may leave it).
bool isAutostartEnabled();
// Writes the entry (0600, replaced whole) or removes it. False, with a log line, when that fails;
// removing an entry that does not exist succeeds.
bool setAutostartEnabled(bool enabled);

} // namespace pellux
