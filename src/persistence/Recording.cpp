#include "persistence/Recording.h"

namespace pellux {

QString rawValue(RecordingType type)
{
    switch (type) {
    case RecordingType::video:
        return QStringLiteral("video");
    case RecordingType::screenshot:
        return QStringLiteral("screenshot");
    }
    return QString();
}

std::optional<RecordingType> recordingTypeFromRawValue(const QString &raw)
{
    if (raw == QLatin1String("video"))
        return RecordingType::video;
    if (raw == QLatin1String("screenshot"))
        return RecordingType::screenshot;
    return std::nullopt;
}

QString uuidText(const QUuid &id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

} // namespace pellux
