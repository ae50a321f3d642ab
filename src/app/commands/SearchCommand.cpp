#include "app/commands/Commands.h"

#include "app/commands/DateArgument.h"

#include "persistence/RecordingJson.h"
#include "persistence/SimpleDatabaseManager.h"
#include "persistence/TextMatches.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace pellux::commands {

namespace {

struct SearchOptions {
    QString query;
    std::optional<QString> appName;
    TimeRange range;
    int limit = SimpleDatabaseManager::kSearchLimit;
    bool json = false;
};

int usage(const QString &problem)
{
    std::fprintf(stderr,
        "pellux search: %s\nUsage: pellux search [QUERY] [--app NAME] [--since DATE] [--until DATE] [--limit N] "
        "[--json]\n",
        qPrintable(problem));
    return kExitUsage;
}

// One field of a result line: tabs and line breaks in titles would split the line.
QString field(const std::optional<QString> &value)
{
    QString text = value.value_or(QString());
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return text;
}

void printLine(const Recording &recording)
{
    const QString time
        = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSince1970(recording.timestamp) * 1000))
              .toLocalTime()
              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString line
        = QStringList { time, field(recording.appName), field(recording.windowTitle), field(recording.localPath()) }
              .join(QLatin1Char('\t'));
    std::printf("%s\n", line.toUtf8().constData());
}

// Runs the event loop (when there is one) until the future has its answer.
template <typename T> T waitFor(const QFuture<T> &answer)
{
    while (!answer.isFinished()) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return answer.result();
}

// Where the query is on the stored image, from the word boxes stored with its text: one
// {x, y, width, height} per line of each occurrence; none for text stored without boxes.
QByteArray matchesJson(const std::optional<RecordingText> &stored, const QString &query)
{
    QJsonArray boxes;
    if (stored) {
        for (const TextMatch &match : findMatches(*stored, query)) {
            for (const QRect &box : match.boxes)
                boxes.append(QJsonObject {
                    { "x", box.x() }, { "y", box.y() }, { "width", box.width() }, { "height", box.height() } });
        }
    }
    return QJsonDocument(boxes).toJson(QJsonDocument::Compact);
}

// The results as JSON, each with its matched line as plain text ("snippet", null when only the
// title or application name matched) and where the query is on its image ("matches").
QByteArray encodeResults(const SearchAnswer &answer, SimpleDatabaseManager &database, const QString &query)
{
    // Every text asked for at once: the database queue answers them in turn while the first is
    // awaited, instead of one round trip per result.
    std::vector<QFuture<std::optional<RecordingText>>> texts;
    texts.reserve(answer.recordings.size());
    for (const Recording &recording : answer.recordings) {
        if (query.isEmpty())
            break; // a listing: no query to place

        auto [text, completion] = completionFuture(std::optional<RecordingText>());
        database.getRecordingText(recording.id, std::move(completion));
        texts.push_back(std::move(text));
    }
    QByteArray out = "[";
    for (size_t i = 0; i < answer.recordings.size(); ++i) {
        QByteArray object = encodeRecording(answer.recordings[i]);
        const std::optional<search_snippet::Snippet> &snippet
            = i < answer.hits.size() ? answer.hits[i].snippet : std::optional<search_snippet::Snippet>();
        const QJsonValue value = snippet ? QJsonValue(snippet->text) : QJsonValue(QJsonValue::Null);
        // The value alone, from the one-element array QJsonDocument writes.
        const QByteArray encoded = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact).chopped(1).mid(1);
        object.chop(1);
        const std::optional<RecordingText> text = i < texts.size() ? waitFor(texts[i]) : std::nullopt;
        object += ",\"snippet\":" + encoded + ",\"matches\":" + matchesJson(text, query) + '}';
        if (i)
            out += ',';
        out += object;
    }
    out += ']';
    return out;
}

SearchAnswer findText(SimpleDatabaseManager &database, const SearchOptions &options)
{
    // The completion comes to the main thread: at once without a Qt application, else through
    // its event loop, which runs while waiting.
    auto [answer, completion]
        = completionFuture(SearchAnswer { {}, QStringLiteral("the search was dropped unanswered") });
    database.findText(options.query, options.appName, options.range, options.limit, std::move(completion));
    return waitFor(answer);
}

// Without a query: the range's recordings, newest first, as the window's timeline pages them.
// The application is matched without regard to case, as the search matches it: the stored name
// that equals it, else the first that equals it ignoring case.
SearchAnswer listRange(SimpleDatabaseManager &database, const SearchOptions &options)
{
    std::optional<QString> app = options.appName;
    if (app) {
        auto [named, completion] = completionFuture(ApplicationNames { {}, QStringLiteral("no answer") });
        database.applicationNames(std::move(completion));
        const ApplicationNames names = waitFor(named);
        if (!names.error.isEmpty())
            return SearchAnswer { {}, names.error, {} };
        if (!names.names.contains(*app)) {
            const auto same = std::find_if(names.names.begin(), names.names.end(),
                [&](const QString &name) { return name.compare(*app, Qt::CaseInsensitive) == 0; });
            if (same != names.names.end())
                app = *same;
        }
    }
    auto [paged, completion]
        = completionFuture(RecordingPage { {}, std::nullopt, QStringLiteral("the listing was dropped unanswered") });
    database.timelinePage(app, options.range, options.limit, std::nullopt, std::move(completion));
    RecordingPage page = waitFor(paged);
    return SearchAnswer { std::move(page.recordings), page.error, {} };
}

} // namespace

int search(const CommandArguments &arguments)
{
    SearchOptions options;
    bool haveQuery = false;
    bool optionsEnded = false;
    const QStringList &args = arguments.args;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && arg == QLatin1String("--json")) {
            options.json = true;
        } else if (!optionsEnded && arg == QLatin1String("--app")) {
            if (i + 1 >= args.size())
                return usage(QStringLiteral("--app needs an application name"));
            options.appName = args[++i];
        } else if (!optionsEnded && arg.startsWith(QLatin1String("--app="))) {
            options.appName = arg.mid(6);
        } else if (!optionsEnded && (arg == QLatin1String("--since") || arg == QLatin1String("--until"))) {
            if (i + 1 >= args.size())
                return usage(QStringLiteral("%1 needs a DATE").arg(arg));
            const bool since = arg == QLatin1String("--since");
            QString why;
            const std::optional<TimePoint> bound
                = parseDateArgument(args[++i], since ? RangeEnd::since : RangeEnd::until, QDate::currentDate(), &why);
            if (!bound)
                return usage(QStringLiteral("%1 %2").arg(arg, why));
            (since ? options.range.since : options.range.until) = bound;
        } else if (!optionsEnded && arg == QLatin1String("--limit")) {
            bool number = false;
            const int limit = i + 1 < args.size() ? args[++i].toInt(&number) : 0;
            if (!number || limit < 1)
                return usage(QStringLiteral("--limit needs a whole number of results from 1"));
            options.limit = limit;
        } else if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usage(QStringLiteral("unknown option '%1'").arg(arg));
        } else if (haveQuery) {
            return usage(QStringLiteral("give one QUERY (quote it when it has spaces)"));
        } else {
            options.query = arg;
            haveQuery = true;
        }
    }
    if (options.range.since && options.range.until && *options.range.until <= *options.range.since)
        return usage(QStringLiteral("--until is not after --since: the range holds no time"));

    // Standard output carries only the results.
    log::setStream(stderr);
    const QString path = SimpleDatabaseManager::defaultDatabasePath();
    if (!QFileInfo::exists(path)) {
        std::fprintf(
            stderr, "pellux search: no Pellux database at %s (nothing has been recorded yet)\n", qPrintable(path));
        return kExitFailure;
    }
    // Read-only: a damaged file is reported and left exactly as it is for the capturing
    // application, which sets it aside.
    SimpleDatabaseManager database(SimpleDatabaseManager::OpenMode::readOnly);
    if (!database.isOpen()) {
        std::fprintf(stderr,
            "pellux search: cannot read the Pellux database at %s (locked, damaged or not a database)\n",
            qPrintable(path));
        return kExitFailure;
    }
    const SearchAnswer found = options.query.isEmpty() ? listRange(database, options) : findText(database, options);
    if (!found.error.isEmpty()) {
        // Part of an answer would look like all of it.
        std::fprintf(stderr, "pellux search: the search failed while reading %s: %s\n", qPrintable(path),
            qPrintable(found.error));
        return kExitFailure;
    }
    const std::vector<Recording> &results = found.recordings;

    if (options.json) {
        std::printf("%s\n", encodeResults(found, database, options.query).constData());
    } else {
        for (const Recording &recording : results)
            printLine(recording);
    }
    if (results.empty()) {
        const QString where = options.appName ? QStringLiteral(" in %1").arg(*options.appName) : QString();
        const QString when = options.range.isOpen() ? QString() : QStringLiteral(" in that time range");
        if (options.query.isEmpty())
            std::fprintf(stderr, "pellux search: no screenshots%s%s\n", qPrintable(where), qPrintable(when));
        else
            std::fprintf(stderr, "pellux search: no screenshots contain '%s'%s%s\n", qPrintable(options.query),
                qPrintable(where), qPrintable(when));
        return kExitNoResults;
    }
    return kExitSuccess;
}

} // namespace pellux::commands
