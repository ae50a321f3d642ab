// The KWin backend's window list: the script's JSON report turned into the capture service's content,
// and the script itself run against stand-ins of KWin's scripting API.
#if PELLUX_WAYLAND

#include "capture/wayland/kde/KWinWindowReport.h"
#include "capture/wayland/kde/KWinWindowScript.h"

#include "support/TestFiles.h"
#include <QJSEngine>

namespace pellux::kwin {
namespace {

QJsonObject window(const QString &uuid, const QString &caption, double stackingOrder, const QJsonObject &extra = {})
{
    QJsonObject w { { "internalId", uuid }, { "caption", caption }, { "resourceClass", "zenity" },
        { "resourceName", "zenity" }, { "desktopFileName", "zenity" }, { "pid", 42 }, { "x", 10 }, { "y", 20 },
        { "width", 700 }, { "height", 500 }, { "stackingOrder", stackingOrder }, { "minimized", false },
        { "onCurrentDesktop", true }, { "normalWindow", true } };
    for (auto it = extra.begin(); it != extra.end(); ++it)
        w.insert(it.key(), it.value());
    return w;
}

QByteArray report(const QJsonArray &windows)
{
    const QJsonObject screen { { "x", 0 }, { "y", 0 }, { "width", 1280 }, { "height", 800 } };
    return QJsonDocument(QJsonObject { { "version", 1 }, { "screen", screen }, { "windows", windows } }).toJson();
}

const DesktopEntryLookup noEntries = [](const QString &, const QString &) { return std::optional<QString>(); };

ShareableContent parsed(const QByteArray &json, WindowIdTable &ids, const DesktopEntryLookup &entries = noEntries,
    QHash<quint32, QSize> *clientSizes = nullptr)
{
    const auto content = parseWindowReport(json, ids, entries, clientSizes);
    EXPECT_TRUE(content.ok()) << content.error().localizedDescription.toStdString() << "\n" << json.toStdString();
    return content.ok() ? content.value() : ShareableContent {};
}

QStringList titles(const ShareableContent &content)
{
    QStringList result;
    for (const WindowDescription &w : content.windows)
        result << w.title.value_or(QStringLiteral("<none>"));
    return result;
}

QMap<QString, quint32> idsByTitle(const ShareableContent &content)
{
    QMap<QString, quint32> result;
    for (const WindowDescription &w : content.windows)
        result.insert(*w.title, w.windowID);
    return result;
}

QJsonObject owner(const char *windowClass, const char *desktopFile, int pid = 42)
{
    return { { "resourceClass", windowClass }, { "resourceName", windowClass }, { "desktopFileName", desktopFile },
        { "pid", pid } };
}

// The arguments of the one D-Bus call the window-list script makes over `workspace` (JavaScript).
QStringList runScript(const char *workspace)
{
    QJSEngine engine;
    engine.evaluate(QString::fromLatin1(workspace));
    engine.evaluate("var calls = []; function callDBus() { calls.push(Array.prototype.slice.call(arguments)); }");
    const QJSValue result = engine.evaluate(
        QString::fromUtf8(windowListScript(":1.7", "/org/pellux/KWinWindowReport/0", "org.pellux.Report", "Report")));
    EXPECT_FALSE(result.isError()) << result.toString().toStdString();
    return engine.evaluate("calls.length == 1 ? calls[0] : []").toVariant().toStringList();
}

TEST(KWinWindowReport, ListsWindowsFrontToBackMarkingWhatKWinDrawsKeepsTheirIdsAndThePlasma6ScriptReportsThem)
{
    const DesktopEntryLookup entries
        = [](const QString &instance, const QString &windowClass) -> std::optional<QString> {
        if (instance == "org.kde.kate")
            return QStringLiteral("org.kde.kate");
        if (windowClass == "xterm")
            return QStringLiteral("debian-xterm");
        return std::nullopt;
    };
    QJsonArray windows;
    int order = 10;
    for (const char *kind : { "desktopWindow", "dock", "splash", "tooltip", "notification", "criticalNotification",
             "onScreenDisplay", "popupWindow", "menu", "comboBox", "dndIcon" })
        windows.append(
            window(QStringLiteral("{%1}").arg(kind), kind, order++, { { "normalWindow", false }, { kind, true } }));
    for (const QJsonObject &w : { window("{kate}", "kate", 3, owner("kate", "org.kde.kate")),
             window("{xterm}", "xterm", 7, owner("xterm", "")), window("{tool}", "tool", 1, owner("tool", "", 0)),
             window("{dialog}", "dialog", 5, { { "normalWindow", false }, { "dialog", true } }),
             // A window that skips the task bar is still an application's window.
             window("{skip}", "skips taskbar", 6, { { "skipTaskbar", true } }),
             window("{anon}", "anonymous", 0, owner("", "", 0)) })
        windows.append(w);
    WindowIdTable ids;
    const ShareableContent content = parsed(report(windows), ids, entries);
    EXPECT_EQ(titles(content), (QStringList { "xterm", "skips taskbar", "dialog", "kate", "tool", "anonymous" }));
    ASSERT_EQ(content.windows.size(), 6u);
    EXPECT_EQ(content.windows[0].frame, QRectF(10, 20, 700, 500));
    const std::optional<RunningApplication> owners[] = { RunningApplication { "xterm", "debian-xterm", 42 },
        RunningApplication { "zenity", "zenity", 42 }, RunningApplication { "zenity", "zenity", 42 },
        RunningApplication { "kate", "org.kde.kate", 42 }, RunningApplication { "tool", "tool", 0 }, std::nullopt };
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(content.windows[i].owningApplication, owners[i]) << i;
    // Two windows of zenity: it is listed once.
    EXPECT_EQ(content.applications.size(), 4u);

    const struct {
        const char *name;
        QJsonObject fields;
        bool onScreen;
        std::optional<QSize> clientSize;
    } cases[] = {
        { "visible", {}, true, std::nullopt },
        // Neither is drawn, so KWin never answers their capture.
        { "minimised", { { "minimized", true } }, false, std::nullopt },
        { "other desktop", { { "onCurrentDesktop", false } }, false, std::nullopt },
        { "hidden", { { "hidden", true } }, false, std::nullopt },
        { "outside the screen", { { "x", 2000 }, { "y", 900 } }, false, std::nullopt },
        { "partly on screen", { { "x", 1000 }, { "y", 700 } }, true, std::nullopt },
        // An older script that did not say stays on screen rather than never being captured.
        { "desktop state absent", { { "onCurrentDesktop", QJsonValue() } }, true, std::nullopt },
        { "client area", { { "clientWidth", 680.4 }, { "clientHeight", 469.6 } }, true, QSize(680, 470) },
        { "empty client area", { { "clientWidth", 0 }, { "clientHeight", 470 } }, true, std::nullopt },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        WindowIdTable ids;
        QHash<quint32, QSize> sizes { { 99, QSize(1, 1) } }; // from an earlier report: does not stay
        const ShareableContent content = parsed(report({ window("{w}", "w", 0, c.fields) }), ids, noEntries, &sizes);
        ASSERT_EQ(content.windows.size(), 1u);
        const WindowDescription &w = content.windows.front();
        EXPECT_EQ(w.isOnScreen, c.onScreen);
        EXPECT_EQ(sizes.contains(w.windowID) ? std::optional(sizes.value(w.windowID)) : std::nullopt, c.clientSize);
        EXPECT_FALSE(sizes.contains(99));
    }

    WindowIdTable table;
    const auto first = idsByTitle(parsed(report({ window("{a}", "a", 0), window("{b}", "b", 1) }), table));
    EXPECT_TRUE(first["a"] != 0 && first["a"] != first["b"]);
    // Restacked, with a new window on top: the old ones keep their ids.
    const auto second
        = idsByTitle(parsed(report({ window("{b}", "b", 0), window("{a}", "a", 1), window("{c}", "c", 2) }), table));
    EXPECT_TRUE(second["a"] == first["a"] && second["b"] == first["b"]);
    EXPECT_TRUE(second["c"] != first["a"] && second["c"] != first["b"]);
    EXPECT_EQ(table.uuidFor(first["a"]), QString("{a}"));
    // "a" closed: its id is forgotten and never handed out again, even to a window with its uuid.
    parsed(report({ window("{b}", "b", 0), window("{c}", "c", 1) }), table);
    EXPECT_TRUE(!table.uuidFor(first["a"]) && table.size() == 2);
    EXPECT_NE(idsByTitle(parsed(report({ window("{a}", "a", 0) }), table))["a"], first["a"]);

    const quint32 kept = idsByTitle(parsed(report({ window("{kept}", "kept", 0) }), table))["kept"];
    for (const char *json : { "{\"windows\": [", "", "[]", "{\"version\": 1}", "{\"windows\": {}}",
             "{\"windows\": [3]}", "{\"windows\": [{\"caption\": \"x\"}]}",
             "{\"version\": 1, \"error\": \"TypeError: workspace.clientList\"}" }) {
        SCOPED_TRACE(json);
        const auto content = parseWindowReport(json, table, noEntries);
        ASSERT_FALSE(content.ok());
        EXPECT_EQ(content.error().domain, captureFailureDomain);
        EXPECT_TRUE(table.uuidFor(kept) == QString("{kept}") && table.size() == 1);
    }

    // Plasma 6's scripting API (the backend test runs the script against Plasma 5's): four windows and a
    // panel, Alpha under Bravo, one on desktop 2, one minimised.
    const QStringList call = runScript(R"JS(
        var one = { id: "d1" }, two = { id: "d2" };
        function win(id, caption, order, desktops, extra) {
            var w = { internalId: id, caption: caption, resourceClass: "zenity", resourceName: "zenity",
                      desktopFileName: "zenity", pid: 18390, stackingOrder: order, desktops: desktops,
                      onAllDesktops: desktops.length == 0, minimized: false, normalWindow: true,
                      frameGeometry: { x: 290 + 26 * order, y: 150 + 16 * order, width: 700, height: 500 } };
            for (var k in extra) w[k] = extra[k];
            return w;
        }
        var workspace = { currentDesktop: { id: "d1" }, virtualScreenGeometry: { x: 0, y: 0, width: 1280, height: 800 },
            windowList: function () { return [
                win("{aaaa}", "Alpha", 2, [one], {}), win("{bbbb}", "Bravo", 3, [], {}),
                win("{cccc}", "Elsewhere", 1, [two], {}), win("{dddd}", "Minimised", 0, [one], { minimized: true }),
                win("{pppp}", "Panel", 9, [], { dock: true, normalWindow: false }) ]; } };
        )JS");
    ASSERT_EQ(call.size(), 5);
    EXPECT_EQ(
        call.mid(0, 4), (QStringList { ":1.7", "/org/pellux/KWinWindowReport/0", "org.pellux.Report", "Report" }));
    WindowIdTable plasma6Ids;
    const ShareableContent plasma6 = parsed(call[4].toUtf8(), plasma6Ids);
    EXPECT_EQ(titles(plasma6), (QStringList { "Bravo", "Alpha", "Elsewhere", "Minimised" }));
    ASSERT_EQ(plasma6.windows.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(plasma6.windows[i].isOnScreen, i < 2) << i;
    const WindowDescription &bravo = plasma6.windows[0];
    EXPECT_EQ(std::tuple(bravo.frame, plasma6Ids.uuidFor(bravo.windowID), bravo.owningApplication),
        std::tuple(QRectF(368, 198, 700, 500), std::optional<QString>("{bbbb}"),
            std::optional(RunningApplication { "zenity", "zenity", 18390 })));

    // A workspace the script cannot read: it reports its own failure.
    const QStringList failed = runScript("var workspace = {};");
    const auto failure = parseWindowReport(failed.value(4).toUtf8(), plasma6Ids, noEntries);
    EXPECT_TRUE(!failure.ok() && failure.error().localizedDescription.contains("script failed"))
        << failed.join(' ').toStdString();
}

} // namespace
} // namespace pellux::kwin

#endif
