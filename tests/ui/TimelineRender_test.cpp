// The day view of the search window over a busy day (many applications, thumbnails on disk) and
// its date picker, rendered offscreen for a person to look at; the frame shown must be the one
// under the playhead.
#include "WindowRender.h"
#include "imaging/Thumbnail.h"
#include "persistence/DatabaseTestSupport.h"
#include "runtime/PrivateFiles.h"
#include "ui/DayTimeline.h"
#include "ui/DayTimelineModel.h"
#include "ui/MonthCalendarModel.h"
#include "ui/SearchModel.h"
#include "ui/SearchWindow.h"

#include <QBuffer>
#include <QPainter>

#include <map>
#include <set>

namespace pellux::test {
namespace {

class TimelineRender : public WindowTest {
protected:
    TimelineRender() { start(); }

    // A frame filled with its application's colour, named in its top-left corner.
    static QImage frame(QDateTime when, const QString &app)
    {
        QImage frame(640, 400, QImage::Format_RGB32);
        frame.fill(timeline::applicationColor(app));
        QPainter painter(&frame);
        painter.setPen(Qt::white);
        painter.setFont(QFont(QString(), 24));
        painter.drawText(QRect(20, 20, 300, 100), Qt::AlignLeft, app + QLatin1Char('\n') + when.toString("HH:mm"));
        return frame;
    }

    // That frame with its thumbnail beside it, its row written straight into the database.
    void capture(QDateTime when, const QString &app)
    {
        const QString path = QStringLiteral("%1/%2.png").arg(folder.path()).arg(when.toSecsSinceEpoch());
        const QImage image = frame(when, app);
        ASSERT_TRUE(image.save(path));
        ASSERT_TRUE(writePrivateFileAtomically(thumbnail::pathFor(path), *thumbnail::encode(image)));
        ASSERT_TRUE(saveRecording(
            *pipeline.database, makeRecording(when.toMSecsSinceEpoch() / 1000.0, path, app, QStringLiteral("Window"))));
    }

    // That frame saved by the store now, as capture saves one.
    void save(const QString &app)
    {
        const QImage image = frame(QDateTime::fromSecsSinceEpoch(qint64(secondsSince1970(pipeline.clock.now()))), app);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "JPG"));
        ASSERT_TRUE(QCoro::waitFor(pipeline.storage->saveScreenshot(jpeg, pipeline.clock.now(), 0, app,
            QStringLiteral("Window"), std::nullopt, false, std::nullopt, std::nullopt, *thumbnail::encode(image))));
    }

    void open()
    {
        // The rows written straight into the database are counted too.
        QCoro::waitFor(pipeline.storage->refreshRecordingCount());
        window = std::make_unique<SearchWindow>(SearchWindow::Components {
            nullptr, pipeline.storage.get(), pipeline.database.get(), nullptr, &pipeline.clock });
        ASSERT_TRUE(window->build());
        window->window()->show();
        window->window()->requestActivate();
        ASSERT_TRUE(runEventsUntil(
            [&] { return window->searchModel()->contentState() == SearchModel::ContentState::Results; }));
    }

    // The topmost day header within the list's view (the rows' children).
    QString firstHeader() const
    {
        QQuickItem *list = item("timeline");
        std::map<qreal, QString> shown;
        for (QQuickItem *row : qvariant_cast<QQuickItem *>(list->property("contentItem"))->childItems()) {
            for (QQuickItem *i : row->childItems()) {
                const qreal y = i->mapToItem(list, QPointF()).y();
                if (i->objectName() == QLatin1String("dayHeader") && i->isVisible() && y >= 0 && y < list->height())
                    shown.emplace(y, i->property("text").toString());
            }
        }
        return shown.empty() ? QString() : shown.begin()->second;
    }

    QQuickItem *item(const char *name) const { return find(window->window(), name); }
    // Whether the frame's centre shows the colour, give or take the thumbnail's lossy coding.
    bool shows(QColor colour) const
    {
        const QQuickItem *frame = item("timelineFrame");
        const QPointF c = frame->mapToScene(QPointF(frame->width() / 2, frame->height() / 2));
        const QColor seen = window->window()->grabWindow().pixelColor(c.toPoint());
        return std::abs(seen.red() - colour.red()) + std::abs(seen.green() - colour.green())
            + std::abs(seen.blue() - colour.blue())
            < 12;
    }

    QTemporaryDir folder;
    std::unique_ptr<SearchWindow> window;
};

TEST_F(TimelineRender, BusyDayAndItsDatePicker)
{
    const QStringList apps { "Terminal", "Firefox", "Mail", "Code", "Slack", "Files", "Calendar", "Music" };
    pipeline.clock.set(fromSecondsSince1970(double(QDateTime::currentSecsSinceEpoch())));
    const QDate today = localDay(pipeline.clock.now());
    // Work from 07:00 to 22:00 in bursts, with a quiet lunch; a few earlier days of the month.
    int todays = 0;
    for (int i = 0; i < 160; ++i) {
        const int minute = 7 * 60 + i * 900 / 160;
        if (minute >= 12 * 60 + 10 && minute < 13 * 60)
            continue;
        ++todays;
        capture(QDateTime(today, QTime(minute / 60, minute % 60, i % 60)), apps[(i / 7 + i % 3) % apps.size()]);
    }
    for (const int back : { 1, 2, 5, 9 })
        capture(QDateTime(today.addDays(-back), QTime(10, 0)), apps[back % apps.size()]);

    // The window opens on the timeline, each day under its header; "Last 7 days" counts its days.
    open();
    SearchModel &search = *window->searchModel();
    EXPECT_TRUE(item("timeline")->isVisible() && !item("resultsGrid")->isVisible());
    EXPECT_EQ(firstHeader(), "Today");
    QSet<QString> days;
    for (int row = 0; row < search.timelineRows()->rowCount(); ++row)
        days << search.timelineRows()->index(row).data(TimelineRows::DayRole).toString();
    EXPECT_TRUE(days.contains("Yesterday")) << days.values().join(", ").toStdString();
    renderWindow(window->window(), "timeline", { { 800, 600 }, { 1600, 1000 } });
    search.toggleDateFilter(QStringLiteral("last7"));
    ASSERT_TRUE(runEventsUntil([&] { return search.countText() == date_filters::countText(todays + 3); }));
    EXPECT_EQ(item("countText")->property("text").toString(), search.countText());
    EXPECT_TRUE(item("rangeLabel")->isVisible());
    renderWindow(window->window(), "timeline-last7", { { 800, 600 }, { 1600, 1000 } });
    DayTimelineModel &model = *window->dayTimeline();
    QSignalSpy shown(&model, &DayTimelineModel::dayShown);
    QTest::keyClick(window->window(), Qt::Key_D, Qt::ControlModifier);
    ASSERT_TRUE(received(shown));
    EXPECT_EQ(model.day(), today);
    ASSERT_GT(model.count(), 140);
    ASSERT_TRUE(runEventsUntil([&] { return model.frameExact(); }));
    renderWindow(window->window(), "day-view", { { 800, 600 }, { 1400, 900 } });
    // Eight applications, eight colours on the bar and in the legend.
    std::set<QRgb> colours;
    for (const QVariant &entry : model.legend())
        colours.insert(entry.toMap().value("color").value<QColor>().rgb());
    EXPECT_EQ(colours.size(), 8u);

    // The labels and the frame follow the playhead: the last capture, then Home the first.
    const auto current = [&] { return model.captures()[size_t(model.currentIndex())]; };
    EXPECT_EQ(item("currentTime")->property("text").toString(), model.currentTime());
    EXPECT_EQ(item("currentApp")->property("text").toString(), *current().appName);
    EXPECT_TRUE(shows(timeline::applicationColor(*current().appName)));
    QTest::keyClick(window->window(), Qt::Key_Home);
    ASSERT_TRUE(runEventsUntil([&] { return model.frameExact(); }));
    EXPECT_TRUE(shows(timeline::applicationColor(*current().appName)));
    EXPECT_EQ(item("currentTime")->property("text").toString(), QStringLiteral("07:00:00"));

    // The calendar for this month: today and the earlier days with captures can be picked.
    MonthCalendarModel &calendar = *window->calendar();
    QSignalSpy loaded(&calendar, &MonthCalendarModel::daysLoaded);
    QMetaObject::invokeMethod(item("pickDayButton"), "clicked");
    ASSERT_TRUE(received(loaded));
    EXPECT_TRUE(calendar.hasCaptures(today));
    renderWindow(window->window(), "date-picker", { { 800, 600 } });

    // The date filter's range: today, then two days back by the keys; Enter ends it.
    QTest::keyClick(window->window(), Qt::Key_Escape);
    QTest::keyClick(window->window(), Qt::Key_Escape);
    QSignalSpy range(&calendar, &MonthCalendarModel::rangePicked);
    loaded.clear();
    QMetaObject::invokeMethod(window->window(), "pickDateRange");
    ASSERT_TRUE(received(loaded));
    EXPECT_TRUE(calendar.pick(today));
    QTest::keyClick(window->window(), Qt::Key_Left);
    QTest::keyClick(window->window(), Qt::Key_Left);
    if (calendar.loading()) {
        ASSERT_TRUE(loaded.wait());
    }
    renderWindow(window->window(), "date-range", { { 800, 600 } });
    QTest::keyClick(window->window(), Qt::Key_Return);
    ASSERT_EQ(range.size(), 1);
    EXPECT_EQ(range[0][0].toDate(), today.addDays(-2));
    EXPECT_EQ(range[0][1].toDate(), today);
}

// While the window stays open, screenshots saved join the timeline above the cards shown (the
// place scrolled to and the selection kept) and the day view's bar; past midnight the day words
// and the day view move on to the new day.
TEST_F(TimelineRender, KeepsUpWithNewCapturesAndMidnight)
{
    const QDate today = QDate::currentDate();
    pipeline.clock.set(fromSecondsSince1970(secondsSince1970(localDayStart(today.addDays(1))) - 2));
    const QStringList apps { "Terminal", "Firefox", "Mail" };
    for (int i = 0; i < 16; ++i)
        capture(QDateTime(today.addDays(-1), QTime(9 + i / 2, i % 2 * 30)), apps[i % 3]);
    for (int i = 0; i < 4; ++i)
        capture(QDateTime(today, QTime(20, i * 10)), apps[i % 3]);
    open();
    SearchModel &search = *window->searchModel();
    const RecordingListModel &cards = *search.results();
    QQuickItem *list = item("timeline");
    const auto cardAtTop = [&] {
        int row = -1;
        QMetaObject::invokeMethod(list, "indexAt", Q_RETURN_ARG(int, row), Q_ARG(qreal, 100),
            Q_ARG(qreal, list->property("contentY").toReal() + 60));
        return row < 0 ? QUuid() : cards.recordingAt(search.timelineRows()->rows()[size_t(row)].first).id;
    };
    // Today's first card selected, then scrolled down to yesterday's: the selection is out of view.
    search.setSelectedIndex(0);
    const QUuid selected = cards.recordingAt(0).id;
    QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, 4), Q_ARG(int, 0));
    ASSERT_TRUE(runEventsUntil([&] { return !cardAtTop().isNull(); }));
    const QUuid top = cardAtTop();
    save("Code");
    save("Slack");
    ASSERT_TRUE(runEventsUntil([&] { return cards.count() == 22; }));
    EXPECT_TRUE(runEventsUntil([&] { return cardAtTop() == top; }));
    EXPECT_EQ(std::pair(cards.recordingAt(search.selectedIndex()).id, *cards.recordingAt(0).appName),
        std::pair(selected, QStringLiteral("Slack")));
    EXPECT_EQ(search.countText(), date_filters::countText(22));
    QMetaObject::invokeMethod(list, "positionViewAtBeginning");
    renderWindow(window->window(), "timeline-new-captures", { { 800, 600 } });

    // The day view of today gains a tick for the next save; its playhead stays.
    DayTimelineModel &day = *window->dayTimeline();
    QSignalSpy shown(&day, &DayTimelineModel::dayShown);
    QTest::keyClick(window->window(), Qt::Key_D, Qt::ControlModifier);
    ASSERT_TRUE(received(shown));
    day.setCurrentIndex(0);
    save("Files");
    ASSERT_TRUE(runEventsUntil([&] { return day.count() == 7; }));
    EXPECT_EQ(day.currentIndex(), 0);

    // Midnight: the day view moves on to the new day, the headers name the day before "Yesterday".
    pipeline.clock.set(fromSecondsSince1970(secondsSince1970(localDayStart(today.addDays(1))) + 1));
    ASSERT_TRUE(runEventsUntil([&] { return day.day() == today.addDays(1) && day.count() == 0; }));
    QTest::keyClick(window->window(), Qt::Key_Escape);
    EXPECT_TRUE(runEventsUntil([&] { return firstHeader() == "Yesterday"; })) << firstHeader().toStdString();
    // The date picker opens on the new day and marks it as today.
    MonthCalendarModel &calendar = *window->calendar();
    calendar.open();
    int row = 0;
    while (row < timeline::kGridDays - 1 && calendar.cellDate(row) != today.addDays(1))
        ++row;
    EXPECT_EQ(std::pair(calendar.focusDay(), calendar.index(row).data(MonthCalendarModel::TodayRole).toBool()),
        std::pair(today.addDays(1), true));
    renderWindow(window->window(), "timeline-after-midnight", { { 800, 600 }, { 1600, 1000 } });
}

} // namespace
} // namespace pellux::test
