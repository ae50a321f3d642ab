#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "support/AlertAnswers.h"
#include "support/SyntheticHistory.h"
#include "ui/WindowActions.h"

#include <QTest>

namespace pellux {
namespace {

using test::AlertAnswers;

struct CleanupCase {
    const char *name;
    QStringList answers;
    int left; // of six recordings 65, 55, 45, 35, 25 and 15 days old
};

class CleanupAlerts : public ::testing::TestWithParam<CleanupCase> { };

TEST_P(CleanupAlerts, DeleteWhatWasChosen)
{
    const CleanupCase &c = GetParam();
    test::TempHome home;
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    ASSERT_TRUE(test::writeSyntheticHistory({ .recordings = 6,
        .firstCaptureSeconds = now - 65 * 86400.0,
        .windowsPerCycle = 1,
        .cycleSeconds = 10 * 86400.0,
        .withMetadata = true,
        .withImageFiles = true }));
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index(database);
    StorageManager storage(index);
    QSignalSpy counted(&storage, &StorageManager::recordingsChanged);
    ASSERT_TRUE(storage.recordingCount() == 6 || counted.wait(5000));
    ASSERT_EQ(storage.recordingCount(), 6);
    WindowActions actions(nullptr, storage);

    QSignalSpy deleted(&storage, &StorageManager::recordingsDeleted);
    AlertAnswers answers(c.answers);
    actions.showCleanupOptions();
    if (c.left < 6)
        ASSERT_TRUE(deleted.wait(10000));
    else
        QTest::qWait(100);
    EXPECT_EQ(storage.recordingCount(), c.left);
    EXPECT_EQ(answers.informativeTexts.size(), c.answers.size());
    if (c.answers.size() > 1) {
        EXPECT_EQ(answers.informativeTexts.at(1),
            QStringLiteral("This will permanently delete all 6 screenshots. This action cannot be undone."));
    }
}

INSTANTIATE_TEST_SUITE_P(WindowActions, CleanupAlerts,
    ::testing::Values(CleanupCase { "cancel", { "Cancel" }, 6 },
        CleanupCase { "older_than_30_days", { "Delete Screenshots Older Than 30 Days" }, 2 },
        CleanupCase { "delete_all_then_cancel", { "Delete All Screenshots", "Cancel" }, 6 },
        CleanupCase { "delete_all_confirmed", { "Delete All Screenshots", "Delete All" }, 0 }),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace pellux
