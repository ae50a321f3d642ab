#include "imaging/ScreenshotFileName.h"

#include <QDateTime>
#include <QRegularExpression>

#include <cmath>

namespace pellux {

namespace {

constexpr char kTimePattern[] = "yyyyMMdd_HHmmss";

QDateTime localTime(TimePoint t)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(secondsSince1970(t) * 1000.0)));
}

// The longest prefix of `text` whose UTF-8 form fits `maxBytes`, never splitting a character.
QString truncatedToUtf8Bytes(const QString &text, qsizetype maxBytes)
{
    if (text.toUtf8().size() <= maxBytes)
        return text;
    QString out;
    qsizetype used = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString character = text.mid(i, length);
        const qsizetype bytes = character.toUtf8().size();
        if (used + bytes > maxBytes)
            break;
        out += character;
        used += bytes;
        i += length;
    }
    return out;
}

} // namespace

QString screenshotExtension(const QByteArray &data)
{
    return data.left(12).contains("WEBP") ? QStringLiteral("webp") : QStringLiteral("jpg");
}

QString fileNameAppPart(const std::optional<QString> &appName)
{
    if (!appName)
        return QStringLiteral("unknown");
    // An application names itself (WM_CLASS): a newline, a tab or a separator in it must not reach
    // a file name that is printed, logged and handed to other programs.
    QString part;
    part.reserve(appName->size());
    for (const char32_t c : appName->toUcs4()) {
        const bool kept = QChar::isLetterOrNumber(c) || c == U'.' || c == U'_' || c == U'-';
        part += kept ? QString::fromUcs4(&c, 1) : QStringLiteral("_");
    }
    return part;
}

QString hourFolderName(TimePoint timestamp) { return localTime(timestamp).toString(QStringLiteral("yyyy/MM/dd/HH")); }

QString screenshotFileName(
    TimePoint timestamp, const std::optional<QString> &appName, const QString &extension, int attempt)
{
    const QString time = localTime(timestamp).toString(QLatin1String(kTimePattern));
    const QString suffix = attempt > 1 ? QStringLiteral("_%1").arg(attempt) : QString();
    const QString tail = suffix + QLatin1Char('.') + extension;
    const qsizetype fixedBytes = time.toUtf8().size() + 1 + tail.toUtf8().size();
    const QString app = truncatedToUtf8Bytes(fileNameAppPart(appName), kMaxFileNameBytes - fixedBytes);
    return time + QLatin1Char('_') + app + tail;
}

std::optional<TimePoint> captureTimeFromFileName(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{8}_\\d{6})_"));
    const QRegularExpressionMatch match = pattern.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(match.captured(1), QLatin1String(kTimePattern));
    if (!time.isValid())
        return std::nullopt;
    return fromSecondsSince1970(static_cast<double>(time.toSecsSinceEpoch()));
}

} // namespace pellux
