#include "capture/wayland/gnome/ShellWindowList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace pellux::wayland {
namespace {

// One window as the extension writes it; tests change fields of this.
QJsonObject shellWindow(const char *id, int stacking, const char *title)
{
    const auto rect = [](int x, int y, int width, int height) {
        return QJsonObject { { "x", x }, { "y", y }, { "width", width }, { "height", height } };
    };
    return QJsonObject { { "id", id }, { "stacking", stacking }, { "type", "normal" }, { "title", title },
        { "wm_class", "foot" }, { "gtk_application_id", "" }, { "sandboxed_app_id", "" }, { "desktop_entry", "" },
        { "pid", 4242 }, { "frame", rect(10, 20, 700, 500) }, { "buffer", rect(10, 46, 700, 474) },
        { "has_focus", false }, { "minimized", false }, { "on_current_workspace", true } };
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

struct ListCase {
    const char *name;
    QByteArray json;
    std::vector<QString> titles; // front to back; unused when an error is expected
    const char *error = nullptr; // part of the expected error text
};

class ParseShellWindowListTest : public ::testing::TestWithParam<ListCase> { };

TEST_P(ParseShellWindowListTest, ListsOrFailsWithTheReason)
{
    const ListCase &c = GetParam();
    const auto windows = parseShellWindowList(c.json);
    if (c.error) {
        ASSERT_FALSE(windows);
        EXPECT_TRUE(windows.error().localizedDescription.contains(QLatin1String(c.error)))
            << windows.error().localizedDescription.toStdString();
        return;
    }
    ASSERT_TRUE(windows) << windows.error().localizedDescription.toStdString();
    std::vector<QString> titles;
    for (const ShellWindow &w : windows.value())
        titles.push_back(w.title);
    EXPECT_EQ(titles, c.titles);
}

const QJsonObject alpha = shellWindow("4261204557", 1, "Alpha");
const QJsonObject bravo = shellWindow("4261204558", 0, "Bravo");

INSTANTIATE_TEST_SUITE_P(Lists, ParseShellWindowListTest,
    ::testing::Values(ListCase { "empty", listOf({}), {} },
        ListCase { "front_to_back_by_stacking", listOf({ alpha, bravo }), { "Bravo", "Alpha" } },
        ListCase { "dialog_listed", listOf({ with(alpha, "type", "dialog") }), { "Alpha" } },
        ListCase { "other_kinds_dropped", listOf({ with(alpha, "type", "utility"), bravo }), { "Bravo" } },
        ListCase { "unknown_pid", listOf({ with(alpha, "pid", -1) }), { "Alpha" } },
        ListCase { "extra_fields_ignored", listOf({ with(alpha, "future", 1) }), { "Alpha" } },
        ListCase { "not_an_object", "[]", {}, "malformed" },
        ListCase { "numeric_id", listOf({ with(alpha, "id", 12) }), {}, "id" },
        ListCase { "rect_wrong_kind", listOf({ with(alpha, "buffer", "700x474") }), {}, "buffer" },
        ListCase { "flag_wrong_kind", listOf({ with(alpha, "minimized", "no") }), {}, "minimized" },
        ListCase { "not_json", "{\"version\": 1, \"windows\": [", {}, "malformed" },
        ListCase { "other_version", listOf({ alpha }, 2), {}, "version 2" },
        ListCase { "windows_missing", R"({"version": 1})", {}, "\"windows\" is not an array" },
        ListCase { "window_not_object", listOf({ 3 }), {}, "window 0 is not an object" },
        ListCase { "title_missing", listOf({ with(alpha, "title", QJsonValue::Undefined) }), {}, "title" },
        ListCase { "id_not_a_number", listOf({ with(alpha, "id", "12x") }), {}, "not a window id" },
        ListCase { "id_zero", listOf({ with(alpha, "id", "0") }), {}, "not a window id" },
        ListCase { "negative_size",
            listOf({ with(alpha, "frame", QJsonObject { { "x", 0 }, { "y", 0 }, { "width", -5 }, { "height", 3 } }) }),
            {}, "negative size" },
        ListCase { "listed_twice", listOf({ alpha, alpha }), {}, "listed twice" }),
    [](const ::testing::TestParamInfo<ListCase> &info) { return std::string(info.param.name); });

TEST(ParseShellWindowList, ReadsEveryField)
{
    QJsonObject window = shellWindow("18446744073709551557", 0, "Editor");
    const char *names[] = { "wm_class", "gtk_application_id", "sandboxed_app_id", "desktop_entry" };
    for (const char *name : names)
        window.insert(name, QStringLiteral("value of ") + name);
    for (const char *flag : { "has_focus", "minimized" })
        window.insert(flag, true);
    window.insert("on_current_workspace", false);
    window.insert("type", "dialog");
    const auto windows = parseShellWindowList(listOf({ window }));
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows.value().size(), 1u);
    const ShellWindow &w = windows.value().front();
    EXPECT_EQ(w.id, 18446744073709551557ull); // past 2^53: kept exactly
    EXPECT_EQ(QStringList({ w.wmClass, w.gtkApplicationId, w.sandboxedAppId, w.desktopEntry }),
        QStringList({ "value of wm_class", "value of gtk_application_id", "value of sandboxed_app_id",
            "value of desktop_entry" }));
    EXPECT_TRUE(w.dialog && w.hasFocus && w.minimized && !w.onCurrentWorkspace);
    EXPECT_EQ(w.pid, 4242);
    EXPECT_EQ(w.frame, QRect(10, 20, 700, 500));
    EXPECT_EQ(w.buffer, QRect(10, 46, 700, 474));
}

std::vector<ShellWindow> windowsWithIds(std::initializer_list<quint64> ids)
{
    std::vector<ShellWindow> windows;
    for (quint64 id : ids) {
        ShellWindow w;
        w.id = id;
        windows.push_back(w);
    }
    return windows;
}

TEST(WindowIdTable, KeepsIdsWhileWindowsExistAndNeverReusesThem)
{
    WindowIdTable table;
    const quint64 first = 4261204557ull, second = 4261204558ull, big = 0xffff'ffff'0000'0001ull;
    const quint32 a = table.idFor(first), b = table.idFor(second), c = table.idFor(big);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_EQ(table.idFor(first), a);
    EXPECT_EQ(table.shellIdFor(c), big);

    table.keepOnly(windowsWithIds({ second, big }));
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.idFor(second), b);
    EXPECT_FALSE(table.shellIdFor(a));
    // The closed window's id is not handed to the next new one.
    const quint32 d = table.idFor(first);
    EXPECT_NE(d, a);
    EXPECT_NE(d, b);
    EXPECT_NE(d, c);
}

struct OwnerCase {
    const char *name;
    std::function<void(ShellWindow &)> change;
    RunningApplication expected;
};

class OwningApplicationTest : public ::testing::TestWithParam<OwnerCase> { };

TEST_P(OwningApplicationTest, NamesTheApplication)
{
    QTemporaryDir applications;
    QFile entry(applications.filePath("org.codeberg.dnkl.foot.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Foot\nExec=foot\nStartupWMClass=foot\n");
    entry.close();
    const DesktopEntryIndex entries({ applications.path() });

    ShellWindow window;
    window.id = 7;
    window.wmClass = "foot";
    window.pid = 99;
    GetParam().change(window);
    EXPECT_EQ(owningApplicationFor(window, entries), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Owners, OwningApplicationTest,
    ::testing::Values(OwnerCase { "entry_by_class", [](ShellWindow &) {}, { "foot", "org.codeberg.dnkl.foot", 99 } },
        OwnerCase { "shell_entry_first",
            [](ShellWindow &w) {
                w.desktopEntry = "footclient.desktop";
                w.sandboxedAppId = "org.x.Sandboxed";
            },
            { "foot", "footclient", 99 } },
        OwnerCase { "sandbox_id", [](ShellWindow &w) { w.sandboxedAppId = "org.x.Sandboxed"; },
            { "foot", "org.x.Sandboxed", 99 } },
        OwnerCase { "gtk_id", [](ShellWindow &w) { w.gtkApplicationId = "org.x.Gtk"; }, { "foot", "org.x.Gtk", 99 } },
        OwnerCase { "class_without_entry", [](ShellWindow &w) { w.wmClass = "smoke.alpha"; },
            { "smoke.alpha", "smoke.alpha", 99 } },
        OwnerCase { "no_class",
            [](ShellWindow &w) {
                w.wmClass.clear();
                w.gtkApplicationId = "org.x.Gtk";
            },
            { "org.x.Gtk", "org.x.Gtk", 99 } }),
    [](const ::testing::TestParamInfo<OwnerCase> &info) { return std::string(info.param.name); });

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
    ASSERT_EQ(all.windows.size(), 4u);
    std::vector<std::pair<QString, bool>> seen;
    for (const WindowDescription &w : all.windows)
        seen.emplace_back(*w.title, w.isOnScreen);
    const std::vector<std::pair<QString, bool>> expected { { "Front", true }, { "Elsewhere", false },
        { "Minimised", false }, { "Covered", true } };
    EXPECT_EQ(seen, expected);
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
