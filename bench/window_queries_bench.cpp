// What the search window asks the database for, on a synthetic history of 200,000 recordings
// (100 days of 2,000 captures): the application names, pages of one application's recordings (the
// browse with an empty query: the first page, a page halfway down reached through the cursor, and
// every page in turn), text searches of 3 and 8 characters, the counts a clean-up confirms, and browsing by time: pages
// of the timeline (first and halfway down), one application's page within a week, the days with captures of a month and
// of a year, one day's captures, and the searches within a week and within the oldest week. Baselines in the same run:
// the same calls on 1,000 recordings, the first page for a deeper one, the unranged search for a ranged one, and for
// the names the walk over the in-memory recordings list that the window would otherwise do on its GUI thread.

#include "persistence/RecordingJson.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"
#include "storage/StorageManager.h"
#include "support/SyntheticHistory.h"
#include "support/TempHome.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <set>

using namespace pellux;
using namespace pellux::test;

namespace {

constexpr int kLarge = 200'000;
constexpr int kSmall = 1'000;

struct History {
    std::unique_ptr<TempHome> home;
    std::unique_ptr<SimpleDatabaseManager> database;
    SyntheticHistory written;
};

History g_large;
History g_small;
// The list StorageManager holds for the large history (its metadata.json, decoded).
std::vector<Recording> g_list;
std::map<std::string, double> g_seconds; // mean seconds per call, by benchmark name
std::map<std::string, size_t> g_answerSize;

History makeHistory(int recordings, bool withMetadata)
{
    History h;
    h.home = std::make_unique<TempHome>();
    SyntheticHistoryOptions options;
    options.recordings = recordings;
    options.withMetadata = withMetadata;
    options.cycleSeconds = 86400.0 / 500; // 2,000 captures a day at 4 windows a cycle
    const auto begin = std::chrono::steady_clock::now();
    const std::optional<SyntheticHistory> written = writeSyntheticHistory(options);
    if (!written) {
        std::fprintf(stderr, "cannot write the synthetic history\n");
        std::exit(1);
    }
    h.written = *written;
    const double generated = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    h.database = std::make_unique<SimpleDatabaseManager>(SimpleDatabaseManager::OpenMode::existingOnly);
    h.database->waitUntilIdle(); // indexes and the text index are ready before anything is measured
    std::fprintf(stderr, "%d recordings: written in %.1f s, opened in %.1f s\n", recordings, generated,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() - generated);
    return h;
}

// No Qt application here, so completions run at once on the database queue.
template <typename T, typename Start> T answer(Start start)
{
    std::promise<T> done;
    start([&](T value) { done.set_value(std::move(value)); });
    return done.get_future().get();
}

template <typename Call> void measure(benchmark::State &state, const std::string &key, Call call)
{
    double total = 0;
    size_t size = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        size = call();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    state.counters["answer"] = static_cast<double>(size);
    g_seconds[key] = total / static_cast<double>(state.iterations());
    g_answerSize[key] = size;
}

size_t names(History &h)
{
    return answer<ApplicationNames>([&](auto done) { h.database->applicationNames(done); }).names.size();
}

constexpr int kPage = StorageManager::kBrowsePageSize;

RecordingPage page(History &h, const QString &app, std::optional<RecordingPageCursor> after = std::nullopt)
{
    return answer<RecordingPage>([&](auto done) { h.database->recordingsOfApplication(app, kPage, after, done); });
}

size_t browse(History &h, const QString &app, std::optional<RecordingPageCursor> after = std::nullopt)
{
    return page(h, app, after).recordings.size();
}

// Every page in turn: what scrolling to the very end costs in all.
size_t browseAll(History &h, const QString &app)
{
    size_t total = 0;
    std::optional<RecordingPageCursor> after;
    do {
        RecordingPage p = page(h, app, after);
        total += p.recordings.size();
        after = p.next;
    } while (after);
    return total;
}

// The cursor of the page halfway down an application's recordings.
std::optional<RecordingPageCursor> halfwayCursor(History &h, const QString &app)
{
    const int pages = h.written.perApplication[app] / kPage;
    std::optional<RecordingPageCursor> after;
    for (int i = 0; i < pages / 2; ++i)
        after = page(h, app, after).next;
    return after;
}

std::optional<RecordingPageCursor> g_halfwayLarge;

size_t search(History &h, const QString &query)
{
    return answer<std::vector<Recording>>([&](auto done) { h.database->searchText(query, std::nullopt, done); }).size();
}

// The week before the newest capture, or the oldest week.
TimeRange newestWeek(const History &h) { return { h.written.newest - Seconds(7 * 86400.0), std::nullopt }; }
TimeRange oldestWeek(const History &h) { return { std::nullopt, h.written.oldest + Seconds(7 * 86400.0) }; }

size_t rangedSearch(History &h, const QString &query, const TimeRange &range)
{
    return answer<SearchAnswer>([&](auto done) {
        h.database->findText(query, std::nullopt, range, SimpleDatabaseManager::kSearchLimit, done);
    }).recordings.size();
}

RecordingPage timeline(History &h, const std::optional<QString> &app, const TimeRange &range,
    std::optional<RecordingPageCursor> after = std::nullopt)
{
    return answer<RecordingPage>([&](auto done) { h.database->timelinePage(app, range, kPage, after, done); });
}

std::optional<RecordingPageCursor> g_timelineHalfway;

size_t days(History &h, int spanDays)
{
    const QDate last = localDay(h.written.newest);
    return answer<CaptureDays>([&](auto done) {
        h.database->captureDays(last.addDays(1 - spanDays), last, done);
    }).days.size();
}

size_t dayOf(History &h)
{
    const QDate busy = localDay(h.written.newest).addDays(-1); // a whole day
    return answer<DayCaptures>([&](auto done) { h.database->dayCaptures(busy, done); }).captures.size();
}

// What the window would do on its GUI thread without these calls.
size_t walkNames()
{
    std::set<QString> distinct;
    for (const Recording &r : g_list) {
        if (r.appName)
            distinct.insert(*r.appName);
    }
    const QStringList sorted(distinct.begin(), distinct.end());
    return static_cast<size_t>(sorted.size());
}

// What a clean-up confirms before it deletes: how many recordings of one application, or older than
// a cutoff halfway through the history, the database counts.
size_t countOfApp(History &h, const QString &app)
{
    return size_t(answer<std::optional<qint64>>([&](auto done) {
        h.database->countRecordings(std::nullopt, app, done);
    }).value_or(-1));
}

size_t countOlder(History &h)
{
    const TimePoint halfway
        = fromSecondsSince1970((secondsSince1970(h.written.oldest) + secondsSince1970(h.written.newest)) / 2);
    return size_t(answer<std::optional<qint64>>([&](auto done) {
        h.database->countRecordings(halfway, std::nullopt, done);
    }).value_or(-1));
}

QString biggestApp() { return syntheticApplications().first(); }
QString smallApp() { return syntheticApplications().last(); }

void registerAll()
{
    const auto add = [](const std::string &key, auto call) {
        benchmark::RegisterBenchmark(key.c_str(), [key, call](benchmark::State &state) { measure(state, key, call); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    };
    add("names/200k", [] { return names(g_large); });
    add("names/1k", [] { return names(g_small); });
    add("names/walk_200k", [] { return walkNames(); });
    add("browse_big/200k", [] { return browse(g_large, biggestApp()); });
    add("browse_big/1k", [] { return browse(g_small, biggestApp()); });
    add("browse_big_halfway/200k", [] { return browse(g_large, biggestApp(), g_halfwayLarge); });
    add("browse_big_all/200k", [] { return browseAll(g_large, biggestApp()); });
    add("browse_big_all/1k", [] { return browseAll(g_small, biggestApp()); });
    add("browse_small/200k", [] { return browse(g_large, smallApp()); });
    add("browse_small/1k", [] { return browse(g_small, smallApp()); });
    add("count_app/200k", [] { return countOfApp(g_large, biggestApp()); });
    add("count_app/1k", [] { return countOfApp(g_small, biggestApp()); });
    add("count_older/200k", [] { return countOlder(g_large); });
    add("count_older/1k", [] { return countOlder(g_small); });
    add("search_3/200k", [] { return search(g_large, QStringLiteral("git")); });
    add("search_3/1k", [] { return search(g_small, QStringLiteral("git")); });
    add("search_8/200k", [] { return search(g_large, QStringLiteral("database")); });
    add("search_8/1k", [] { return search(g_small, QStringLiteral("database")); });
    add("search_3_week/200k", [] { return rangedSearch(g_large, QStringLiteral("git"), newestWeek(g_large)); });
    add("search_8_week/200k", [] { return rangedSearch(g_large, QStringLiteral("database"), newestWeek(g_large)); });
    add("search_8_oldest_week/200k",
        [] { return rangedSearch(g_large, QStringLiteral("database"), oldestWeek(g_large)); });
    add("search_rare/200k", [] { return search(g_large, QStringLiteral("zeppelin")); });
    add("search_rare_week/200k", [] { return rangedSearch(g_large, QStringLiteral("zeppelin"), newestWeek(g_large)); });
    add("timeline/200k", [] { return timeline(g_large, std::nullopt, {}).recordings.size(); });
    add("timeline/1k", [] { return timeline(g_small, std::nullopt, {}).recordings.size(); });
    add("timeline_halfway/200k",
        [] { return timeline(g_large, std::nullopt, {}, g_timelineHalfway).recordings.size(); });
    add("timeline_app_week/200k",
        [] { return timeline(g_large, biggestApp(), oldestWeek(g_large)).recordings.size(); });
    add("days_month/200k", [] { return days(g_large, 31); });
    add("days_year/200k", [] { return days(g_large, 366); });
    add("day_captures/200k", [] { return dayOf(g_large); });
}

void printRow(const std::string &label, const std::string &measured, const std::string &baseline)
{
    if (!g_seconds.count(measured) || !g_seconds.count(baseline))
        return;
    std::printf("%-34s %10.2f %10.2f %10.1fx %9zu\n", label.c_str(), g_seconds[measured] * 1e3,
        g_seconds[baseline] * 1e3, g_seconds[measured] / g_seconds[baseline], g_answerSize[measured]);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    log::setStream(stderr);
    g_large = makeHistory(kLarge, true);
    {
        QFile metadata(g_large.home->pelluxFolder() + QStringLiteral("/Recordings/metadata.json"));
        if (!metadata.open(QIODevice::ReadOnly))
            return 1;
        g_list = decodeRecordings(metadata.readAll()).value_or(std::vector<Recording> {});
    }
    // Opened inside the large history's home, so its own TempHome must go first at the end.
    g_small = makeHistory(kSmall, false);
    std::fprintf(stderr, "'%s': %d of %d recordings, '%s': %d\n", qPrintable(biggestApp()),
        g_large.written.perApplication[biggestApp()], kLarge, qPrintable(smallApp()),
        g_large.written.perApplication[smallApp()]);

    g_halfwayLarge = halfwayCursor(g_large, biggestApp());
    if (!g_halfwayLarge) {
        std::fprintf(stderr, "no page halfway down '%s'\n", qPrintable(biggestApp()));
        return 1;
    }
    {
        std::optional<RecordingPageCursor> after;
        for (int page = 0; page < kLarge / kPage / 2; ++page)
            after = timeline(g_large, std::nullopt, {}, after).next;
        g_timelineHalfway = after;
    }
    registerAll();
    benchmark::RunSpecifiedBenchmarks();

    std::printf("\n%-34s %10s %10s %11s %9s\n", "200,000 recordings vs baseline", "ms", "base ms", "ratio", "answer");
    printRow("names vs 1,000", "names/200k", "names/1k");
    printRow("names vs in-memory walk", "names/200k", "names/walk_200k");
    printRow("first page, biggest app vs 1,000", "browse_big/200k", "browse_big/1k");
    printRow("halfway page, biggest vs 1,000", "browse_big_halfway/200k", "browse_big/1k");
    printRow("every page, biggest app vs 1,000", "browse_big_all/200k", "browse_big_all/1k");
    printRow("first page, small app vs 1,000", "browse_small/200k", "browse_small/1k");
    printRow("count of biggest app vs 1,000", "count_app/200k", "count_app/1k");
    printRow("count older than halfway vs 1,000", "count_older/200k", "count_older/1k");
    printRow("search 'git' vs 1,000", "search_3/200k", "search_3/1k");
    printRow("search 'database' vs 1,000", "search_8/200k", "search_8/1k");
    printRow("search 'git', newest week vs all", "search_3_week/200k", "search_3/200k");
    printRow("search 'database', newest week vs all", "search_8_week/200k", "search_8/200k");
    printRow("search 'database', oldest week vs all", "search_8_oldest_week/200k", "search_8/200k");
    printRow("search 'zeppelin', newest week vs all", "search_rare_week/200k", "search_rare/200k");
    printRow("timeline first page vs 1,000", "timeline/200k", "timeline/1k");
    printRow("timeline halfway page vs first", "timeline_halfway/200k", "timeline/200k");
    printRow("biggest app, oldest week vs first", "timeline_app_week/200k", "browse_big/200k");
    printRow("days of a month vs timeline page", "days_month/200k", "timeline/200k");
    printRow("days of a year vs timeline page", "days_year/200k", "timeline/200k");
    printRow("one day's captures vs timeline page", "day_captures/200k", "timeline/200k");

    g_small.database.reset();
    g_small.home.reset();
    g_large.database.reset();
    g_large.home.reset();
    benchmark::Shutdown();
    return 0;
}
