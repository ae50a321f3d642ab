#include "capture/wayland/portal/PortalStreams.h"

#include <QDBusObjectPath>
#include <QDBusVariant>

#include <gtest/gtest.h>

#include <tuple>

namespace pellux::wayland::portal {
namespace {

QVariantList pairOf(int first, int second) { return { first, second }; }

QVariantList streamEntry(QVariant node, QVariantMap properties) { return { std::move(node), std::move(properties) }; }

struct ParseCase {
    const char *name;
    QVariantMap results;
    std::vector<PortalStream> expected; // empty: the answer is refused
};

std::vector<ParseCase> parseCases()
{
    return {
        { "GNOME's answer for its one monitor",
            { { QStringLiteral("streams"),
                  QVariantList { streamEntry(uint(40),
                      { { QStringLiteral("id"), QStringLiteral("0") }, { QStringLiteral("source_type"), uint(1) },
                          { QStringLiteral("position"), pairOf(0, 0) },
                          { QStringLiteral("size"), pairOf(1280, 800) } }) } },
                { QStringLiteral("restore_token"), QStringLiteral("0993-abc") } },
            { PortalStream { 40, QStringLiteral("id:0"), QPoint(0, 0), QSize(1280, 800) } } },
        { "two monitors side by side, without ids (older portals): keyed by node",
            { { QStringLiteral("streams"),
                QVariantList { streamEntry(uint(51),
                                   { { QStringLiteral("position"), pairOf(0, 0) },
                                       { QStringLiteral("size"), pairOf(1920, 1080) } }),
                    streamEntry(uint(52),
                        { { QStringLiteral("position"), pairOf(1920, -200) },
                            { QStringLiteral("size"), pairOf(1280, 1024) } }) } } },
            { PortalStream { 51, QStringLiteral("node:51"), QPoint(0, 0), QSize(1920, 1080) },
                PortalStream { 52, QStringLiteral("node:52"), QPoint(1920, -200), QSize(1280, 1024) } } },
        { "position and size left out: at the origin, size unknown",
            { { QStringLiteral("streams"), QVariantList { streamEntry(uint(7), {}) } } },
            { PortalStream { 7, QStringLiteral("node:7"), QPoint(0, 0), std::nullopt } } },
        { "integers of another width than D-Bus's u and i",
            { { QStringLiteral("streams"),
                QVariantList { streamEntry(
                    qulonglong(9), { { QStringLiteral("size"), QVariantList { qlonglong(800), short(600) } } }) } } },
            { PortalStream { 9, QStringLiteral("node:9"), QPoint(0, 0), QSize(800, 600) } } },
        { "no streams at all", { { QStringLiteral("restore_token"), QStringLiteral("x") } }, {} },
        { "streams that are not a list", { { QStringLiteral("streams"), QStringLiteral("40") } }, {} },
        { "an empty list of streams", { { QStringLiteral("streams"), QVariantList {} } }, {} },
        { "a negative node", { { QStringLiteral("streams"), QVariantList { streamEntry(-1, {}) } } }, {} },
        { "an entry without properties", { { QStringLiteral("streams"), QVariantList { QVariantList { uint(40) } } } },
            {} },
        { "a node that is not a number",
            { { QStringLiteral("streams"), QVariantList { streamEntry(QStringLiteral("forty"), {}) } } }, {} },
        { "properties that are not a dictionary",
            { { QStringLiteral("streams"), QVariantList { QVariantList { uint(40), QStringLiteral("monitor") } } } },
            {} },
        { "a position of one number",
            { { QStringLiteral("streams"),
                QVariantList { streamEntry(uint(40), { { QStringLiteral("position"), QVariantList { 3 } } }) } } },
            {} },
        { "a size of zero",
            { { QStringLiteral("streams"),
                QVariantList { streamEntry(uint(40), { { QStringLiteral("size"), pairOf(0, 800) } }) } } },
            {} },
        { "an id that is not text",
            { { QStringLiteral("streams"), QVariantList { streamEntry(uint(40), { { QStringLiteral("id"), 0 } }) } } },
            {} },
    };
}

TEST(PortalStreamsTest, StartAnswersAreReadOrRefusedWhole)
{
    for (const ParseCase &c : parseCases()) {
        SCOPED_TRACE(c.name);
        const CaptureResult<std::vector<PortalStream>> parsed = parseStartStreams(c.results);
        if (c.expected.empty()) {
            ASSERT_FALSE(parsed.ok());
            EXPECT_EQ(parsed.error().domain, QLatin1String(captureFailureDomain));
            EXPECT_TRUE(parsed.error().localizedDescription.contains(QLatin1String("cannot read")));
        } else {
            ASSERT_TRUE(parsed.ok()) << qPrintable(parsed.error().localizedDescription);
            EXPECT_EQ(parsed.value(), c.expected);
        }
    }
}

TEST(PortalStreamsTest, EachMonitorIsOneNamedWindowWithTheIdOfItsKey)
{
    const std::vector<PortalStream> streams {
        { 51, QStringLiteral("id:0"), QPoint(0, 0), QSize(1920, 1080) },
        { 52, QStringLiteral("id:1"), QPoint(1920, 0), QSize(1280, 1024) },
        { 53, QStringLiteral("node:53"), QPoint(0, 1080), std::nullopt },
    };
    const std::map<QString, quint32> ids { { QStringLiteral("id:0"), 7 }, { QStringLiteral("id:1"), 3 },
        { QStringLiteral("node:53"), 12 } };
    const std::vector<WindowDescription> windows
        = monitorWindows(streams, [&](const QString &key) { return ids.at(key); });

    const RunningApplication screen { QStringLiteral("Screen"), QStringLiteral("Screen"), 0 };
    std::vector<std::tuple<quint32, QRectF, QString, bool>> shown; // id, frame, title, on screen
    for (const WindowDescription &w : windows) {
        shown.emplace_back(w.windowID, w.frame, w.title.value_or(QString()), w.isOnScreen);
        EXPECT_EQ(w.owningApplication, screen);
    }
    const decltype(shown) expected { { 7, QRectF(0, 0, 1920, 1080), "Screen 1", true },
        { 3, QRectF(1920, 0, 1280, 1024), "Screen 2", true }, { 12, QRectF(0, 1080, 0, 0), "Screen 3", true } };
    EXPECT_EQ(shown, expected);
}

TEST(PortalStreamsTest, PlainValuesHaveTheirVariantsAndPathsReadOut)
{
    const QVariant nested = QVariantMap {
        { QStringLiteral("session_handle"),
            QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(QStringLiteral("/s/1"))))) },
        { QStringLiteral("list"),
            QVariantList { QVariant::fromValue(QDBusVariant(uint(5))),
                QVariantList { QVariant::fromValue(QDBusVariant(true)) } } },
    };
    const QVariantMap plain = plainDBusValue(nested).toMap();
    EXPECT_EQ(plain.value(QStringLiteral("session_handle")), QVariant(QStringLiteral("/s/1")));
    EXPECT_EQ(plain.value(QStringLiteral("list")), QVariant(QVariantList { uint(5), QVariantList { true } }));
}

} // namespace
} // namespace pellux::wayland::portal
