#pragma once

#include "persistence/RecordingText.h"
#include "runtime/Clock.h"

#include <QRectF>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>
#include <vector>

namespace pellux {

enum class RecordingType { video, screenshot };

QString rawValue(RecordingType type);
std::optional<RecordingType> recordingTypeFromRawValue(const QString &raw);

// The canonical text of a UUID: 36 characters, upper-case hexadecimal, hyphenated.
QString uuidText(const QUuid &id);

// One stored screenshot file and what is known about it. Lists key recordings by `id`; nothing
// compares two recordings field by field.
struct Recording {
    QUuid id;
    TimePoint timestamp;
    double duration = 0;
    QUrl filePath;
    std::optional<QUrl> thumbnailPath;
    std::optional<QString> appName;
    std::optional<QString> windowTitle;
    RecordingType type = RecordingType::screenshot;
    std::optional<QString> imageHash;

    QString idText() const { return uuidText(id); }
    // The file-system path of `filePath`.
    QString localPath() const { return filePath.toLocalFile(); }
};

// One piece of recognised text. `bounds` is in the recogniser's coordinates and never stored.
struct OCRText {
    QUuid id;
    QUuid recordingId;
    TimePoint timestamp;
    QString text;
    QRectF bounds;
    // The words of `text` (split on white space) with their boxes in the recognised image (pixels,
    // top-left origin); empty when the recogniser gave none.
    std::vector<WordBox> words;
};

} // namespace pellux
