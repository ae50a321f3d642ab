#include "ui/DateFilters.h"

namespace pellux::date_filters {

namespace {

constexpr std::pair<DateFilter, const char *> kNames[] = {
    { DateFilter::Today, "today" },
    { DateFilter::Yesterday, "yesterday" },
    { DateFilter::Last7Days, "last7" },
    { DateFilter::Last30Days, "last30" },
    { DateFilter::Picked, "range" },
};

} // namespace

DateFilter fromName(const QString &name)
{
    for (const auto &[filter, text] : kNames) {
        if (name == QLatin1String(text))
            return filter;
    }
    return DateFilter::None;
}

QString name(DateFilter filter)
{
    for (const auto &[f, text] : kNames) {
        if (f == filter)
            return QString::fromLatin1(text);
    }
    return {};
}

std::pair<QDate, QDate> presetDays(DateFilter filter, QDate today)
{
    switch (filter) {
    case DateFilter::Today:
        return { today, today };
    case DateFilter::Yesterday:
        return { today.addDays(-1), today.addDays(-1) };
    case DateFilter::Last7Days:
        return { today.addDays(-6), today };
    case DateFilter::Last30Days:
        return { today.addDays(-29), today };
    case DateFilter::None:
    case DateFilter::Picked:
        break;
    }
    return {};
}

QString dayLabel(QDate day, QDate today, const QLocale &locale)
{
    if (day == today)
        return QStringLiteral("Today");
    if (day == today.addDays(-1))
        return QStringLiteral("Yesterday");
    return locale.toString(day, QLocale::LongFormat);
}

QString rangeLabel(QDate first, QDate last, QDate today, const QLocale &locale)
{
    if (!first.isValid() || !last.isValid())
        return {};
    if (first == last && (first == today || first == today.addDays(-1)))
        return dayLabel(first, today, locale);
    const QString withYear = QStringLiteral("d MMM yyyy");
    if (first == last)
        return locale.toString(first, withYear);
    const QString firstFormat = first.year() == last.year() ? QStringLiteral("d MMM") : withYear;
    return QStringLiteral("%1 \u2013 %2").arg(locale.toString(first, firstFormat), locale.toString(last, withYear));
}

QString countText(qint64 count, bool atLeast)
{
    const QString number = QLocale().toString(count) + (atLeast ? QStringLiteral("+") : QString());
    return count == 1 && !atLeast ? QStringLiteral("1 screenshot") : QStringLiteral("%1 screenshots").arg(number);
}

} // namespace pellux::date_filters
