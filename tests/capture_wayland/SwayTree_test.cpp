#include "capture/wayland/wlroots/SwayTree.h"

#include "support/TestFiles.h"

namespace pellux::wayland::sway {
namespace {

// Nodes shaped like sway 1.7's GET_TREE reply, reduced to the fields Pellux reads.
QJsonObject rect(int x, int y, int w, int h) { return { { "x", x }, { "y", y }, { "width", w }, { "height", h } }; }

QJsonObject view(int id, const char *title, const char *appId, QJsonObject r, bool visible, bool focused = false)
{
    return { { "id", id }, { "type", "con" }, { "name", title }, { "app_id", appId }, { "pid", 1000 + id },
        { "shell", "xdg_shell" }, { "rect", r },
        { "window_rect", rect(2, 0, r["width"].toInt() - 4, r["height"].toInt() - 2) },
        { "deco_rect", rect(r["x"].toInt(), 0, r["width"].toInt(), 25) }, { "visible", visible },
        { "focused", focused }, { "fullscreen_mode", 0 }, { "nodes", QJsonArray() },
        { "floating_nodes", QJsonArray() } };
}

QJsonObject with(QJsonObject node, const QJsonObject &fields)
{
    for (auto it = fields.begin(); it != fields.end(); ++it)
        node.insert(it.key(), it.value());
    return node;
}
QJsonObject without(QJsonObject node, const char *key)
{
    node.remove(QLatin1String(key));
    return node;
}
QJsonObject floating(const QJsonObject &node) { return with(node, { { "type", "floating_con" } }); }

QJsonObject container(int id, const char *type, QJsonArray nodes, QJsonArray floatingNodes = {})
{
    return { { "id", id }, { "type", type }, { "name", QJsonValue() }, { "rect", rect(0, 0, 1280, 800) },
        { "nodes", nodes }, { "floating_nodes", floatingNodes } };
}
QJsonObject workspace(QJsonArray nodes, QJsonArray floatingNodes = {})
{
    return container(4, "workspace", nodes, floatingNodes);
}

QJsonObject output(const char *name, QJsonArray workspaces, QJsonObject r = rect(0, 0, 1280, 800))
{
    return with(container(3, "output", workspaces),
        { { "name", name }, { "rect", r }, { "scale", 1.0 }, { "transform", "normal" } });
}

// sway's own output, which holds the scratchpad and is no output of the screen.
QJsonObject scratchpadOutput(QJsonArray floatingNodes = {})
{
    return with(without(output("__i3", { container(2147483646, "workspace", {}, floatingNodes) }), "scale"),
        { { "id", 2147483647 } });
}

QByteArray treeOf(QJsonArray outputs)
{
    return QJsonDocument(with(container(1, "root", outputs), { { "name", "root" } })).toJson(QJsonDocument::Compact);
}

// A window in one line: title, shown or hidden, output, content rectangle, "full" for fullscreen, and
// its application (and instance, when it has one).
QString describe(const Window &w)
{
    const QRect r = w.contentRect;
    return QStringLiteral("%1 %2 %3 %4,%5 %6x%7%8 %9%10")
        .arg(w.title.value_or(QStringLiteral("-")), QString::fromLatin1(w.visible ? "shown" : "hidden"), w.outputName)
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height())
        .arg(QString::fromLatin1(w.fullscreen ? " full" : ""), w.appId,
            w.instance.isEmpty() ? QString() : QLatin1Char('/') + w.instance);
}

TEST(SwayTree, ListsTheViewsFrontToBack)
{
    const QJsonObject xwayland = with(view(5, "xterm", nullptr, rect(0, 0, 1280, 800), true),
        { { "app_id", QJsonValue() }, { "shell", "xwayland" },
            { "window_properties", QJsonObject { { "class", "XTerm" }, { "instance", "xterm" } } } });
    const struct {
        const char *name;
        QByteArray json;
        QStringList windows; // front to back, as describe() puts them
    } cases[] = {
        // (Tiled windows side by side are the sway desktop test's.)
        // Floating windows are above the tiled ones, the later one on top.
        { "floating above tiled",
            treeOf({ output("HEADLESS-1",
                { workspace({ view(5, "Tiled", "a.t", rect(0, 0, 1280, 800), true) },
                    { floating(view(7, "Low float", "a.l", rect(100, 100, 400, 300), true)),
                        floating(view(8, "High float", "a.h", rect(200, 200, 400, 300), true)) }) }) }),
            { "High float shown HEADLESS-1 202,200 396x298 a.h", "Low float shown HEADLESS-1 102,100 396x298 a.l",
                "Tiled shown HEADLESS-1 2,0 1276x798 a.t" } },
        // A tab that is not selected, and a workspace that is not shown, hide their windows.
        { "tabbed and other workspace",
            treeOf({ output("HEADLESS-1",
                { workspace({ container(9, "con",
                      { view(5, "Shown tab", "a.s", rect(0, 25, 1280, 775), true, true),
                          view(6, "Other tab", "a.o", rect(0, 25, 1280, 775), false) }) }),
                    container(7, "workspace", { view(8, "Elsewhere", "a.e", rect(0, 0, 1280, 800), false) }) }) }),
            { "Shown tab shown HEADLESS-1 2,25 1276x773 a.s", "Other tab hidden HEADLESS-1 2,25 1276x773 a.o",
                "Elsewhere hidden HEADLESS-1 2,0 1276x798 a.e" } },
        { "scratchpad",
            treeOf({ scratchpadOutput({ floating(view(10, "Stashed", "a.x", rect(300, 200, 600, 400), false)) }),
                output("HEADLESS-1", { workspace({ view(5, "Main", "a.m", rect(0, 0, 1280, 800), true, true) }) }) }),
            { "Main shown HEADLESS-1 2,0 1276x798 a.m", "Stashed hidden  302,200 596x398 a.x" } },
        // A second output to the right: windows keep layout coordinates.
        { "two outputs",
            treeOf({ output("DP-1", { workspace({ view(5, "On DP-1", "a.1", rect(0, 0, 1280, 800), true) }) }),
                output("DP-2", { workspace({ view(13, "On DP-2", "a.2", rect(1280, 0, 1920, 1080), true, true) }) },
                    rect(1280, 0, 1920, 1080)) }),
            { "On DP-2 shown DP-2 1282,0 1916x1078 a.2", "On DP-1 shown DP-1 2,0 1276x798 a.1" } },
        // A fullscreen window is in front of the others on its workspace, floating ones too; hidden
        // windows keep the tree's order.
        { "fullscreen in front",
            treeOf({ output("HEADLESS-1",
                { workspace(
                    { view(5, "Tiled", "a.t", rect(0, 0, 640, 800), false),
                        with(view(6, "Full", "a.f", rect(0, 0, 1280, 800), true), { { "fullscreen_mode", 1 } }) },
                    { floating(view(7, "Float", "a.l", rect(100, 100, 400, 300), true)) }) }) }),
            { "Full shown HEADLESS-1 2,0 1276x798 full a.f", "Float shown HEADLESS-1 102,100 396x298 a.l",
                "Tiled hidden HEADLESS-1 2,0 636x798 a.t" } },
        // An XWayland window is named by its class.
        { "xwayland", treeOf({ output("HEADLESS-1", { workspace({ xwayland }) }) }),
            { "xterm shown HEADLESS-1 2,0 1276x798 XTerm/xterm" } },
        // Nodes of the wrong shape are passed over; the rest of the tree is still read.
        { "malformed nodes",
            treeOf({ output("HEADLESS-1",
                { with(workspace({ view(5, "Good", "a.g", rect(0, 0, 1280, 800), true),
                           without(view(6, "No id", "a.n", rect(0, 0, 10, 10), true), "id"),
                           with(view(7, "Bad rect", "a.b", rect(0, 0, 10, 10), true),
                               { { "rect", "wide" }, { "window_rect", 12 } }),
                           42, "x", with(view(8, "", "a.u", rect(0, 0, 10, 10), true), { { "name", QJsonValue() } }) }),
                    { { "floating_nodes", "none" } }) }) }),
            { "Good shown HEADLESS-1 2,0 1276x798 a.g", "Bad rect shown HEADLESS-1 0,0 0x0 a.b",
                "- shown HEADLESS-1 2,0 6x8 a.u" } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const CaptureResult<Tree> tree = parseTree(c.json);
        ASSERT_TRUE(tree.ok()) << tree.error().localizedDescription.toStdString();
        QStringList windows;
        for (const Window &w : frontToBack(tree.value().windows)) {
            windows << describe(w);
            EXPECT_GT(w.pid, 0);
        }
        EXPECT_EQ(windows.join(QLatin1Char('\n')).toStdString(), c.windows.join(QLatin1Char('\n')).toStdString());
        for (const Output &o : tree.value().outputs)
            EXPECT_NE(o.name, QStringLiteral("__i3"));
    }
}

// Replies that are not sway's tree are errors, never an empty list that looks complete.
TEST(SwayTree, RefusesWhatIsNotATree)
{
    for (const char *reply : { "", "{\"type\": \"root\", \"nodes\": [", "[1, 2, 3]", "{\"type\": \"output\"}",
             "\"root\"", "{\"success\": false, \"error\": \"unknown\"}" }) {
        SCOPED_TRACE(reply);
        const auto tree = parseTree(QByteArray(reply));
        ASSERT_FALSE(tree.ok());
        EXPECT_FALSE(tree.error().localizedDescription.isEmpty());
    }
}

} // namespace
} // namespace pellux::wayland::sway
