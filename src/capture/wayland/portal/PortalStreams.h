#pragma once

#include "capture/CaptureBackend.h"

#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <vector>

// The ScreenCast portal's answers as plain values, apart from D-Bus, so that they can be checked
// on their own.
namespace pellux::wayland::portal {

// One stream of a started screen-cast session: a monitor, as the portal describes it.
struct PortalStream {
    quint32 nodeID = 0; // the PipeWire node on the session's remote
    QString key; // stable across sessions where the portal gives an "id", else the node
    QPoint position;
    std::optional<QSize> size;

    friend bool operator==(const PortalStream &, const PortalStream &) = default;
};

// A D-Bus value with every nested QDBusArgument and QDBusVariant read out: structures and arrays
// become QVariantList, dictionaries QVariantMap, basic values stay as they are.
QVariant plainDBusValue(const QVariant &value);

// The "streams" entry (a(ua{sv})) of the Start response's results, already plain. A malformed
// entry fails the whole answer: a monitor that cannot be placed is better refused than guessed.
CaptureResult<std::vector<PortalStream>> parseStartStreams(const QVariantMap &results);

// One window per monitor stream, in the portal's order: "Screen 1", "Screen 2", ... owned by the
// application "Screen" (a generic Wayland desktop does not tell which application is in front).
// `windowIDFor` gives the stable id of a stream's key.
std::vector<WindowDescription> monitorWindows(
    const std::vector<PortalStream> &streams, const std::function<quint32(const QString &key)> &windowIDFor);

} // namespace pellux::wayland::portal
