#include "persistence/RecordingJson.h"

#include "support/TestFiles.h"

using namespace pellux;

namespace {

Recording fullRecording()
{
    Recording r;
    r.id = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    r.timestamp = fromSecondsSince2001(786'000'123.25);
    r.filePath
        = QUrl::fromLocalFile(QStringLiteral("/home/ann/Documents/Pellux/2025/12/06/14/Firefox Web_14-03-07.webp"));
    r.thumbnailPath = r.filePath;
    r.appName = QStringLiteral("Firefox");
    r.windowTitle = QStringLiteral("Ünïcode \"quoted\" title");
    r.imageHash = QStringLiteral("ab12");
    return r;
}

QJsonObject object(const QByteArray &json) { return QJsonDocument::fromJson(json).object(); }

} // namespace

TEST(RecordingJson, RoundTripsEveryFieldInDeclarationOrderAndOmitsAbsentOptionals)
{
    EXPECT_EQ(encodeRecording(fullRecording()),
        QByteArray("{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"timestamp\":786000123.25,\"duration\":0,"
                   "\"filePath\":\"file:///home/ann/Documents/Pellux/2025/12/06/14/Firefox%20Web_14-03-07.webp\","
                   "\"thumbnailPath\":\"file:///home/ann/Documents/Pellux/2025/12/06/14/Firefox%20Web_14-03-07.webp\","
                   "\"appName\":\"Firefox\",\"windowTitle\":\"Ünïcode \\\"quoted\\\" title\",\"type\":\"screenshot\","
                   "\"imageHash\":\"ab12\"}"));
    Recording r = fullRecording();
    for (const bool full : { true, false }) {
        const QByteArray json = encodeRecording(r);
        const std::optional<Recording> back = decodeRecording(object(json));
        ASSERT_TRUE(back);
        EXPECT_EQ(encodeRecording(*back), json);
        EXPECT_EQ(back->localPath(), r.localPath());
        EXPECT_EQ(object(json).keys().size(), full ? 9 : 5);
        r.thumbnailPath.reset();
        r.appName.reset();
        r.windowTitle.reset();
        r.imageHash.reset();
    }
}

TEST(RecordingJson, ReadsWhatThePlatformCoderWrites)
{
    // Escaped slashes and integral numbers for doubles are what that coder writes; a null optional
    // reads as absent.
    const QByteArray json = R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","timestamp":786000123,"duration":0,
        "filePath":"file:\/\/\/home\/ann\/Documents\/Pellux\/a%20b.webp","appName":null,"type":"video"}])";
    QString error;
    const auto list = decodeRecordings(json, &error);
    ASSERT_TRUE(list) << error.toStdString();
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(list->front().localPath(), QStringLiteral("/home/ann/Documents/Pellux/a b.webp"));
    EXPECT_DOUBLE_EQ(secondsSince2001(list->front().timestamp), 786000123.0);
    EXPECT_EQ(list->front().type, RecordingType::video);
    EXPECT_FALSE(list->front().appName);
}

TEST(RecordingJson, RejectsMalformedRecords)
{
    const QByteArray valid = encodeRecording(fullRecording());
    const auto without = [&](const char *key) {
        QJsonObject o = object(valid);
        o.remove(QLatin1String(key));
        return o;
    };
    for (const char *key : { "id", "timestamp", "duration", "filePath", "type" })
        EXPECT_FALSE(decodeRecording(without(key))) << key;

    const std::pair<const char *, QJsonValue> wrong[]
        = { { "type", "movie" }, { "id", "not-a-uuid" }, { "appName", 12 }, { "filePath", "Pellux/a.webp" } };
    for (const auto &[key, value] : wrong) {
        QJsonObject o = object(valid);
        o[QLatin1String(key)] = value;
        QString error;
        EXPECT_FALSE(decodeRecording(o, &error)) << key;
        EXPECT_FALSE(error.isEmpty()) << key;
    }

    EXPECT_FALSE(decodeRecordings("[{\"id\":1}]"));
    EXPECT_FALSE(decodeRecordings("{\"not\":\"a list\"}"));
    EXPECT_FALSE(decodeRecordings("[{\"id\": \"trunc"));
    EXPECT_TRUE(decodeRecordings("[]"));
}
