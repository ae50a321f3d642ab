#include "capture/wayland/wlroots/SwayTree.h"

#include "capture/DesktopEntryIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace pellux::wayland::sway {

namespace {

// sway's own output that holds the scratchpad workspace.
constexpr QLatin1StringView scratchpadOutput("__i3");

QRect rectOf(const QJsonValue &value)
{
    const QJsonObject r = value.toObject();
    return QRect(r.value(QLatin1String("x")).toInt(), r.value(QLatin1String("y")).toInt(),
        r.value(QLatin1String("width")).toInt(), r.value(QLatin1String("height")).toInt());
}

std::optional<QString> stringOf(const QJsonObject &node, QLatin1StringView key)
{
    const QJsonValue value = node.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

struct Walker {
    Tree tree;
    int depthLimit = 256;

    void walk(const QJsonObject &node, const QString &output, int depth)
    {
        if (depth > depthLimit)
            return;
        const QString type = node.value(QLatin1String("type")).toString();
        QString currentOutput = output;
        if (type == QLatin1String("output")) {
            currentOutput = node.value(QLatin1String("name")).toString();
            if (currentOutput != scratchpadOutput) {
                tree.outputs.push_back(Output { currentOutput, rectOf(node.value(QLatin1String("rect"))),
                    node.value(QLatin1String("scale")).toDouble(1.0),
                    node.value(QLatin1String("transform")).toString(QStringLiteral("normal")) });
            } else {
                currentOutput.clear();
            }
        }
        // A view has a shell ("xdg_shell", "xwayland"); split containers do not.
        if ((type == QLatin1String("con") || type == QLatin1String("floating_con"))
            && node.contains(QLatin1String("shell")) && node.value(QLatin1String("id")).isDouble())
            tree.windows.push_back(windowOf(node, type, currentOutput));
        for (const QLatin1StringView key : { QLatin1StringView("nodes"), QLatin1StringView("floating_nodes") }) {
            for (const QJsonValue child : node.value(key).toArray()) {
                if (child.isObject())
                    walk(child.toObject(), currentOutput, depth + 1);
            }
        }
    }

    static Window windowOf(const QJsonObject &node, const QString &type, const QString &output)
    {
        Window w;
        w.id = qint64(node.value(QLatin1String("id")).toDouble());
        w.title = stringOf(node, QLatin1String("name"));
        const QJsonObject properties = node.value(QLatin1String("window_properties")).toObject();
        w.appId = stringOf(node, QLatin1String("app_id")).value_or(properties.value(QLatin1String("class")).toString());
        w.instance = properties.value(QLatin1String("instance")).toString();
        w.pid = qint64(node.value(QLatin1String("pid")).toDouble());
        const QRect rect = rectOf(node.value(QLatin1String("rect")));
        const QRect windowRect = rectOf(node.value(QLatin1String("window_rect")));
        // window_rect is the client area relative to rect; without one the whole rect is content.
        w.contentRect = windowRect.isEmpty() ? rect : windowRect.translated(rect.topLeft());
        w.focused = node.value(QLatin1String("focused")).toBool();
        w.visible = node.value(QLatin1String("visible")).toBool();
        w.fullscreen = node.value(QLatin1String("fullscreen_mode")).toInt() != 0;
        w.floating = type == QLatin1String("floating_con");
        w.outputName = output;
        w.foreignToplevelIdentifier = node.value(QLatin1String("foreign_toplevel_identifier")).toString();
        return w;
    }
};

} // namespace

CaptureResult<Tree> parseTree(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return CaptureError { QString::fromLatin1(captureFailureDomain),
            QStringLiteral("sway's window tree is not valid JSON: %1 at offset %2")
                .arg(error.errorString())
                .arg(error.offset) };
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(QLatin1String("type")).toString() != QLatin1String("root"))
        return CaptureError { QString::fromLatin1(captureFailureDomain),
            QStringLiteral("sway's window tree does not start at a root node") };
    Walker walker;
    walker.walk(root, QString(), 0);
    return std::move(walker.tree);
}

std::vector<Window> frontToBack(std::vector<Window> windows)
{
    // Floating windows are listed bottom to top: remember their order to put the top one first.
    std::vector<std::pair<int, Window>> ranked;
    ranked.reserve(windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        const Window &w = windows[i];
        int rank = 4;
        if (w.focused)
            rank = 0;
        else if (w.visible && w.fullscreen)
            rank = 1;
        else if (w.visible && w.floating)
            rank = 2;
        else if (w.visible)
            rank = 3;
        ranked.emplace_back(rank, std::move(windows[i]));
    }
    std::vector<size_t> order(ranked.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&ranked](size_t a, size_t b) {
        if (ranked[a].first != ranked[b].first)
            return ranked[a].first < ranked[b].first;
        // Among shown floating windows the later one is above.
        if (ranked[a].first == 2)
            return a > b;
        return false;
    });
    std::vector<Window> sorted;
    sorted.reserve(order.size());
    for (size_t i : order)
        sorted.push_back(std::move(ranked[i].second));
    return sorted;
}

const Output *outputOf(const Tree &tree, const Window &window)
{
    for (const Output &output : tree.outputs) {
        if (output.name == window.outputName)
            return &output;
    }
    return nullptr;
}

WindowDescription describe(const Window &window, quint32 windowID, const DesktopEntryIndex &desktopEntries)
{
    WindowDescription description;
    description.windowID = windowID;
    description.frame = QRectF(window.contentRect);
    description.isOnScreen = window.visible;
    description.title = window.title;
    if (!window.appId.isEmpty() || window.pid > 0) {
        // An app_id is usually the desktop entry's id; XWayland windows are matched as on X11.
        const QString instance = window.instance.isEmpty() ? window.appId : window.instance;
        description.owningApplication = RunningApplication { window.appId,
            desktopEntries.idForWindowClass(instance, window.appId).value_or(window.appId), window.pid };
    }
    return description;
}

} // namespace pellux::wayland::sway
