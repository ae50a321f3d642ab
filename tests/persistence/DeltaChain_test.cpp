// The stored files that rebuild a delta frame, found through the rows the capture pipeline writes.
#include "persistence/DatabaseTestSupport.h"

using namespace pellux;
using namespace pellux::test;

namespace {

struct Row {
    const char *file; // also the row's image hash
    double seconds;
    const char *app;
    const char *reference; // nullptr: a full frame
};

// The chain's file names, or {"absent"}.
QStringList chain(SimpleDatabaseManager &db, const char *file)
{
    const auto links = awaitCompletion<std::optional<std::vector<DeltaChainLink>>>(
        [&](auto done) { db.getDeltaChain(QStringLiteral("/shots/") + QLatin1String(file), done); });
    if (!links)
        return { QStringLiteral("absent") };
    QStringList names;
    for (const DeltaChainLink &link : *links) {
        names << link.filePath.section(QLatin1Char('/'), -1);
        EXPECT_EQ(link.compressionRatio, 2.5);
        EXPECT_EQ(link.isDeltaFrame, names.size() > 1);
    }
    return names;
}

} // namespace

TEST_F(DatabaseTest, DeltaChainsFollowTheWindowsDeltasBackToTheirReferenceAndBrokenOnesAreAbsent)
{
    const Row rows[] = {
        { "r1", 0, "XTerm", nullptr },
        { "other", 1, "XTerm", nullptr }, // another window of the same application
        { "a", 5, "XTerm", "r1" },
        { "o1", 5, "XTerm", "other" },
        { "same-ref-other-app", 6, "Kate", "r1" }, // a row naming r1 from elsewhere is not ours
        { "b", 10, "XTerm", "r1" },
        { "c", 15, "XTerm", "r1" },
        { "r2", 20, "XTerm", nullptr }, // the window changed a lot: a new reference
        { "d", 25, "XTerm", "r2" },
        // A block-based delta matched against a frame stored as a delta applies to it directly.
        { "block", 30, "Gimp", "c" },
        { "block2", 35, "Gimp", "block" },
        { "orphan", 40, "XTerm", "gone" }, // its reference was deleted
        { "loop1", 41, "XTerm", "loop2" }, // damaged rows naming each other
        { "loop2", 42, "XTerm", "loop1" },
        { "self", 43, "XTerm", "self" },
        { "later", 44, "XTerm", "future" }, // a reference captured after the delta cannot be its base
        { "future", 49, "XTerm", nullptr },
        { "tie1", 52, "XTerm", "tie2" }, // captured in one cycle and naming each other
        { "tie2", 52, "XTerm", "tie1" },
    };
    for (const Row &row : rows) {
        Recording r = makeRecording(1.7e9 + row.seconds, QStringLiteral("/shots/") + row.file, row.app);
        const std::optional<QString> reference = row.reference ? std::optional<QString>(row.reference) : std::nullopt;
        ASSERT_EQ(
            writeRecording(db(), r, QString(row.file), 100, reference.has_value(), reference, 2.5), RowWrite::written);
    }
    const std::pair<const char *, QStringList> cases[] = {
        { "r1", { "r1" } },
        { "a", { "r1", "a" } },
        { "c", { "r1", "a", "b", "c" } },
        { "o1", { "other", "o1" } },
        { "d", { "r2", "d" } },
        { "block", { "r1", "a", "b", "c", "block" } },
        { "block2", { "r1", "a", "b", "c", "block", "block2" } },
        { "future", { "future" } },
        { "not-stored", { "absent" } },
    };
    for (const auto &[file, expected] : cases)
        EXPECT_EQ(chain(db(), file), expected) << file;
    for (const char *file : { "orphan", "loop1", "loop2", "self", "later", "tie1", "tie2" })
        EXPECT_EQ(chain(db(), file), QStringList { "absent" }) << file;
}
