#pragma once

#include "capture/CaptureBackend.h"
#include "capture/DesktopEntryIndex.h"

#include <QByteArray>
#include <QHash>
#include <QRect>

#include <optional>
#include <vector>

// The window list of Pellux's GNOME Shell extension (data/gnome-shell/windows.js), read and turned
// into the capture service's descriptions: plain functions and data, tested without a shell.
namespace pellux::wayland {

// The version of the list this build reads; the extension states the version it writes.
inline constexpr int shellWindowListVersion = 1;

// One window as the extension lists it. `frame` is the window's outer rectangle, `buffer` the
// rectangle of its pixels (the client area a screen cast delivers), both in the stage's
// coordinates.
struct ShellWindow {
    quint64 id = 0; // MetaWindow's id
    int stacking = 0; // 0 for the frontmost
    bool dialog = false;
    QString title;
    QString wmClass;
    QString gtkApplicationId;
    QString sandboxedAppId;
    QString desktopEntry; // the shell's application id ("org.gnome.TextEditor.desktop"), or empty
    qint64 pid = 0;
    QRect frame;
    QRect buffer;
    bool hasFocus = false;
    bool minimized = false;
    bool onCurrentWorkspace = false;

    friend bool operator==(const ShellWindow &, const ShellWindow &) = default;
};

// The windows of the extension's answer, front to back. An error naming the problem when the answer
// is not JSON, is of another version, or a window lacks a field or has one of the wrong kind.
// Windows the capture service never lists (anything but normal windows and dialogs) are dropped.
CaptureResult<std::vector<ShellWindow>> parseShellWindowList(const QByteArray &json);

// Gives each shell window (a 64-bit id) a 32-bit id that stays the same while the window exists;
// ids are never reused while this table lives.
class WindowIdTable {
public:
    quint32 idFor(quint64 shellId);
    std::optional<quint64> shellIdFor(quint32 windowID) const;
    // Forgets the windows that are no longer listed.
    void keepOnly(const std::vector<ShellWindow> &windows);
    size_t size() const { return m_toWindow.size(); }

private:
    QHash<quint64, quint32> m_toWindow;
    QHash<quint32, quint64> m_toShell;
    quint32 m_next = 1;
};

// The owner of a window: named by its WM class (the Wayland app id), identified by the shell's
// desktop entry, else the sandbox's or GTK's application id, else the entry matching its class,
// else the class itself.
std::optional<RunningApplication> owningApplicationFor(const ShellWindow &window, const DesktopEntryIndex &entries);

// The capture service's view of the listed windows, front to back, with their 32-bit ids from
// `ids`. A window is on screen unless it is minimised or on another workspace; covered windows count
// as on screen, as they do on X11.
ShareableContent describeShellWindows(const std::vector<ShellWindow> &windows, WindowIdTable &ids,
    const DesktopEntryIndex &entries, bool onScreenWindowsOnly);

} // namespace pellux::wayland
