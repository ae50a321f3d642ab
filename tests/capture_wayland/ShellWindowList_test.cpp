#include "capture/wayland/gnome/ShellWindowList.h"

#include "support/TestFiles.h"

namespace pellux::wayland {
namespace {

QJsonObject rect(int x, int y, int width, int height)
{
    return { { "x", x }, { "y", y }, { "width", width }, { "height", height } };
}

// One window as the extension writes it; tests change fields of this.
QJsonObject shellWindow(const char *id, int stacking, const char *title)
{
    return { { "id", id }, { "stacking", stacking }, { "type", "normal" }, { "title", title }, { "wm_class", "foot" },
        { "gtk_application_id", "" }, { "sandboxed_app_id", "" }, { "desktop_entry", "" }, { "pid", 4242 },
        { "frame", rect(10, 20, 700, 500) }, { "buffer", rect(10, 46, 700, 474) }, { "has_focus", false },
        { "minimized", false }, { "on_current_workspace", true } };
}

QByteArray listOf(const QJsonArray &windows, int version = shellWindowListVersion)
{
    return QJsonDocument(QJsonObject { { "version", version }, { "windows", windows } }).toJson();
}

QJsonObject with(QJsonObject window, const char *key, const QJsonValue &value)
{
    if (value.isUndefined())
        window.remove(QLatin1String(key));
    else
        window.insert(QLatin1String(key), value);
    return window;
}

TEST(ParseShellWindowList, ListsOrFailsWithTheReason)
{
    const QJsonObject alpha = shellWindow("4261204557", 1, "Alpha");
    const QJsonObject bravo = shellWindow("4261204558", 0, "Bravo");
    const struct {
        const char *name;
        QByteArray json;
        std::vector<QString> titles; // front to back; unused when an error is expected
        const char *error = nullptr; // part of the expected error text
    } cases[] = {
        { "empty", listOf({}), {} },
        { "front to back by stacking", listOf({ alpha, bravo }), { "Bravo", "Alpha" } },
        { "dialog listed", listOf({ with(alpha, "type", "dialog") }), { "Alpha" } },
        { "other kinds dropped", listOf({ with(alpha, "type", "utility"), bravo }), { "Bravo" } },
        { "unknown pid", listOf({ with(alpha, "pid", -1) }), { "Alpha" } },
        { "extra fields ignored", listOf({ with(alpha, "future", 1) }), { "Alpha" } },
        { "not an object", "[]", {}, "malformed" },
        { "numeric id", listOf({ with(alpha, "id", 12) }), {}, "id" },
        { "rect of the wrong kind", listOf({ with(alpha, "buffer", "700x474") }), {}, "buffer" },
        { "flag of the wrong kind", listOf({ with(alpha, "minimized", "no") }), {}, "minimized" },
        { "not json", "{\"version\": 1, \"windows\": [", {}, "malformed" },
        { "other version", listOf({ alpha }, 2), {}, "version 2" },
        { "windows missing", R"({"version": 1})", {}, "\"windows\" is not an array" },
        { "window not an object", listOf({ 3 }), {}, "window 0 is not an object" },
        { "title missing", listOf({ with(alpha, "title", QJsonValue::Undefined) }), {}, "title" },
        { "id not a number", listOf({ with(alpha, "id", "12x") }), {}, "not a window id" },
        { "id zero", listOf({ with(alpha, "id", "0") }), {}, "not a window id" },
        { "negative size", listOf({ with(alpha, "frame", rect(0, 0, -5, 3)) }), {}, "negative size" },
        { "listed twice", listOf({ alpha, alpha }), {}, "listed twice" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto windows = parseShellWindowList(c.json);
        if (c.error) {
            ASSERT_FALSE(windows);
            EXPECT_TRUE(windows.error().localizedDescription.contains(QLatin1String(c.error)))
                << windows.error().localizedDescription.toStdString();
            continue;
        }
        ASSERT_TRUE(windows) << windows.error().localizedDescription.toStdString();
        std::vector<QString> titles;
        for (const ShellWindow &w : windows.value())
            titles.push_back(w.title);
        EXPECT_EQ(titles, c.titles);
    }
}

TEST(ParseShellWindowList, ReadsEveryField)
{
    QJsonObject window = shellWindow("18446744073709551557", 0, "Editor");
    for (const char *name : { "wm_class", "gtk_application_id", "sandboxed_app_id", "desktop_entry" })
        window.insert(name, QStringLiteral("value of ") + name);
    for (const char *flag : { "has_focus", "minimized" })
        window.insert(flag, true);
    window.insert("on_current_workspace", false);
    window.insert("type", "dialog");
    const auto windows = parseShellWindowList(listOf({ window }));
    ASSERT_TRUE(windows);
    // The id is past 2^53: kept exactly.
    const ShellWindow expected { 18446744073709551557ull, 0, true, "Editor", "value of wm_class",
        "value of gtk_application_id", "value of sandboxed_app_id", "value of desktop_entry", 4242,
        QRect(10, 20, 700, 500), QRect(10, 46, 700, 474), true, true, false };
    EXPECT_EQ(windows.value(), std::vector<ShellWindow> { expected });
}

TEST(WindowIdTable, KeepsIdsWhileWindowsExistAndNeverReusesThem)
{
    WindowIdTable table;
    const quint64 first = 4261204557ull, second = 4261204558ull, big = 0xffff'ffff'0000'0001ull;
    const quint32 a = table.idFor(first), b = table.idFor(second), c = table.idFor(big);
    EXPECT_TRUE(a != 0 && a != b && b != c);
    EXPECT_EQ(table.idFor(first), a);
    EXPECT_EQ(table.shellIdFor(c), big);

    table.keepOnly({ ShellWindow { .id = second }, ShellWindow { .id = big } });
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.idFor(second), b);
    EXPECT_FALSE(table.shellIdFor(a));
    // The closed window's id is not handed to the next new one.
    const quint32 d = table.idFor(first);
    EXPECT_TRUE(d != a && d != b && d != c);
}

TEST(OwningApplication, NamesTheApplication)
{
    QTemporaryDir applications;
    QFile entry(applications.filePath("org.codeberg.dnkl.foot.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Foot\nExec=foot\nStartupWMClass=foot\n");
    entry.close();
    const DesktopEntryIndex entries({ applications.path() });
    const struct {
        const char *name;
        std::function<void(ShellWindow &)> change;
        RunningApplication expected;
    } cases[] = {
        { "entry by class", [](ShellWindow &) {}, { "foot", "org.codeberg.dnkl.foot", 99 } },
        { "shell entry first",
            [](ShellWindow &w) {
                w.desktopEntry = "footclient.desktop";
                w.sandboxedAppId = "org.x.Sandboxed";
            },
            { "foot", "footclient", 99 } },
        { "sandbox id", [](ShellWindow &w) { w.sandboxedAppId = "org.x.Sandboxed"; },
            { "foot", "org.x.Sandboxed", 99 } },
        { "gtk id", [](ShellWindow &w) { w.gtkApplicationId = "org.x.Gtk"; }, { "foot", "org.x.Gtk", 99 } },
        { "class without entry", [](ShellWindow &w) { w.wmClass = "smoke.alpha"; },
            { "smoke.alpha", "smoke.alpha", 99 } },
        { "no class",
            [](ShellWindow &w) {
                w.wmClass.clear();
                w.gtkApplicationId = "org.x.Gtk";
            },
            { "org.x.Gtk", "org.x.Gtk", 99 } },
    };
    for (const auto &c : cases) {
        ShellWindow window;
        window.id = 7;
        window.wmClass = "foot";
        window.pid = 99;
        c.change(window);
        EXPECT_EQ(owningApplicationFor(window, entries), c.expected) << c.name;
    }
}

TEST(DescribeShellWindows, KeepsTheOrderAndMarksHiddenWindowsOffScreen)
{
    auto windows = parseShellWindowList(listOf({ shellWindow("30", 2, "Minimised"), shellWindow("10", 0, "Front"),
        shellWindow("20", 1, "Elsewhere"), shellWindow("40", 3, "Covered") }));
    ASSERT_TRUE(windows);
    std::vector<ShellWindow> list = windows.value();
    list[1].onCurrentWorkspace = false;
    list[2].minimized = true;
    WindowIdTable ids;
    const DesktopEntryIndex entries(QStringList {});

    const ShareableContent all = describeShellWindows(list, ids, entries, false);
    std::vector<std::pair<QString, bool>> seen;
    for (const WindowDescription &w : all.windows)
        seen.emplace_back(*w.title, w.isOnScreen);
    const std::vector<std::pair<QString, bool>> expected { { "Front", true }, { "Elsewhere", false },
        { "Minimised", false }, { "Covered", true } };
    ASSERT_EQ(seen, expected);
    EXPECT_EQ(all.windows[0].frame, QRectF(10, 20, 700, 500));
    EXPECT_EQ(ids.shellIdFor(all.windows[0].windowID), 10u);
    // Every window has the same owner: listed once.
    EXPECT_EQ(all.applications.size(), 1u);

    const ShareableContent onScreen = describeShellWindows(list, ids, entries, true);
    ASSERT_EQ(onScreen.windows.size(), 2u);
    EXPECT_EQ(onScreen.windows[0].windowID, all.windows[0].windowID);
    EXPECT_EQ(*onScreen.windows[1].title, "Covered");
}

} // namespace
} // namespace pellux::wayland
