#include "support/SyntheticHistory.h"

#include "imaging/ScreenshotFileName.h"
#include "persistence/RecordingJson.h"
#include "persistence/SimpleDatabaseManager.h"
#include "persistence/SqliteStatement.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"

#include <QFileInfo>

#include <random>

#include <webp/encode.h>

namespace pellux::test {

namespace {

// Ordinary screen words; none contains a planted word, whatever the case.
const char *const kVocabulary[] = { "file", "edit", "view", "window", "help", "open", "save", "close", "tab",
    "settings", "search", "report", "meeting", "budget", "project", "status", "review", "draft", "inbox", "reply",
    "forward", "calendar", "monday", "friday", "total", "amount", "page", "chapter", "notes", "summary", "build",
    "test", "branch", "commit", "merge", "server", "client", "request", "response", "error", "warning", "info", "debug",
    "value", "table", "column", "row", "chart", "slide", "photo", "image", "layer", "brush", "filter", "music", "video",
    "play", "pause", "next", "previous", "home", "back", "reload", "download", "upload", "share", "copy", "paste",
    "undo", "redo", "zoom", "print", "export", "import" };

// Each with its share of all recordings.
const std::pair<const char *, double> kPlanted[] = { { "git", 0.5 }, { "database", 0.02 }, { "zeppelin", 0.0001 } };

// A valid 2 x 2 lossless WebP, made once.
QByteArray tinyWebP()
{
    const uint8_t rgba[16] = { 200, 30, 30, 255, 30, 200, 30, 255, 30, 30, 200, 255, 240, 240, 240, 255 };
    uint8_t *out = nullptr;
    const size_t size = WebPEncodeLosslessRGBA(rgba, 2, 2, 8, &out);
    QByteArray bytes(reinterpret_cast<const char *>(out), static_cast<qsizetype>(size));
    WebPFree(out);
    return bytes;
}

std::nullopt_t fail(const QString &what)
{
    log::failure(QStringLiteral("ERROR SyntheticHistory: %1").arg(what));
    return std::nullopt;
}

// Version 4, variant 1, like the ids the store makes.
QUuid randomUuid(std::mt19937_64 &random)
{
    const quint64 words[2] = { random(), random() };
    QByteArray bytes(reinterpret_cast<const char *>(words), sizeof words);
    bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);
    return QUuid::fromRfc4122(bytes);
}

// Binds the values to the statement's parameters in order and runs it.
template <typename... Values> bool insert(sql::Statement &statement, const Values &...values)
{
    int index = 0;
    (statement.bind(++index, values), ...);
    const bool done = statement.step() == SQLITE_DONE;
    statement.reset();
    return done;
}

QString randomHash(std::mt19937_64 &random)
{
    QString hash;
    for (int i = 0; i < 4; ++i)
        hash += QStringLiteral("%1").arg(random(), 16, 16, QLatin1Char('0'));
    return hash;
}

} // namespace

const QStringList &syntheticApplications()
{
    static const QStringList names
        = { "Firefox", "Konsole", "code", "Slack", "LibreOffice Writer", "GIMP", "thunderbird", "Émail" };
    return names;
}

std::optional<SyntheticHistory> writeSyntheticHistory(const SyntheticHistoryOptions &options)
{
    const QString databasePath = SimpleDatabaseManager::defaultDatabasePath();
    if (QFileInfo::exists(databasePath))
        return fail(QStringLiteral("%1 exists already").arg(databasePath));
    QString error;
    if (!makePrivatePath(QFileInfo(databasePath).path(), &error)
        || writeNewPrivateFile(databasePath, QByteArray(), &error) != WriteOutcome::written)
        return fail(error);
    sqlite3 *opened = nullptr;
    const int openResult
        = sqlite3_open_v2(QFile::encodeName(databasePath).constData(), &opened, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(opened, &sqlite3_close);
    const auto databaseFailed = [&](const char *what) {
        return fail(QStringLiteral("%1: %2").arg(QLatin1String(what), sql::errorMessage(db.get())));
    };
    // The two tables as the application writes them, filled while they have no index or trigger
    // to keep in step; opening the manager afterwards adds its own indexes and builds the text
    // index once, in bulk. A connection of our own on a file nobody uses yet: no journal, no
    // waiting for the disk.
    if (openResult != SQLITE_OK
        || !sql::exec(db.get(),
            "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN;"
            "CREATE TABLE recordings (id TEXT PRIMARY KEY, timestamp REAL NOT NULL, "
            "display_index INTEGER NOT NULL, file_path TEXT NOT NULL, app_name TEXT, window_title TEXT, "
            "image_hash TEXT, file_size INTEGER, compression_ratio REAL, is_delta_frame INTEGER DEFAULT 0, "
            "reference_hash TEXT);"
            "CREATE TABLE ocr_text (id INTEGER PRIMARY KEY AUTOINCREMENT, recording_id TEXT NOT NULL, "
            "text TEXT NOT NULL, timestamp REAL NOT NULL, "
            "FOREIGN KEY (recording_id) REFERENCES recordings(id) ON DELETE CASCADE)"))
        return databaseFailed("create the tables");
    auto insertRecording = std::make_unique<sql::Statement>(db.get(),
        "INSERT INTO recordings (id, timestamp, display_index, file_path, app_name, window_title, image_hash, "
        "file_size, is_delta_frame, reference_hash, compression_ratio) VALUES (?, ?, 0, ?, ?, ?, ?, ?, 0, NULL, ?)");
    auto insertText = std::make_unique<sql::Statement>(
        db.get(), "INSERT INTO ocr_text (recording_id, text, timestamp) VALUES (?, ?, ?)");
    if (!insertRecording->prepared() || !insertText->prepared())
        return databaseFailed("prepare");

    const QString pellux = QFileInfo(databasePath).path();
    const QString screenshots = pellux + QStringLiteral("/Screenshots");
    const QByteArray image = options.withImageFiles ? tinyWebP() : QByteArray();
    const QStringList &apps = syntheticApplications();
    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::uniform_int_distribution<size_t> vocabulary(0, std::size(kVocabulary) - 1);
    std::uniform_int_distribution<int> otherApp(1, static_cast<int>(apps.size()) - 1);
    std::uniform_int_distribution<qint64> fileSize(8'000, 250'000);

    SyntheticHistory history;
    std::vector<Recording> list;
    const int perCycle = std::max(1, options.windowsPerCycle);
    QString folder, lastMadeFolder;
    std::map<QString, int> namesThisCycle;

    for (int i = 0; i < options.recordings; ++i) {
        const int cycle = i / perCycle;
        const TimePoint time = fromSecondsSince1970(options.firstCaptureSeconds + cycle * options.cycleSeconds);
        if (i % perCycle == 0) {
            folder = screenshots + QLatin1Char('/') + hourFolderName(time);
            namesThisCycle.clear();
        }
        std::optional<QString> app;
        if (i % 50 != 49)
            app = unit(random) < 1.0 / 3.0 ? apps.first() : apps.at(otherApp(random));
        const QString path = folder + QLatin1Char('/')
            + screenshotFileName(time, app, QStringLiteral("webp"), ++namesThisCycle[app.value_or(QString())]);
        const QString title
            = QStringLiteral("%1 %2 - %3")
                  .arg(QString::fromLatin1(kVocabulary[vocabulary(random)]),
                      QString::fromLatin1(kVocabulary[vocabulary(random)]), app.value_or(QStringLiteral("Untitled")));
        const QUuid id = randomUuid(random);
        const QString hash = randomHash(random), idText = uuidText(id);
        if (!insert(*insertRecording, idText, secondsSince1970(time), path, app, title, hash, fileSize(random), 4.0))
            return databaseFailed("insert recording");

        if (options.textCharacters > 0) {
            std::string text;
            text.reserve(static_cast<size_t>(options.textCharacters) + 32);
            while (text.size() < static_cast<size_t>(options.textCharacters)) {
                std::string word = kVocabulary[vocabulary(random)];
                if (unit(random) < 0.2)
                    word[0] = static_cast<char>(word[0] - 'a' + 'A');
                text += word;
                text += unit(random) < 0.1 ? '\n' : ' ';
            }
            for (const auto &[planted, share] : kPlanted) {
                if (unit(random) >= share)
                    continue;
                std::string word = planted;
                if (unit(random) < 0.5)
                    word[0] = static_cast<char>(word[0] - 'a' + 'A');
                const size_t at = text.find(' ', std::uniform_int_distribution<size_t>(0, text.size() - 1)(random));
                text.insert(at == std::string::npos ? text.size() : at + 1, word + ' ');
                ++history.withWord[QString::fromLatin1(planted)];
            }
            if (!insert(*insertText, idText, QString::fromStdString(text), secondsSince1970(time) + 1.0))
                return databaseFailed("insert text");
        }

        if (options.withImageFiles) {
            if (folder != lastMadeFolder && !makePrivatePath(folder, &error))
                return fail(error);
            lastMadeFolder = folder;
            if (writeNewPrivateFile(path, image, &error, Durability::unsynced) != WriteOutcome::written)
                return fail(QStringLiteral("%1: %2").arg(path, error));
        }
        if (options.withMetadata) {
            const QUrl url = QUrl::fromLocalFile(path);
            list.push_back({ .id = id,
                .timestamp = time,
                .filePath = url,
                .thumbnailPath = url,
                .appName = app,
                .windowTitle = title,
                .imageHash = hash });
        }
        ++history.recordings;
        ++(app ? history.perApplication[*app] : history.withoutApplication);
        history.oldest = i == 0 ? time : history.oldest;
        history.newest = time;
    }
    if (!sql::exec(db.get(), "COMMIT"))
        return databaseFailed("commit");
    insertRecording.reset();
    insertText.reset();
    db.reset();
    {
        SimpleDatabaseManager complete;
        if (!complete.isOpen())
            return fail(QStringLiteral("cannot open %1").arg(databasePath));
        complete.waitUntilIdle(); // the queued index builds
    }

    if (options.withMetadata) {
        // The store's order: newest first, the recordings of one capture time in the order saved.
        std::stable_sort(
            list.begin(), list.end(), [](const Recording &a, const Recording &b) { return a.timestamp > b.timestamp; });
        const QString recordingsFolder = pellux + QStringLiteral("/Recordings");
        if (!makePrivatePath(recordingsFolder, &error)
            || !writePrivateFileAtomically(
                recordingsFolder + QStringLiteral("/metadata.json"), encodeRecordings(list), &error))
            return fail(error);
    }
    return history;
}

} // namespace pellux::test
