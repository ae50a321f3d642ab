// "Open" in the day view: the window turns to that day's captures and selects the one under the
// playhead, paging in as far as it lies; a query typed meanwhile wins.
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "support/FakeClock.h"
#include "support/SyntheticHistory.h"
#include "support/TempHome.h"
#include "support/TestFiles.h"
#include "ui/DayTimelineModel.h"
#include "ui/SearchModel.h"

namespace pellux {
namespace {

TEST(DayReveal, SelectsTheDaysCapturePagingInAsFarAsItLies)
{
    test::TempHome home;
    // 910 captures within 22 minutes of one afternoon: more than a page.
    const auto history = test::writeSyntheticHistory({ .recordings = 910, .windowsPerCycle = 7, .cycleSeconds = 10 });
    ASSERT_TRUE(history);
    test::FakeClock clock { fromSecondsSince1970(secondsSince1970(history->newest) + 3 * 86400) };
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index { database };
    StorageManager storage { index };
    SearchModel model { database, storage, clock };
    DayTimelineModel day { database };
    QObject::connect(
        &day, &DayTimelineModel::openRequested, &model, [&](const QString &id) { model.reveal(QUuid(id), day.day()); });

    const QDate shownDay = localDay(history->oldest);
    QSignalSpy dayShown(&day, &DayTimelineModel::dayShown);
    day.showDay(shownDay);
    ASSERT_TRUE(dayShown.wait(10'000));
    ASSERT_EQ(day.count(), 910);
    ASSERT_GT(day.count(), StorageManager::kBrowsePageSize);
    day.setCurrentIndex(0); // the oldest: on the last page
    model.setSearchText(QStringLiteral("git"));
    model.setSelectedApp(test::syntheticApplications().first());

    QSignalSpy opened(&day, &DayTimelineModel::openRequested);
    QSignalSpy revealed(&model, &SearchModel::revealed);
    day.openCurrent();
    ASSERT_TRUE(revealed.wait(10'000));
    const int row = revealed.first().first().toInt();
    EXPECT_GE(row, StorageManager::kBrowsePageSize);
    EXPECT_EQ(model.selectedIndex(), row);
    EXPECT_EQ(model.results()->recordingAt(row).id, QUuid(opened.first().first().toString()));
    EXPECT_TRUE(model.searchText().isEmpty());
    EXPECT_TRUE(model.selectedApp().isEmpty());
    EXPECT_EQ(model.timeRange().since, localDayStart(shownDay));

    // Typed before the day's first page came in: the query's answer, queued after that page, is
    // shown and nothing is opened.
    QSignalSpy shown(&model, &SearchModel::resultsShown);
    day.openCurrent();
    model.setSearchText(QStringLiteral("git"));
    ASSERT_TRUE(shown.wait(10'000));
    QCoreApplication::processEvents();
    EXPECT_EQ(revealed.count(), 1);
    EXPECT_EQ(model.searchText(), "git");
}

} // namespace
} // namespace pellux
