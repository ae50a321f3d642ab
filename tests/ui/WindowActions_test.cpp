#include "persistence/AppPreferences.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "support/AlertAnswers.h"
#include "support/SyntheticHistory.h"
#include "ui/DeletionAlerts.h"
#include "ui/WindowActions.h"

#include <QTest>

namespace pellux {
namespace {

using test::AlertAnswers;

struct CleanupCase {
    const char *name;
    int retentionDays; // 0: kept forever
    QStringList answers;
    int left; // of six recordings 65, 55, 45, 35, 25 and 15 days old
    QStringList messages; // of the alerts shown, in order; a trailing "Removed N screenshots, " is followed by a size
};

class CleanupAlerts : public ::testing::TestWithParam<CleanupCase> { };

// Clean Up offers the age the preferences keep, confirms what goes (Return keeps it), and says
// what it removed.
TEST_P(CleanupAlerts, DeleteWhatWasChosen)
{
    const CleanupCase &c = GetParam();
    test::TempHome home;
    AppPreferences preferences = AppPreferences::load();
    preferences.retentionDays = c.retentionDays;
    ASSERT_TRUE(preferences.save());
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
    ASSERT_TRUE(test::runEventsUntil([&] { return storage.recordingCount() == 6; }, 5000));
    WindowActions actions(nullptr, storage);

    QSignalSpy finished(&actions, &WindowActions::cleanupFinished);
    AlertAnswers answers(c.answers);
    actions.showCleanupOptions();
    ASSERT_TRUE(!finished.isEmpty() || finished.wait(20000));
    EXPECT_EQ(storage.recordingCount(), c.left);
    ASSERT_EQ(answers.messages.size(), c.messages.size()) << answers.messages.join(" | ").toStdString();
    for (qsizetype i = 0; i < c.messages.size(); ++i) {
        const QString &shown = answers.messages[i], &expected = c.messages[i];
        EXPECT_TRUE(
            expected.startsWith("Removed ") ? shown.startsWith(expected) && shown.endsWith("B") : shown == expected)
            << shown.toStdString() << " is not " << expected.toStdString();
        // Every question that deletes defaults to keeping.
        EXPECT_TRUE(i == 0 || !shown.endsWith('?') || answers.defaults[i] == "Cancel") << shown.toStdString();
    }
    EXPECT_EQ(answers.informativeTexts.value(0).contains("kept forever"), c.retentionDays == 0);
}

INSTANTIATE_TEST_SUITE_P(WindowActions, CleanupAlerts,
    ::testing::Values(CleanupCase { "cancel", 30, { "Cancel" }, 6, { "Clean Up Storage" } },
        CleanupCase { "older_than_30_days", 30, { "Delete Screenshots Older Than 30 Days", "Delete", "OK" }, 2,
            { "Clean Up Storage", "Delete 4 screenshots?", "Removed 4 screenshots, " } },
        CleanupCase { "older_than_30_days_cancelled", 30, { "Delete Screenshots Older Than 30 Days", "Cancel" }, 6,
            { "Clean Up Storage", "Delete 4 screenshots?" } },
        CleanupCase { "older_than_7_days", 7, { "Delete Screenshots Older Than 7 Days", "Delete", "OK" }, 0,
            { "Clean Up Storage", "Delete 6 screenshots?", "Removed 6 screenshots, " } },
        CleanupCase { "none_older_than_a_year", 365, { "Delete Screenshots Older Than 365 Days", "OK" }, 6,
            { "Clean Up Storage", "No Screenshots Older Than 365 Days" } },
        CleanupCase { "kept_forever_delete_all", 0, { "Delete All Screenshots", "Delete All", "OK" }, 0,
            { "Clean Up Storage", "Delete All Screenshots?", "Removed 6 screenshots, " } },
        CleanupCase { "delete_all_then_cancel", 30, { "Delete All Screenshots", "Cancel" }, 6,
            { "Clean Up Storage", "Delete All Screenshots?" } }),
    [](const auto &info) { return std::string(info.param.name); });

// The report counts in the user's locale and sizes as the storage toolbar does; a failure says why.
TEST(DeletionAlerts, ReportsWhatWentOrWhy)
{
    const QLocale before;
    const struct {
        QLocale locale;
        DeletionReport report;
        const char *message, *detail;
    } cases[] = {
        { QLocale(QLocale::English, QLocale::UnitedStates), { true, 1204, 2'100'000'000, {} },
            "Removed 1,204 screenshots, 2.1 GB", "" },
        { QLocale(QLocale::German, QLocale::Germany), { true, 1204, 2'100'000'000, {} },
            "Removed 1.204 screenshots, 2.1 GB", "" },
        { QLocale(QLocale::English, QLocale::UnitedStates), { true, 1, 1000, {} }, "Removed 1 screenshot, 1 KB", "" },
        { QLocale(QLocale::English, QLocale::UnitedStates), { true, 0, 0, {} }, "No Screenshots Were Removed", "" },
        { QLocale(QLocale::English, QLocale::UnitedStates), { false, 2000, 5'000'000, "The disk is full." },
            "Screenshots Could Not Be Deleted",
            "The disk is full. 2,000 screenshots (5 MB) were removed before that." },
    };
    for (const auto &c : cases) {
        QLocale::setDefault(c.locale);
        EXPECT_EQ(deletionReportMessage(c.report), c.message);
        EXPECT_EQ(deletionReportDetail(c.report), c.detail);
    }
    QLocale::setDefault(before);
}

} // namespace
} // namespace pellux
