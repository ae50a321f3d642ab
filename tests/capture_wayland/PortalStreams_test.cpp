#include "capture/wayland/portal/PortalStreams.h"

#include <gtest/gtest.h>

namespace pellux::wayland::portal {
namespace {

QVariantList pairOf(QVariant first, QVariant second) { return { first, second }; }
QVariantList stream(QVariant node, QVariant properties = QVariantMap {}) { return { node, properties }; }
QVariantMap streams(QVariantList list) { return { { "streams", list } }; }

// The portal's answer to Start, read or refused whole. (Monitors as named windows and the D-Bus
// values the real portal sends are the portal desktop test's.)
TEST(PortalStreamsTest, StartAnswersAreReadOrRefusedWhole)
{
    QVariantMap gnome = streams({ stream(uint(40),
        QVariantMap { { "id", "0" }, { "source_type", uint(1) }, { "position", pairOf(0, 0) },
            { "size", pairOf(1280, 800) } }) });
    gnome.insert("restore_token", "0993-abc");
    const struct {
        const char *name;
        QVariantMap results;
        std::vector<PortalStream> expected; // empty: the answer is refused
    } cases[] = {
        { "GNOME's answer for its one monitor", gnome, { { 40, "id:0", QPoint(0, 0), QSize(1280, 800) } } },
        { "two monitors side by side, without ids (older portals): keyed by node",
            streams({ stream(uint(51), QVariantMap { { "position", pairOf(0, 0) }, { "size", pairOf(1920, 1080) } }),
                stream(uint(52), QVariantMap { { "position", pairOf(1920, -200) }, { "size", pairOf(1280, 1024) } }) }),
            { { 51, "node:51", QPoint(0, 0), QSize(1920, 1080) },
                { 52, "node:52", QPoint(1920, -200), QSize(1280, 1024) } } },
        { "position and size left out: at the origin, size unknown", streams({ stream(uint(7)) }),
            { { 7, "node:7", QPoint(0, 0), std::nullopt } } },
        { "integers of another width than D-Bus's u and i",
            streams({ stream(qulonglong(9), QVariantMap { { "size", pairOf(qlonglong(800), short(600)) } }) }),
            { { 9, "node:9", QPoint(0, 0), QSize(800, 600) } } },
        { "no streams at all", { { "restore_token", "x" } }, {} },
        { "streams that are not a list", { { "streams", "40" } }, {} },
        { "an empty list of streams", streams({}), {} },
        { "a negative node", streams({ stream(-1) }), {} },
        { "an entry without properties", streams({ QVariantList { uint(40) } }), {} },
        { "a node that is not a number", streams({ stream("forty") }), {} },
        { "properties that are not a dictionary", streams({ stream(uint(40), "monitor") }), {} },
        { "a position of one number", streams({ stream(uint(40), QVariantMap { { "position", QVariantList { 3 } } }) }),
            {} },
        { "a size of zero", streams({ stream(uint(40), QVariantMap { { "size", pairOf(0, 800) } }) }), {} },
        { "an id that is not text", streams({ stream(uint(40), QVariantMap { { "id", 0 } }) }), {} },
    };
    for (const auto &c : cases) {
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

} // namespace
} // namespace pellux::wayland::portal
