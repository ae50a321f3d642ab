// `pellux text` and the matches of `pellux search --json`, run as the built program against a
// private HOME whose store holds a recording with word boxes and one stored before boxes were kept.

#include "app/CommandLine.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "ocr/RenderedText.h"
#include "persistence/DatabaseTestSupport.h"
#include "persistence/TextMatches.h"
#include "support/ImageEncoder.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <future>

using namespace pellux;
using namespace pellux::test;

namespace {

class TextCommand : public DatabaseTest { };

QJsonArray boxesJson(const std::vector<TextMatch> &matches)
{
    QJsonArray boxes;
    for (const TextMatch &match : matches) {
        for (const QRect &b : match.boxes)
            boxes.append(
                QJsonObject { { "x", b.x() }, { "y", b.y() }, { "width", b.width() }, { "height", b.height() } });
    }
    return boxes;
}

} // namespace

TEST_F(TextCommand, PrintsWordsAndSearchPrintsWhereTheQueryIs)
{
    const RenderedText rendered = renderText(
        { QStringLiteral("Deploy checklist for Friday"), QStringLiteral("run checksum_window before the upload") },
        TextPage { .size = QSize(800, 200) });
    const QString file = QDir(home.path()).filePath(QStringLiteral("shot.webp"));
    ASSERT_TRUE(writeAll(file, imageEncoder().convertToLosslessWebP(rendered.image).value()));
    RecordingText recognized;
    {
        OCRProcessor ocr;
        std::promise<Recognition> result;
        ocr.processImage(rendered.image, std::nullopt, [&](Recognition r) { result.set_value(std::move(r)); });
        const Recognition fragments = result.get_future().get();
        ASSERT_TRUE(fragments);
        recognized = recognizedText(fragments.value());
    }
    ASSERT_FALSE(recognized.words.empty());

    // One recording with its boxes, one of the same image stored before boxes were kept.
    const Recording boxed = makeRecording(1'760'000'100, file);
    const Recording older = makeRecording(1'760'000'000, file);
    ASSERT_TRUE(saveRecording(db(), boxed) && saveRecording(db(), older));
    db().saveOCRText(boxed.id, recognized, boxed.timestamp);
    db().saveOCRText(older.id, recognized.text.simplified(), older.timestamp);
    close();

    CommandRun run = runCommand({ "search", "--json", "checksum_window" });
    ASSERT_EQ(run.exitCode, kExitSuccess) << run.err.toStdString();
    const QJsonArray results = QJsonDocument::fromJson(run.out.toUtf8()).array();
    ASSERT_EQ(results.size(), 2) << run.out.toStdString();
    EXPECT_EQ(results[0]["id"].toString(), boxed.idText());
    EXPECT_EQ(results[0]["matches"].toArray(), boxesJson(findMatches(recognized, "checksum_window")));
    EXPECT_EQ(results[0]["matches"].toArray().size(), 1);
    EXPECT_EQ(results[1]["matches"].toArray(), QJsonArray());

    // The older recording is recognised again from its image; the database is only read.
    const QByteArray before = readAll(path());
    for (const Recording &r : { boxed, older }) {
        run = runCommand({ "text", r.idText() });
        ASSERT_EQ(run.exitCode, kExitSuccess) << run.err.toStdString();
        const QJsonObject answer = QJsonDocument::fromJson(run.out.toUtf8()).object();
        EXPECT_EQ(answer["id"].toString(), r.idText());
        EXPECT_EQ(answer["text"].toString(), recognized.text);
        const QJsonArray words = answer["words"].toArray();
        ASSERT_EQ(words.size(), static_cast<qsizetype>(recognized.words.size())) << run.out.toStdString();
        for (qsizetype i = 0; i < words.size(); ++i) {
            const WordBox &word = recognized.words[static_cast<size_t>(i)];
            EXPECT_EQ(words[i].toObject(),
                (QJsonObject { { "text", word.text }, { "x", word.box.x() }, { "y", word.box.y() },
                    { "width", word.box.width() }, { "height", word.box.height() } }));
        }
    }
    EXPECT_EQ(readAll(path()), before);

    const struct {
        QString id;
        int exitCode;
        const char *said;
    } refused[] = { { QUuid::createUuid().toString(), kExitFailure, "no screenshot has the id" },
        { "not-an-id", kExitUsage, "is not a screenshot id" } };
    for (const auto &c : refused) {
        run = runCommand({ "text", c.id });
        EXPECT_EQ(run.exitCode, c.exitCode) << c.said;
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.said))) << run.err.toStdString();
    }
}
