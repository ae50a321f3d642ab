// The stored files that rebuild a delta frame, found through the rows the capture pipeline writes.
#include "persistence/DatabaseTestSupport.h"
#include "support/TempHome.h"

#include "persistence/SimpleDatabaseManager.h"

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;

namespace {

struct Row {
    const char *file; // also the row's image hash
    double seconds;
    const char *app;
    const char *reference; // nullptr: a full frame
};

class DeltaChain : public ::testing::Test {
protected:
    void insert(const std::vector<Row> &rows)
    {
        for (const Row &row : rows) {
            Recording recording;
            recording.id = QUuid::createUuid();
            recording.timestamp = fromSecondsSince1970(1.7e9 + row.seconds);
            recording.filePath = QUrl::fromLocalFile(QStringLiteral("/shots/") + QLatin1String(row.file));
            recording.appName = QString::fromUtf8(row.app);
            const std::optional<QString> reference
                = row.reference ? std::optional<QString>(QString::fromUtf8(row.reference)) : std::nullopt;
            database.saveRecordingWithDeltaFrame(
                recording, QString::fromUtf8(row.file), 100, reference.has_value(), reference, 2.5);
        }
        database.waitUntilIdle();
    }

    // The chain's file names, or {"absent"}.
    QStringList chain(const char *file)
    {
        const auto links = awaitCompletion<std::optional<std::vector<DeltaChainLink>>>(
            [&](std::function<void(std::optional<std::vector<DeltaChainLink>>)> done) {
                database.getDeltaChain(QStringLiteral("/shots/") + QLatin1String(file), done);
            });
        if (!links)
            return { QStringLiteral("absent") };
        QStringList names;
        for (const DeltaChainLink &link : *links) {
            names << link.filePath.section(QLatin1Char('/'), -1);
            EXPECT_EQ(link.compressionRatio, 2.5);
        }
        return names;
    }

    TempHome home;
    SimpleDatabaseManager database;
};

TEST_F(DeltaChain, FollowsTheWindowsDeltasBackToItsReference)
{
    insert({
        { "r1", 0, "XTerm", nullptr },
        { "other", 1, "XTerm", nullptr }, // another window of the same application
        { "a", 5, "XTerm", "r1" },
        { "o1", 5, "XTerm", "other" },
        { "same-ref-other-app", 6, "Kate", "r1" }, // hashes are unique; a row naming r1 from elsewhere is not ours
        { "b", 10, "XTerm", "r1" },
        { "c", 15, "XTerm", "r1" },
        { "r2", 20, "XTerm", nullptr }, // the window changed a lot: a new reference
        { "d", 25, "XTerm", "r2" },
        // A block-based delta matched against a frame stored as a delta applies to it directly.
        { "block", 30, "Gimp", "c" },
        { "block2", 35, "Gimp", "block" },
    });
    struct Case {
        const char *file;
        QStringList expected;
    };
    const Case cases[] = {
        { "r1", { "r1" } },
        { "a", { "r1", "a" } },
        { "c", { "r1", "a", "b", "c" } },
        { "o1", { "other", "o1" } },
        { "d", { "r2", "d" } },
        { "block", { "r1", "a", "b", "c", "block" } },
        { "block2", { "r1", "a", "b", "c", "block", "block2" } },
        { "not-stored", { "absent" } },
    };
    for (const Case &c : cases)
        EXPECT_EQ(chain(c.file), c.expected) << c.file;
}

TEST_F(DeltaChain, BrokenReferencesGiveNoChain)
{
    insert({
        { "orphan", 0, "XTerm", "gone" }, // its reference was deleted
        { "loop1", 1, "XTerm", "loop2" }, // damaged rows naming each other
        { "loop2", 2, "XTerm", "loop1" },
        { "self", 3, "XTerm", "self" },
        { "later", 4, "XTerm", "future" }, // a reference captured after the delta cannot be its base
        { "future", 9, "XTerm", nullptr },
        { "tie1", 12, "XTerm", "tie2" }, // captured in one cycle and naming each other
        { "tie2", 12, "XTerm", "tie1" },
    });
    for (const char *file : { "orphan", "loop1", "loop2", "self", "later", "tie1", "tie2" })
        EXPECT_EQ(chain(file), QStringList { QStringLiteral("absent") }) << file;
    EXPECT_EQ(chain("future"), QStringList { QStringLiteral("future") });
}

} // namespace
