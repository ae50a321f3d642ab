#pragma once

#include "persistence/Recording.h"

#include <QByteArray>
#include <QJsonObject>

#include <optional>
#include <vector>

namespace pellux {

// The JSON forms of the records, as the metadata file stores them: UUIDs in upper case, times as
// seconds since 2001-01-01 UTC, file URLs as absolute URL strings, bounds as [[x, y], [w, h]],
// keys in declaration order and optional keys left out when absent.

QByteArray encodeRecording(const Recording &recording);
QByteArray encodeRecordings(const std::vector<Recording> &recordings);
QByteArray encodeOCRText(const OCRText &text);

// Decoding fails (absent, with the reason in *error) on a missing required key, a value of the
// wrong kind, an invalid UUID or URL, or an unknown "type".
std::optional<Recording> decodeRecording(const QJsonObject &object, QString *error = nullptr);
std::optional<std::vector<Recording>> decodeRecordings(const QByteArray &json, QString *error = nullptr);
std::optional<OCRText> decodeOCRText(const QJsonObject &object, QString *error = nullptr);
std::optional<OCRText> decodeOCRText(const QByteArray &json, QString *error = nullptr);

} // namespace pellux
