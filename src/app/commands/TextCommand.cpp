#include "app/commands/Commands.h"

#include "app/AppComponents.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "storage/RecordingTextLoader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <cstdio>
#include <thread>

namespace pellux::commands {

namespace {

template <typename T> T waitFor(const QFuture<T> &answer)
{
    while (!answer.isFinished()) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return answer.result();
}

// One JSON value as text.
QByteArray valueText(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// {"id", "text", "words"}, in that order (QJsonObject would sort the keys).
QByteArray textJson(const Recording &recording, const RecordingText &text)
{
    QJsonArray words;
    for (const WordBox &word : text.words)
        words.append(QJsonObject { { "text", word.text }, { "x", word.box.x() }, { "y", word.box.y() },
            { "width", word.box.width() }, { "height", word.box.height() } });
    return "{\"id\":" + valueText(recording.idText()) + ",\"text\":" + valueText(text.text)
        + ",\"words\":" + valueText(words) + '}';
}

} // namespace

int text(const CommandArguments &arguments)
{
    if (arguments.args.size() != 1) {
        std::fprintf(stderr, "Usage: pellux text ID\n");
        return kExitUsage;
    }
    const QUuid id = QUuid::fromString(arguments.args.front().trimmed());
    if (id.isNull()) {
        std::fprintf(stderr, "pellux text: '%s' is not a screenshot id (a UUID, as `pellux search --json` prints)\n",
            qPrintable(arguments.args.front()));
        return kExitUsage;
    }
    int argc = arguments.argc;
    QCoreApplication app(argc, arguments.argv);
    // Standard output carries only the answer.
    log::setStream(stderr);
    const QString path = SimpleDatabaseManager::defaultDatabasePath();
    if (!QFileInfo::exists(path)) {
        std::fprintf(
            stderr, "pellux text: no Pellux database at %s (nothing has been recorded yet)\n", qPrintable(path));
        return kExitFailure;
    }
    // Read-only, as search: the capturing application owns the file. Text recognised again for an
    // older recording is printed, and stored by the application when the viewer opens it.
    SimpleDatabaseManager database(SimpleDatabaseManager::OpenMode::readOnly);
    if (!database.isOpen()) {
        std::fprintf(stderr, "pellux text: cannot read the Pellux database at %s (locked, damaged or not a database)\n",
            qPrintable(path));
        return kExitFailure;
    }
    auto [rows, rowsDone] = completionFuture(std::optional<std::vector<Recording>>());
    database.recordingsWithIds({ id }, std::move(rowsDone));
    const std::optional<std::vector<Recording>> found = waitFor(rows);
    if (!found) {
        std::fprintf(stderr, "pellux text: cannot read the Pellux database at %s\n", qPrintable(path));
        return kExitFailure;
    }
    if (found->empty()) {
        std::fprintf(stderr, "pellux text: no screenshot has the id %s\n", qPrintable(uuidText(id)));
        return kExitFailure;
    }

    // Only the recogniser: no capture backend or store.
    AppComponents components;
    RecordingTextLoader loader(database, components.textRecognition());
    auto [text, textDone] = completionFuture(std::optional<RecordingText>());
    loader.load(found->front(), std::move(textDone));
    const std::optional<RecordingText> answer = waitFor(text);
    if (!answer) {
        std::fprintf(
            stderr, "pellux text: cannot read the text of %s from %s\n", qPrintable(uuidText(id)), qPrintable(path));
        return kExitFailure;
    }
    std::printf("%s\n", textJson(found->front(), *answer).constData());
    return kExitSuccess;
}

} // namespace pellux::commands
