#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>

namespace pellux::json {

// Readers for keyed JSON objects with the strict rules of the stored forms: a required key must
// be present and of the right kind; an optional key may be missing or null, but not of another
// kind. Each returns false and puts the reason in *error (when given) on failure.

bool fail(QString *error, const QString &reason);

bool readString(const QJsonObject &o, const char *key, QString &out, QString *error);
bool readOptionalString(const QJsonObject &o, const char *key, std::optional<QString> &out, QString *error);
bool readNumber(const QJsonObject &o, const char *key, double &out, QString *error);
bool readBool(const QJsonObject &o, const char *key, bool &out, QString *error);

// An absolute URL such as "file:///home/ann/x.webp".
bool parseAbsoluteUrl(const QString &text, const char *key, QUrl &out, QString *error);
QJsonValue urlValue(const QUrl &url);

// The document as an object; absent on malformed JSON or another kind of document.
std::optional<QJsonObject> parseObject(const QByteArray &json, QString *error);

} // namespace pellux::json
