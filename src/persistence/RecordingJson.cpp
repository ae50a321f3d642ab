#include "persistence/RecordingJson.h"

#include "runtime/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace pellux {

using json::fail;
using json::readNumber;
using json::readOptionalString;
using json::readString;
using json::urlValue;

namespace {

// QJsonObject sorts its keys; the records are written in declaration order instead, so the
// object text is assembled here from individually serialised values.
class OrderedObjectWriter {
public:
    void add(const char *key, const QJsonValue &value)
    {
        m_out += m_out.isEmpty() ? "{" : ",";
        m_out += valueText(QJsonValue(QLatin1String(key)));
        m_out += ':';
        m_out += valueText(value);
    }
    QByteArray finish() const { return m_out.isEmpty() ? QByteArray("{}") : m_out + '}'; }

private:
    static QByteArray valueText(const QJsonValue &value)
    {
        const QByteArray array = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    }
    QByteArray m_out;
};

bool readUuid(const QJsonObject &o, const char *key, QUuid &out, QString *error)
{
    QString text;
    if (!readString(o, key, text, error))
        return false;
    out = QUuid::fromString(text);
    if (out.isNull() || text.size() != 36)
        return fail(error, QStringLiteral("\"%1\" is not a UUID: %2").arg(QLatin1String(key), text));
    return true;
}

} // namespace

QByteArray encodeRecording(const Recording &r)
{
    OrderedObjectWriter w;
    w.add("id", r.idText());
    w.add("timestamp", secondsSince2001(r.timestamp));
    w.add("duration", r.duration);
    w.add("filePath", urlValue(r.filePath));
    if (r.thumbnailPath)
        w.add("thumbnailPath", urlValue(*r.thumbnailPath));
    if (r.appName)
        w.add("appName", *r.appName);
    if (r.windowTitle)
        w.add("windowTitle", *r.windowTitle);
    w.add("type", rawValue(r.type));
    if (r.imageHash)
        w.add("imageHash", *r.imageHash);
    return w.finish();
}

QByteArray encodeRecordings(const std::vector<Recording> &recordings)
{
    QByteArray out = "[";
    for (size_t i = 0; i < recordings.size(); ++i) {
        if (i)
            out += ',';
        out += encodeRecording(recordings[i]);
    }
    out += ']';
    return out;
}

QByteArray encodeOCRText(const OCRText &t)
{
    OrderedObjectWriter w;
    w.add("id", uuidText(t.id));
    w.add("recordingId", uuidText(t.recordingId));
    w.add("timestamp", secondsSince2001(t.timestamp));
    w.add("text", t.text);
    w.add("bounds",
        QJsonArray { QJsonArray { t.bounds.x(), t.bounds.y() }, QJsonArray { t.bounds.width(), t.bounds.height() } });
    return w.finish();
}

std::optional<Recording> decodeRecording(const QJsonObject &o, QString *error)
{
    Recording r;
    double timestamp = 0;
    QString filePath;
    QString type;
    std::optional<QString> thumbnail;
    if (!readUuid(o, "id", r.id, error) || !readNumber(o, "timestamp", timestamp, error)
        || !readNumber(o, "duration", r.duration, error) || !readString(o, "filePath", filePath, error)
        || !readOptionalString(o, "thumbnailPath", thumbnail, error)
        || !readOptionalString(o, "appName", r.appName, error)
        || !readOptionalString(o, "windowTitle", r.windowTitle, error) || !readString(o, "type", type, error)
        || !readOptionalString(o, "imageHash", r.imageHash, error))
        return std::nullopt;
    r.timestamp = fromSecondsSince2001(timestamp);
    if (!pellux::json::parseAbsoluteUrl(filePath, "filePath", r.filePath, error))
        return std::nullopt;
    if (thumbnail) {
        QUrl url;
        if (!pellux::json::parseAbsoluteUrl(*thumbnail, "thumbnailPath", url, error))
            return std::nullopt;
        r.thumbnailPath = url;
    }
    const std::optional<RecordingType> parsedType = recordingTypeFromRawValue(type);
    if (!parsedType) {
        fail(error, QStringLiteral("unknown recording type \"%1\"").arg(type));
        return std::nullopt;
    }
    r.type = *parsedType;
    return r;
}

std::optional<std::vector<Recording>> decodeRecordings(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(error, parseError.errorString());
        return std::nullopt;
    }
    if (!doc.isArray()) {
        fail(error, QStringLiteral("not a JSON array"));
        return std::nullopt;
    }
    std::vector<Recording> out;
    const QJsonArray array = doc.array();
    out.reserve(static_cast<size_t>(array.size()));
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject()) {
            fail(error, QStringLiteral("element %1 is not an object").arg(i));
            return std::nullopt;
        }
        QString reason;
        std::optional<Recording> r = decodeRecording(array.at(i).toObject(), &reason);
        if (!r) {
            fail(error, QStringLiteral("element %1: %2").arg(i).arg(reason));
            return std::nullopt;
        }
        out.push_back(std::move(*r));
    }
    return out;
}

std::optional<OCRText> decodeOCRText(const QJsonObject &o, QString *error)
{
    OCRText t;
    double timestamp = 0;
    if (!readUuid(o, "id", t.id, error) || !readUuid(o, "recordingId", t.recordingId, error)
        || !readNumber(o, "timestamp", timestamp, error) || !readString(o, "text", t.text, error))
        return std::nullopt;
    t.timestamp = fromSecondsSince2001(timestamp);

    const QJsonValue bounds = o.value(QLatin1String("bounds"));
    if (bounds.isUndefined()) {
        fail(error, QStringLiteral("missing key \"bounds\""));
        return std::nullopt;
    }
    const QJsonArray pair = bounds.toArray();
    const QJsonArray origin = pair.at(0).toArray();
    const QJsonArray size = pair.at(1).toArray();
    const auto allNumbers
        = [](const QJsonArray &a) { return a.size() == 2 && a.at(0).isDouble() && a.at(1).isDouble(); };
    if (!bounds.isArray() || pair.size() != 2 || !allNumbers(origin) || !allNumbers(size)) {
        fail(error, QStringLiteral("\"bounds\" is not [[x, y], [width, height]]"));
        return std::nullopt;
    }
    t.bounds = QRectF(origin.at(0).toDouble(), origin.at(1).toDouble(), size.at(0).toDouble(), size.at(1).toDouble());
    return t;
}

std::optional<OCRText> decodeOCRText(const QByteArray &json, QString *error)
{
    const std::optional<QJsonObject> object = pellux::json::parseObject(json, error);
    if (!object)
        return std::nullopt;
    return decodeOCRText(*object, error);
}

} // namespace pellux
