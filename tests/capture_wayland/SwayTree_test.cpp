#include "capture/wayland/wlroots/SwayTree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace pellux::wayland::sway {
namespace {

// Nodes shaped like sway 1.7's GET_TREE reply, reduced to the fields Pellux reads.
QJsonObject rect(int x, int y, int w, int h)
{
    return QJsonObject { { "x", x }, { "y", y }, { "width", w }, { "height", h } };
}

QJsonObject view(int id, const char *title, const char *appId, QJsonObject r, bool visible, bool focused = false)
{
    return QJsonObject { { "id", id }, { "type", "con" }, { "name", title }, { "app_id", appId }, { "pid", 1000 + id },
        { "shell", "xdg_shell" }, { "rect", r },
        { "window_rect", rect(2, 0, r["width"].toInt() - 4, r["height"].toInt() - 2) },
        { "deco_rect", rect(r["x"].toInt(), 0, r["width"].toInt(), 25) }, { "visible", visible },
        { "focused", focused }, { "fullscreen_mode", 0 }, { "nodes", QJsonArray() },
        { "floating_nodes", QJsonArray() } };
}

QJsonObject floating(QJsonObject node)
{
    node["type"] = "floating_con";
    return node;
}

QJsonObject container(int id, const char *type, QJsonArray nodes, QJsonArray floatingNodes = {})
{
    return QJsonObject { { "id", id }, { "type", type }, { "name", QJsonValue() }, { "rect", rect(0, 0, 1280, 800) },
        { "nodes", nodes }, { "floating_nodes", floatingNodes } };
}

QJsonObject output(int id, const char *name, QJsonArray workspaces, QJsonObject r = rect(0, 0, 1280, 800))
{
    QJsonObject o = container(id, "output", workspaces);
    o["name"] = name;
    o["rect"] = r;
    o["scale"] = 1.0;
    o["transform"] = "normal";
    return o;
}

QJsonObject scratchpadOutput(QJsonArray floatingNodes = {})
{
    QJsonObject o
        = output(2147483647, "__i3", QJsonArray { container(2147483646, "workspace", QJsonArray(), floatingNodes) });
    o.remove("scale");
    return o;
}

QByteArray treeOf(QJsonArray outputs)
{
    QJsonObject root = container(1, "root", outputs);
    root["name"] = "root";
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

struct TreeCase {
    const char *name;
    QByteArray json;
    QStringList windows; // front to back, as describe() puts them
};

// A window in one line: title, shown or hidden, output, content rectangle, and "full" for fullscreen.
QString describe(const Window &w)
{
    const QRect r = w.contentRect;
    return QStringLiteral("%1 %2 %3 %4,%5 %6x%7%8")
        .arg(w.title.value_or(QStringLiteral("-")), QString::fromLatin1(w.visible ? "shown" : "hidden"), w.outputName)
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height())
        .arg(QString::fromLatin1(w.fullscreen ? " full" : ""));
}

QJsonObject fullscreen(QJsonObject node)
{
    node["fullscreen_mode"] = 1;
    return node;
}

std::vector<TreeCase> treeCases()
{
    return {
        { "tiled_side_by_side",
            treeOf({ scratchpadOutput(),
                output(3, "HEADLESS-1",
                    { container(4, "workspace",
                        { view(5, "Left", "a.left", rect(0, 25, 640, 775), true),
                            view(6, "Right", "a.right", rect(640, 25, 640, 775), true, true) }) }) }),
            { "Right shown HEADLESS-1 642,25 636x773", "Left shown HEADLESS-1 2,25 636x773" } },
        // Floating windows are above the tiled ones, the later one on top.
        { "floating_above_tiled",
            treeOf({ output(3, "HEADLESS-1",
                { container(4, "workspace", { view(5, "Tiled", "a.t", rect(0, 0, 1280, 800), true) },
                    { floating(view(7, "Low float", "a.l", rect(100, 100, 400, 300), true)),
                        floating(view(8, "High float", "a.h", rect(200, 200, 400, 300), true)) }) }) }),
            { "High float shown HEADLESS-1 202,200 396x298", "Low float shown HEADLESS-1 102,100 396x298",
                "Tiled shown HEADLESS-1 2,0 1276x798" } },
        // A tab that is not selected, and a workspace that is not shown, hide their windows.
        { "tabbed_and_other_workspace",
            treeOf({ output(3, "HEADLESS-1",
                { container(4, "workspace",
                      { container(9, "con",
                          { view(5, "Shown tab", "a.s", rect(0, 25, 1280, 775), true, true),
                              view(6, "Other tab", "a.o", rect(0, 25, 1280, 775), false) }) }),
                    container(7, "workspace", { view(8, "Elsewhere", "a.e", rect(0, 0, 1280, 800), false) }) }) }),
            { "Shown tab shown HEADLESS-1 2,25 1276x773", "Other tab hidden HEADLESS-1 2,25 1276x773",
                "Elsewhere hidden HEADLESS-1 2,0 1276x798" } },
        // The scratchpad belongs to sway's own output, which is no output of the screen.
        { "scratchpad",
            treeOf({ scratchpadOutput({ floating(view(10, "Stashed", "a.x", rect(300, 200, 600, 400), false)) }),
                output(3, "HEADLESS-1",
                    { container(4, "workspace", { view(5, "Main", "a.m", rect(0, 0, 1280, 800), true, true) }) }) }),
            { "Main shown HEADLESS-1 2,0 1276x798", "Stashed hidden  302,200 596x398" } },
        // A second output to the right: windows keep layout coordinates.
        { "two_outputs",
            treeOf({ output(3, "DP-1",
                         { container(4, "workspace", { view(5, "On DP-1", "a.1", rect(0, 0, 1280, 800), true) }) }),
                output(11, "DP-2",
                    { container(
                        12, "workspace", { view(13, "On DP-2", "a.2", rect(1280, 0, 1920, 1080), true, true) }) },
                    rect(1280, 0, 1920, 1080)) }),
            { "On DP-2 shown DP-2 1282,0 1916x1078", "On DP-1 shown DP-1 2,0 1276x798" } },
        // A fullscreen window is in front of the others on its workspace, floating ones too; hidden
        // windows keep the tree's order.
        { "fullscreen_in_front",
            treeOf({ output(3, "HEADLESS-1",
                { container(4, "workspace",
                    { view(5, "Tiled", "a.t", rect(0, 0, 640, 800), false),
                        fullscreen(view(6, "Full", "a.f", rect(0, 0, 1280, 800), true)) },
                    { floating(view(7, "Float", "a.l", rect(100, 100, 400, 300), false)) }) }) }),
            { "Full shown HEADLESS-1 2,0 1276x798 full", "Tiled hidden HEADLESS-1 2,0 636x798",
                "Float hidden HEADLESS-1 102,100 396x298" } },
    };
}

class SwayTreeTest : public ::testing::TestWithParam<TreeCase> { };

TEST_P(SwayTreeTest, ListsTheViewsFrontToBack)
{
    const CaptureResult<Tree> tree = parseTree(GetParam().json);
    ASSERT_TRUE(tree.ok()) << tree.error().localizedDescription.toStdString();
    QStringList windows;
    for (const Window &w : frontToBack(tree.value().windows)) {
        windows << describe(w);
        EXPECT_GT(w.pid, 0);
    }
    EXPECT_EQ(windows.join(QLatin1Char('\n')).toStdString(), GetParam().windows.join(QLatin1Char('\n')).toStdString());
    for (const Output &o : tree.value().outputs)
        EXPECT_NE(o.name, QStringLiteral("__i3"));
}

INSTANTIATE_TEST_SUITE_P(Trees, SwayTreeTest, ::testing::ValuesIn(treeCases()),
    [](const ::testing::TestParamInfo<TreeCase> &info) { return std::string(info.param.name); });

TEST(SwayTree, AnXWaylandWindowIsNamedByItsClass)
{
    QJsonObject x = view(5, "xterm", nullptr, rect(0, 0, 1280, 800), true);
    x["app_id"] = QJsonValue();
    x["shell"] = "xwayland";
    x["window_properties"] = QJsonObject { { "class", "XTerm" }, { "instance", "xterm" }, { "title", "xterm" } };
    const auto tree = parseTree(treeOf({ output(3, "HEADLESS-1", { container(4, "workspace", { x }) }) }));
    ASSERT_TRUE(tree.ok());
    ASSERT_EQ(tree.value().windows.size(), 1u);
    EXPECT_EQ(tree.value().windows[0].appId, QStringLiteral("XTerm"));
    EXPECT_EQ(tree.value().windows[0].instance, QStringLiteral("xterm"));
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

// Nodes of the wrong shape are passed over; the rest of the tree is still read.
TEST(SwayTree, PassesOverMalformedNodes)
{
    QJsonObject noId = view(6, "No id", "a.n", rect(0, 0, 10, 10), true);
    noId.remove("id");
    QJsonObject untitled = view(8, "", "a.u", rect(0, 0, 10, 10), true);
    untitled["name"] = QJsonValue();
    QJsonObject badRect = view(7, "Bad rect", "a.b", rect(0, 0, 10, 10), true);
    badRect["rect"] = "wide";
    badRect["window_rect"] = 12;
    QJsonObject ws = container(
        4, "workspace", { view(5, "Good", "a.g", rect(0, 0, 1280, 800), true), noId, badRect, 42, "x", untitled });
    ws["floating_nodes"] = "none";
    const auto tree = parseTree(treeOf({ output(3, "HEADLESS-1", { ws }) }));
    ASSERT_TRUE(tree.ok());
    ASSERT_EQ(tree.value().windows.size(), 3u);
    EXPECT_EQ(tree.value().windows[0].title, QStringLiteral("Good"));
    EXPECT_EQ(tree.value().windows[1].title, QStringLiteral("Bad rect"));
    EXPECT_TRUE(tree.value().windows[1].contentRect.isEmpty());
    EXPECT_FALSE(tree.value().windows[2].title.has_value()); // a view without a title has none
}

} // namespace
} // namespace pellux::wayland::sway
