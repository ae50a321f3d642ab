// The KWin backend's window list: the script's JSON report turned into the capture service's content,
// and the script itself run against stand-ins of KWin's scripting API.
#if PELLUX_WAYLAND

#include "capture/wayland/kde/KWinWindowReport.h"
#include "capture/wayland/kde/KWinWindowScript.h"

#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <gtest/gtest.h>

namespace pellux::kwin {
namespace {

QJsonObject window(const QString &uuid, const QString &caption, double stackingOrder, QJsonObject extra = {})
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

QStringList titles(const ShareableContent &content)
{
    QStringList result;
    for (const WindowDescription &w : content.windows)
        result << w.title.value_or(QStringLiteral("<none>"));
    return result;
}

TEST(KWinWindowReport, ListsWindowsFrontToBackByStackingOrder)
{
    WindowIdTable ids;
    const auto content = parseWindowReport(
        report({ window("{a}", "bottom", 0), window("{c}", "top", 7), window("{b}", "middle", 3) }), ids, noEntries);
    ASSERT_TRUE(content.ok()) << content.error().localizedDescription.toStdString();
    EXPECT_EQ(titles(content.value()), (QStringList { "top", "middle", "bottom" }));
    const WindowDescription &top = content.value().windows.front();
    EXPECT_EQ(top.frame, QRectF(10, 20, 700, 500));
    EXPECT_EQ(top.owningApplication, (RunningApplication { "zenity", "zenity", 42 }));
    // Three windows of one application: it is listed once.
    EXPECT_EQ(content.value().applications.size(), 1u);
}

TEST(KWinWindowReport, LeavesOutWindowsThatAreNoApplicationContent)
{
    const char *const neverListed[] = { "desktopWindow", "dock", "splash", "tooltip", "notification",
        "criticalNotification", "onScreenDisplay", "popupWindow", "menu", "comboBox", "dndIcon" };
    QJsonArray windows { window("{normal}", "normal", 0),
        window("{dialog}", "dialog", 1, { { "normalWindow", false }, { "dialog", true } }),
        // A window that skips the task bar is still an application's window.
        window("{skip}", "skips taskbar", 2, { { "skipTaskbar", true } }) };
    int order = 10;
    for (const char *kind : neverListed)
        windows.append(
            window(QStringLiteral("{%1}").arg(kind), kind, order++, { { "normalWindow", false }, { kind, true } }));
    WindowIdTable ids;
    const auto content = parseWindowReport(report(windows), ids, noEntries);
    ASSERT_TRUE(content.ok());
    EXPECT_EQ(titles(content.value()), (QStringList { "skips taskbar", "dialog", "normal" }));
}

TEST(KWinWindowReport, MarksWhatKWinDrawsAndKeepsTheClientAreaItStreams)
{
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
        WindowIdTable ids;
        QHash<quint32, QSize> sizes { { 99, QSize(1, 1) } };
        const auto content = parseWindowReport(report({ window("{w}", "w", 0, c.fields) }), ids, noEntries, &sizes);
        ASSERT_TRUE(content.ok()) << c.name;
        ASSERT_EQ(content.value().windows.size(), 1u) << c.name;
        const WindowDescription &w = content.value().windows.front();
        EXPECT_EQ(w.isOnScreen, c.onScreen) << c.name;
        EXPECT_EQ(sizes.contains(w.windowID) ? std::optional(sizes.value(w.windowID)) : std::nullopt, c.clientSize)
            << c.name;
        EXPECT_FALSE(sizes.contains(99)) << c.name; // a size from an earlier report does not stay
    }
}

TEST(KWinWindowReport, KeepsEachWindowsIdWhileItExists)
{
    WindowIdTable ids;
    const auto first = parseWindowReport(report({ window("{a}", "a", 0), window("{b}", "b", 1) }), ids, noEntries);
    ASSERT_TRUE(first.ok());
    const quint32 b = first.value().windows[0].windowID;
    const quint32 a = first.value().windows[1].windowID;
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);

    // Restacked, with a new window on top: the old ones keep their ids.
    const auto second = parseWindowReport(
        report({ window("{b}", "b", 0), window("{a}", "a", 1), window("{c}", "c", 2) }), ids, noEntries);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.value().windows[1].windowID, a);
    EXPECT_EQ(second.value().windows[2].windowID, b);
    const quint32 c = second.value().windows[0].windowID;
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
    EXPECT_EQ(ids.uuidFor(a), QString("{a}"));

    // "a" closed: its id is forgotten and never handed out again, even to a window with its uuid.
    const auto third = parseWindowReport(report({ window("{b}", "b", 0), window("{c}", "c", 1) }), ids, noEntries);
    ASSERT_TRUE(third.ok());
    EXPECT_FALSE(ids.uuidFor(a));
    EXPECT_EQ(ids.size(), 2);
    const auto fourth = parseWindowReport(report({ window("{a}", "a", 0) }), ids, noEntries);
    ASSERT_TRUE(fourth.ok());
    EXPECT_NE(fourth.value().windows[0].windowID, a);
}

TEST(KWinWindowReport, NamesTheApplicationByItsDesktopEntryWhereOneMatches)
{
    const DesktopEntryLookup entries
        = [](const QString &instance, const QString &windowClass) -> std::optional<QString> {
        if (instance == "org.kde.kate")
            return QStringLiteral("org.kde.kate");
        if (windowClass == "xterm")
            return QStringLiteral("debian-xterm");
        return std::nullopt;
    };
    WindowIdTable ids;
    const auto content = parseWindowReport(
        report({
            window("{1}", "kate", 3,
                { { "resourceClass", "kate" }, { "resourceName", "kate" }, { "desktopFileName", "org.kde.kate" } }),
            window("{2}", "xterm", 2,
                { { "resourceClass", "xterm" }, { "resourceName", "xterm" }, { "desktopFileName", "" } }),
            window("{3}", "no entry", 1,
                { { "resourceClass", "tool" }, { "resourceName", "tool" }, { "desktopFileName", "" }, { "pid", 0 } }),
            window("{4}", "anonymous", 0,
                { { "resourceClass", "" }, { "resourceName", "" }, { "desktopFileName", "" }, { "pid", 0 } }),
        }),
        ids, entries);
    ASSERT_TRUE(content.ok());
    const auto &w = content.value().windows;
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0].owningApplication, (RunningApplication { "kate", "org.kde.kate", 42 }));
    EXPECT_EQ(w[1].owningApplication, (RunningApplication { "xterm", "debian-xterm", 42 }));
    EXPECT_EQ(w[2].owningApplication, (RunningApplication { "tool", "tool", 0 }));
    EXPECT_FALSE(w[3].owningApplication);
    EXPECT_EQ(content.value().applications.size(), 3u);
}

TEST(KWinWindowReport, AMalformedReportIsAnErrorThatKeepsTheKnownIds)
{
    WindowIdTable ids;
    ASSERT_TRUE(parseWindowReport(report({ window("{kept}", "kept", 0) }), ids, noEntries).ok());
    const quint32 kept = ids.idFor("{kept}");
    for (const char *json : { "{\"windows\": [", "", "[]", "{\"version\": 1}", "{\"windows\": {}}",
             "{\"windows\": [3]}", "{\"windows\": [{\"caption\": \"x\"}]}",
             "{\"version\": 1, \"error\": \"TypeError: workspace.clientList\"}" }) {
        const auto content = parseWindowReport(json, ids, noEntries);
        ASSERT_FALSE(content.ok()) << json;
        EXPECT_EQ(content.error().domain, captureFailureDomain);
        EXPECT_EQ(ids.uuidFor(kept), QString("{kept}"));
        EXPECT_EQ(ids.size(), 1);
    }
}

// The script against a stand-in of Plasma 6's scripting API (the backend test runs it against
// Plasma 5's): four windows and a panel, Alpha under Bravo, one on desktop 2, one minimised.
constexpr char plasma6Workspace[] = R"JS(
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
        )JS";

TEST(KWinWindowScript, ReportsTheWindowsOfPlasma6)
{
    QJSEngine engine;
    engine.evaluate(QString::fromLatin1(plasma6Workspace));
    engine.evaluate("var calls = []; function callDBus() { calls.push(Array.prototype.slice.call(arguments)); }");
    const QJSValue result = engine.evaluate(
        QString::fromUtf8(windowListScript(":1.7", "/org/pellux/KWinWindowReport/0", "org.pellux.Report", "Report")));
    ASSERT_FALSE(result.isError()) << result.toString().toStdString();
    const QStringList call = engine.evaluate("calls.length == 1 ? calls[0] : []").toVariant().toStringList();
    ASSERT_EQ(call.size(), 5);
    EXPECT_EQ(
        call.mid(0, 4), (QStringList { ":1.7", "/org/pellux/KWinWindowReport/0", "org.pellux.Report", "Report" }));

    WindowIdTable ids;
    const auto content = parseWindowReport(call[4].toUtf8(), ids, noEntries);
    ASSERT_TRUE(content.ok()) << content.error().localizedDescription.toStdString() << "\n" << call[4].toStdString();
    EXPECT_EQ(titles(content.value()), (QStringList { "Bravo", "Alpha", "Elsewhere", "Minimised" }));
    const auto &w = content.value().windows;
    EXPECT_EQ(std::vector<bool>({ w[0].isOnScreen, w[1].isOnScreen, w[2].isOnScreen, w[3].isOnScreen }),
        std::vector<bool>({ true, true, false, false }));
    EXPECT_EQ(w[0].frame, QRectF(368, 198, 700, 500));
    EXPECT_EQ(ids.uuidFor(w[0].windowID), QString("{bbbb}"));
    EXPECT_EQ(w[1].owningApplication, (RunningApplication { "zenity", "zenity", 18390 }));
}

TEST(KWinWindowScript, ReportsItsOwnFailure)
{
    QJSEngine engine;
    engine.evaluate("var workspace = {}; var calls = []; function callDBus() { calls.push(arguments[4]); }");
    engine.evaluate(QString::fromUtf8(windowListScript(":1.7", "/p", "i.f", "Report")));
    const QByteArray json = engine.evaluate("calls[0]").toString().toUtf8();
    WindowIdTable ids;
    const auto content = parseWindowReport(json, ids, noEntries);
    ASSERT_FALSE(content.ok());
    EXPECT_TRUE(content.error().localizedDescription.contains("script failed")) << json.toStdString();
}

} // namespace
} // namespace pellux::kwin

#endif
