#include "storage/StorageTestSupport.h"
#include "storage/StoreSession.h"
#include "support/TempHome.h"

#include <QDir>

#include <gtest/gtest.h>

namespace pellux {
namespace {

// Healing is owed from a start that finds the store in use, or without a mark, until a session
// ends in order after healing; a session that leaves frames half-done owes it again.
TEST(StoreSession, HealingIsOwedUntilASessionEndsInOrderAfterHealing)
{
    using LastEnd = StoreSession::LastEnd;
    const struct {
        const char *name;
        const char *before; // nullptr: no mark
        LastEnd last;
        bool leftInOrder;
        bool healed;
        LastEnd next;
    } cases[] = {
        { "first start, healed", nullptr, LastEnd::unknown, true, true, LastEnd::inOrder },
        { "first start, healing stopped", nullptr, LastEnd::unknown, true, false, LastEnd::interrupted },
        { "after a clean end", "in order\n", LastEnd::inOrder, true, false, LastEnd::inOrder },
        { "frames left without text", "in order\n", LastEnd::inOrder, false, false, LastEnd::interrupted },
        { "after a crash, healed", "in use\n", LastEnd::interrupted, true, true, LastEnd::inOrder },
        { "after a crash, not healed", "in use\n", LastEnd::interrupted, true, false, LastEnd::interrupted },
        { "a mark of garbage", "???", LastEnd::interrupted, true, true, LastEnd::inOrder },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::TempHome home;
        const QString folder = home.path() + QStringLiteral("/Recordings");
        ASSERT_TRUE(QDir().mkpath(folder));
        StoreSession session(folder);
        if (c.before) {
            ASSERT_TRUE(test::writeAll(session.markPath(), c.before));
        }
        EXPECT_EQ(session.begin(), c.last);
        EXPECT_EQ(test::modeOf(session.markPath()), 0600);
        session.end(c.leftInOrder, c.healed);
        EXPECT_EQ(StoreSession(folder).begin(), c.next);
    }
}

} // namespace
} // namespace pellux
