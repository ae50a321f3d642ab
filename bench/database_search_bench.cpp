// Text search on a large history: 200,000 recordings of about 1,500 recognised characters each.
// Every query runs through the trigram index and through the plain LIKE statement in the same
// run; the table at the end gives each as a ratio. The database is generated once and kept beside
// this program (database_search_home/), so reruns start at once.

#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <random>
#include <set>

using namespace pellux;

namespace {

constexpr int kRecordings = 200'000;
constexpr int kTextLength = 1'500;
constexpr int kVocabulary = 20'000;
// Bump when the generated data changes, so that a stale cache is not reused.
constexpr int kDataVersion = 1;

struct Query {
    const char *label;
    const char *text;
};
// Planted in 25 recordings, in 3% of them, and in 70%.
const Query kQueries[] = { { "rare", "quetzalcoatl" }, { "medium", "kaleidoscope" }, { "common", "settings" } };
const char *kApps[] = { "Firefox", "Terminal", "Code", "Slack", "Files", "Thunderbird", "LibreOffice", "GIMP" };
const char *kFilterApp = "firefox"; // about a third of all recordings

QString homeFolder()
{
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    return QString::fromStdString((exe.parent_path() / "database_search_home").string());
}

QString databaseFile() { return homeFolder() + "/Documents/Pellux/pellux_v2.db"; }
QString markerFile() { return homeFolder() + QStringLiteral("/complete-v%1").arg(kDataVersion); }

void check(int rc, sqlite3 *db, const char *what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// Writes the recordings and their text as an older file without the index; the first open of the
// manager then builds the index, as it would for a user's existing history.
void generate()
{
    QDir(homeFolder()).removeRecursively();
    QDir().mkpath(homeFolder() + "/Documents/Pellux");
    QDir().mkpath(homeFolder() + "/.config");
    sqlite3 *db = nullptr;
    check(sqlite3_open(QFile::encodeName(databaseFile()).constData(), &db), db, "open");
    const char *schema
        = "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
          "CREATE TABLE recordings (id TEXT PRIMARY KEY, timestamp REAL NOT NULL, display_index INTEGER NOT NULL, "
          "file_path TEXT NOT NULL, app_name TEXT, window_title TEXT, image_hash TEXT, file_size INTEGER, "
          "compression_ratio REAL);"
          "CREATE TABLE ocr_text (id INTEGER PRIMARY KEY AUTOINCREMENT, recording_id TEXT NOT NULL, text TEXT NOT "
          "NULL, "
          "timestamp REAL NOT NULL, FOREIGN KEY (recording_id) REFERENCES recordings(id) ON DELETE CASCADE);"
          "BEGIN;";
    check(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), db, "schema");

    std::mt19937 random(20251207);
    std::vector<std::string> words;
    std::uniform_int_distribution<int> length(2, 10), letter(0, 25);
    for (int i = 0; i < kVocabulary; ++i) {
        std::string word;
        for (int n = length(random); n > 0; --n)
            word += static_cast<char>('a' + letter(random));
        words.push_back(word);
    }
    std::vector<double> weights;
    for (int i = 0; i < kVocabulary; ++i)
        weights.push_back(1.0 / (i + 1));
    std::discrete_distribution<int> zipf(weights.begin(), weights.end());
    std::uniform_real_distribution<double> unit(0, 1);
    std::set<int> rare;
    while (rare.size() < 25)
        rare.insert(std::uniform_int_distribution<int>(0, kRecordings - 1)(random));

    sqlite3_stmt *insertRecording = nullptr;
    sqlite3_stmt *insertText = nullptr;
    sqlite3_prepare_v2(
        db, "INSERT INTO recordings VALUES (?, ?, 0, ?, ?, ?, NULL, 100000, 4.0)", -1, &insertRecording, nullptr);
    sqlite3_prepare_v2(
        db, "INSERT INTO ocr_text (recording_id, text, timestamp) VALUES (?, ?, ?)", -1, &insertText, nullptr);
    const double start = 1'750'000'000.0;
    for (int i = 0; i < kRecordings; ++i) {
        // Windows of one cycle a millisecond apart, cycles five seconds apart.
        const double time = start + (i / 4) * 5.0 + (i % 4) * 0.001;
        const std::string id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
        const std::string path = "/home/u/Documents/Pellux/Screenshots/" + std::to_string(i) + ".webp";
        const char *app = kApps[i % 3 == 0 ? 0 : 1 + (i % 7)];
        sqlite3_bind_text(insertRecording, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(insertRecording, 2, time);
        sqlite3_bind_text(insertRecording, 3, path.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insertRecording, 4, app, -1, SQLITE_STATIC);
        sqlite3_bind_text(insertRecording, 5, "A window title", -1, SQLITE_STATIC);
        check(sqlite3_step(insertRecording), db, "recording");
        sqlite3_reset(insertRecording);

        std::string text;
        const bool planted[] = { rare.count(i) > 0, unit(random) < 0.03, unit(random) < 0.70 };
        while (text.size() < kTextLength) {
            std::string word = words[static_cast<size_t>(zipf(random))];
            if (unit(random) < 0.2)
                word[0] = static_cast<char>(std::toupper(word[0]));
            text += word;
            text += unit(random) < 0.1 ? "\n" : " ";
        }
        for (size_t q = 0; q < std::size(kQueries); ++q) {
            if (planted[q]) {
                const size_t at = text.find(' ', std::uniform_int_distribution<size_t>(0, text.size() - 1)(random));
                std::string word = kQueries[q].text;
                if (unit(random) < 0.5)
                    word[0] = static_cast<char>(std::toupper(word[0]));
                text.insert(at == std::string::npos ? text.size() : at + 1, word + " ");
            }
        }
        sqlite3_bind_text(insertText, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insertText, 2, text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(insertText, 3, time + 1);
        check(sqlite3_step(insertText), db, "text");
        sqlite3_reset(insertText);
    }
    sqlite3_finalize(insertRecording);
    sqlite3_finalize(insertText);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

SimpleDatabaseManager *g_database = nullptr;
// Mean seconds per search, by benchmark name.
std::map<std::string, double> g_seconds;
std::map<std::string, size_t> g_resultCount;

std::vector<Recording> searchNow(const QString &query, const std::optional<QString> &app)
{
    // No Qt application here, so the completion runs at once on the database queue.
    std::promise<std::vector<Recording>> done;
    g_database->searchText(query, app, [&](std::vector<Recording> results) { done.set_value(std::move(results)); });
    return done.get_future().get();
}

void searchBenchmark(benchmark::State &state, const std::string &key, const Query &query, bool withApp, bool indexed)
{
    g_database->setTextIndexEnabled(indexed);
    const std::optional<QString> app = withApp ? std::optional<QString>(kFilterApp) : std::nullopt;
    double total = 0;
    size_t count = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        count = searchNow(QString::fromLatin1(query.text), app).size();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    state.counters["results"] = static_cast<double>(count);
    g_seconds[key] = total / static_cast<double>(state.iterations());
    g_resultCount[key] = count;
    g_database->setTextIndexEnabled(true);
}

std::string name(const Query &query, bool withApp, bool indexed)
{
    return std::string(indexed ? "indexed/" : "plain/") + query.label + (withApp ? "/app" : "/all");
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    qputenv("HOME", QFile::encodeName(homeFolder()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(homeFolder() + "/.config"));
    log::setStream(stderr);

    if (!QFile::exists(markerFile())) {
        std::fprintf(stderr, "Generating %d recordings (once; kept in %s)...\n", kRecordings, qPrintable(homeFolder()));
        const auto begin = std::chrono::steady_clock::now();
        generate();
        std::fprintf(stderr, "  generated in %.1f s\n",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    {
        const auto begin = std::chrono::steady_clock::now();
        // Opened as the application opens it: a read-only open would find no index to use.
        g_database = new SimpleDatabaseManager(SimpleDatabaseManager::OpenMode::createIfMissing);
        if (!g_database->isOpen())
            return 1;
        // The index is built (when missing or of another layout) on the database queue, in batches.
        g_database->waitUntilIdle();
        std::fprintf(stderr, "  open (with an index build when needed): %.1f s, file %.0f MB\n",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(),
            QFileInfo(databaseFile()).size() / 1e6);
        QFile(markerFile()).open(QIODevice::WriteOnly);
    }

    for (const Query &query : kQueries) {
        for (bool withApp : { false, true }) {
            for (bool indexed : { false, true }) {
                auto *b = benchmark::RegisterBenchmark(name(query, withApp, indexed).c_str(), searchBenchmark,
                    name(query, withApp, indexed), query, withApp, indexed);
                b->Unit(benchmark::kMillisecond)->UseRealTime();
                if (!indexed)
                    b->Iterations(2);
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();

    std::printf("\n%-16s %12s %12s %10s %8s\n", "query", "plain ms", "indexed ms", "speed-up", "same");
    for (const Query &query : kQueries) {
        for (bool withApp : { false, true }) {
            const std::string plain = name(query, withApp, false);
            const std::string indexed = name(query, withApp, true);
            if (!g_seconds.count(plain) || !g_seconds.count(indexed))
                continue;
            g_database->setTextIndexEnabled(false);
            const std::optional<QString> app = withApp ? std::optional<QString>(kFilterApp) : std::nullopt;
            const std::vector<Recording> a = searchNow(QString::fromLatin1(query.text), app);
            g_database->setTextIndexEnabled(true);
            const std::vector<Recording> b = searchNow(QString::fromLatin1(query.text), app);
            bool same = a.size() == b.size();
            for (size_t i = 0; same && i < a.size(); ++i)
                same = a[i].id == b[i].id;
            std::printf("%-16s %12.1f %12.2f %9.0fx %8s  (%zu results)\n",
                (std::string(query.label) + (withApp ? " +app" : "")).c_str(), g_seconds[plain] * 1e3,
                g_seconds[indexed] * 1e3, g_seconds[plain] / g_seconds[indexed], same ? "yes" : "NO",
                g_resultCount[indexed]);
        }
    }
    delete g_database;
    benchmark::Shutdown();
    return 0;
}
