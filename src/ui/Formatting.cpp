#include "ui/Formatting.h"

#include <algorithm>
#include <cmath>

namespace pellux {

namespace {

struct Unit {
    double seconds;
    const char *singular;
    const char *plural;
};

// Largest first; a month and a year count as 30 and 365 days.
constexpr Unit kUnits[] = {
    { 365 * 86400.0, "yr.", "yr." },
    { 30 * 86400.0, "mo.", "mo." },
    { 7 * 86400.0, "wk.", "wk." },
    { 86400.0, "day", "days" },
    { 3600.0, "hr.", "hr." },
    { 60.0, "min.", "min." },
    { 1.0, "sec.", "sec." },
};

QString withoutTrailingZero(double value)
{
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text;
}

} // namespace

QString abbreviatedRelativeTime(TimePoint when, TimePoint now)
{
    const double delta = (now - when).count();
    const double magnitude = std::abs(delta);
    for (const Unit &unit : kUnits) {
        if (magnitude < unit.seconds)
            continue;
        const auto count = static_cast<long long>(std::floor(magnitude / unit.seconds));
        const QString amount
            = QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? unit.singular : unit.plural));
        return delta >= 0 ? amount + QLatin1String(" ago") : QLatin1String("in ") + amount;
    }
    return QStringLiteral("now");
}

namespace {

// A byte count in units of `unitSize` (1000 or 1024) bytes, whole kilobytes, one decimal above.
QString byteCount(qint64 bytes, int unitSize)
{
    if (bytes < 0)
        return QLatin1Char('-') + byteCount(-bytes, unitSize);
    if (bytes < unitSize)
        return QStringLiteral("%1 %2").arg(bytes).arg(QLatin1String(bytes == 1 ? "byte" : "bytes"));
    static const char *const kUnitNames[] = { "KB", "MB", "GB", "TB", "PB" };
    double value = static_cast<double>(bytes) / unitSize;
    int unit = 0;
    // Rounding decides the unit: 999,999 bytes read "1 MB", not "1000 KB".
    while (unit + 1 < int(std::size(kUnitNames))
        && (unit == 0 ? std::round(value) : std::round(value * 10) / 10) >= unitSize) {
        value /= unitSize;
        ++unit;
    }
    const QString amount = unit == 0 ? QString::number(std::llround(value)) : withoutTrailingZero(value);
    return amount + QLatin1Char(' ') + QLatin1String(kUnitNames[unit]);
}

} // namespace

QString fileStyleByteCount(qint64 bytes) { return byteCount(bytes, 1000); }

QString memoryStyleByteCount(qint64 bytes) { return byteCount(bytes, 1024); }

StorageLevel storageLevel(qint64 bytes)
{
    const double gigabytes = static_cast<double>(bytes) / 1073741824.0;
    if (gigabytes < 1)
        return StorageLevel::green;
    if (gigabytes < 5)
        return StorageLevel::yellow;
    if (gigabytes < 10)
        return StorageLevel::orange;
    return StorageLevel::red;
}

QColor storageLevelColor(StorageLevel level)
{
    switch (level) {
    case StorageLevel::green:
        return QColor(0x34, 0xC7, 0x59);
    case StorageLevel::yellow:
        return QColor(0xFF, 0xCC, 0x00);
    case StorageLevel::orange:
        return QColor(0xFF, 0x95, 0x00);
    case StorageLevel::red:
        break;
    }
    return QColor(0xFF, 0x3B, 0x30);
}

QString displayedName(const QString &text, int maxLength)
{
    QString shown;
    shown.reserve(std::min<qsizetype>(text.size(), maxLength) + 2);
    shown += QChar(0x2068); // first strong isolate
    int marks = 0;
    int kept = 0;
    for (const char32_t c : text.toUcs4()) {
        if (kept >= maxLength) {
            shown += QChar(0x2026);
            break;
        }
        if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069))
            continue;
        const QChar::Category category = QChar::category(c);
        const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing
            || category == QChar::Mark_SpacingCombining;
        marks = mark ? marks + 1 : 0;
        if (marks > 2)
            continue;
        if (category == QChar::Other_Control || c == 0x2028 || c == 0x2029)
            shown += QLatin1Char(' ');
        else
            shown += QString::fromUcs4(&c, 1);
        ++kept;
    }
    shown += QChar(0x2069); // pop directional isolate
    return shown;
}

} // namespace pellux
