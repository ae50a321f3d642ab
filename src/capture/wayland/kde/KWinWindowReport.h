#pragma once

#include "capture/CaptureBackend.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace pellux::kwin {

// KWin names windows by a uuid; the capture service wants a number that stays the same while the
// window exists. Numbers are handed out in order and never reused, so a window that closes and
// a new one never share a number.
class WindowIdTable {
public:
    quint32 idFor(const QString &uuid);
    std::optional<QString> uuidFor(quint32 windowID) const;
    // Forgets every window not in `uuids` (those that have closed).
    void keepOnly(const QSet<QString> &uuids);
    qsizetype size() const { return m_ids.size(); }

private:
    QHash<QString, quint32> m_ids;
    QHash<quint32, QString> m_uuids;
    quint32 m_next = 1;
};

// The desktop-entry id of an application named by a window's instance and class (see
// DesktopEntryIndex::idForWindowClass); absent when no entry matches.
using DesktopEntryLookup = std::function<std::optional<QString>(const QString &instance, const QString &windowClass)>;

// Turns the JSON the window-list script reports (see KWinWindowScript.h) into the content the capture
// service sees: application windows front to back (highest stacking order first), without desktops,
// panels, menus, tooltips, notifications, on-screen displays and splash screens. A window is on
// screen unless it is minimised, hidden, on another virtual desktop or outside the screen. Ids come
// from `ids`, which then holds only the listed windows. Malformed JSON, a report of the script's own
// failure or a window without its uuid is an error and leaves `ids` as it was. `clientSizes`, when
// given, receives the size of each listed window's client area (what KWin's window streams carry)
// where the report states it.
CaptureResult<ShareableContent> parseWindowReport(const QByteArray &json, WindowIdTable &ids,
    const DesktopEntryLookup &desktopEntryFor, QHash<quint32, QSize> *clientSizes = nullptr);

} // namespace pellux::kwin
