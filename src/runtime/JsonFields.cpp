#include "runtime/JsonFields.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace pellux::json {

namespace {

bool present(const QJsonObject &o, const char *key, QJsonValue &value, QString *error)
{
    value = o.value(QLatin1String(key));
    return !value.isUndefined() || fail(error, QStringLiteral("missing key \"%1\"").arg(QLatin1String(key)));
}

bool wrongKind(const char *key, const char *kind, QString *error)
{
    return fail(error, QStringLiteral("\"%1\" is not %2").arg(QLatin1String(key), QLatin1String(kind)));
}

} // namespace

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool readString(const QJsonObject &o, const char *key, QString &out, QString *error)
{
    QJsonValue v;
    if (!present(o, key, v, error))
        return false;
    if (!v.isString())
        return wrongKind(key, "a string", error);
    out = v.toString();
    return true;
}

bool readOptionalString(const QJsonObject &o, const char *key, std::optional<QString> &out, QString *error)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) {
        out.reset();
        return true;
    }
    if (!v.isString())
        return wrongKind(key, "a string", error);
    out = v.toString();
    return true;
}

bool readNumber(const QJsonObject &o, const char *key, double &out, QString *error)
{
    QJsonValue v;
    if (!present(o, key, v, error))
        return false;
    if (!v.isDouble())
        return wrongKind(key, "a number", error);
    out = v.toDouble();
    return true;
}

bool readBool(const QJsonObject &o, const char *key, bool &out, QString *error)
{
    QJsonValue v;
    if (!present(o, key, v, error))
        return false;
    if (!v.isBool())
        return wrongKind(key, "a boolean", error);
    out = v.toBool();
    return true;
}

bool parseAbsoluteUrl(const QString &text, const char *key, QUrl &out, QString *error)
{
    out = QUrl(text, QUrl::StrictMode);
    if (!out.isValid() || out.isRelative())
        return fail(error, QStringLiteral("\"%1\" is not an absolute URL: %2").arg(QLatin1String(key), text));
    return true;
}

QJsonValue urlValue(const QUrl &url) { return QString::fromUtf8(url.toEncoded()); }

std::optional<QJsonObject> parseObject(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(error, parseError.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        fail(error, QStringLiteral("not a JSON object"));
        return std::nullopt;
    }
    return doc.object();
}

} // namespace pellux::json
