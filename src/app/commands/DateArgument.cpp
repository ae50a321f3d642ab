#include "app/commands/DateArgument.h"

#include "persistence/Timeline.h"

#include <QDateTime>
#include <QRegularExpression>

namespace pellux::commands {

std::optional<TimePoint> parseDateArgument(const QString &text, RangeEnd end, QDate today, QString *error)
{
    static const QRegularExpression kDay(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    static const QRegularExpression kMinute(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})[ t](\\d{2}):(\\d{2})$"));
    static const QRegularExpression kDaysAgo(QStringLiteral("^(\\d{1,5}) +days? +ago$"));
    const QString value = text.trimmed().toLower();
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("'%1' is not a date: %2").arg(text, why);
        return std::nullopt;
    };
    const QString forms = QStringLiteral("use YYYY-MM-DD, \"YYYY-MM-DD HH:MM\", today, yesterday or \"N days ago\"");

    std::optional<QDate> day;
    if (value == QLatin1String("today")) {
        day = today;
    } else if (value == QLatin1String("yesterday")) {
        day = today.addDays(-1);
    } else if (const QRegularExpressionMatch ago = kDaysAgo.match(value); ago.hasMatch()) {
        day = today.addDays(-ago.captured(1).toInt());
    } else if (const QRegularExpressionMatch date = kDay.match(value); date.hasMatch()) {
        day = QDate(date.captured(1).toInt(), date.captured(2).toInt(), date.captured(3).toInt());
        if (!day->isValid())
            return fail(QStringLiteral("there is no such day"));
    } else if (const QRegularExpressionMatch minute = kMinute.match(value); minute.hasMatch()) {
        const QDate date(minute.captured(1).toInt(), minute.captured(2).toInt(), minute.captured(3).toInt());
        const QTime time(minute.captured(4).toInt(), minute.captured(5).toInt());
        if (!date.isValid() || !time.isValid())
            return fail(QStringLiteral("there is no such day or time"));
        const QDateTime local(date, time);
        // A minute the clocks skip has no instant; Qt would quietly move it.
        if (!local.isValid() || local.date() != date || local.time() != time)
            return fail(QStringLiteral("that time does not exist here (the clocks skip it)"));
        return fromSecondsSince1970(static_cast<double>(local.toMSecsSinceEpoch()) / 1000.0);
    } else {
        return fail(forms);
    }
    if (!day->isValid())
        return fail(forms);
    return localDayStart(end == RangeEnd::until ? day->addDays(1) : *day);
}

} // namespace pellux::commands
