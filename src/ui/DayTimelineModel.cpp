#include "ui/DayTimelineModel.h"

#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"
#include "ui/DayTimeline.h"
#include "ui/ScreenshotLoader.h"

#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <map>

namespace pellux {

DayTimelineModel::DayTimelineModel(
    SimpleDatabaseManager &database, const Clock &clock, std::shared_ptr<ScreenshotLoader> loader, QObject *parent)
    : QAbstractListModel(parent)
    , m_database(database)
    , m_clock(clock)
    , m_frames(
          loader ? std::move(loader) : std::make_shared<ScreenshotLoader>(ScreenshotLoader::databaseLookup(database)))
{
    connect(&m_frames, &DayFrameCache::frameReady, this, [this](int index) {
        if (index == m_current)
            updateFrame();
    });
}

DayTimelineModel::~DayTimelineModel() = default;

int DayTimelineModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : count(); }

QVariant DayTimelineModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Capture &capture = m_captures[static_cast<size_t>(index.row())];
    switch (role) {
    case FractionRole:
        return timeline::dayFraction(m_day, capture.timestamp);
    case ColorRole:
        return colorOf(capture.appName);
    case AppNameRole:
        return capture.appName.value_or(QString());
    case TimeRole:
        return describe(index.row());
    default:
        return {};
    }
}

QHash<int, QByteArray> DayTimelineModel::roleNames() const
{
    return { { FractionRole, "fraction" }, { ColorRole, "tickColor" }, { AppNameRole, "appName" },
        { TimeRole, "timeText" } };
}

QString DayTimelineModel::dayTitle() const
{
    return m_day.isValid() ? QLocale().toString(m_day, QLocale::LongFormat) : QString();
}

QVariantList DayTimelineModel::hourMarks() const
{
    QVariantList marks;
    if (!m_day.isValid())
        return marks;
    for (const timeline::HourMark &mark : timeline::hourMarks(m_day)) {
        marks.append(QVariantMap { { QStringLiteral("hour"), mark.hour }, { QStringLiteral("fraction"), mark.fraction },
            { QStringLiteral("label"), QStringLiteral("%1").arg(mark.hour, 2, 10, QLatin1Char('0')) } });
    }
    return marks;
}

QVariantList DayTimelineModel::legend() const
{
    std::map<QString, int> perApp;
    for (const Capture &capture : m_captures)
        ++perApp[capture.appName.value_or(QString())];
    std::vector<std::pair<QString, int>> ordered(perApp.begin(), perApp.end());
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
    QVariantList entries;
    for (const auto &[name, n] : ordered) {
        entries.append(QVariantMap { { QStringLiteral("name"), name.isEmpty() ? tr("Unknown") : name },
            { QStringLiteral("color"), colorOf(name) }, { QStringLiteral("count"), n } });
    }
    return entries;
}

void DayTimelineModel::setCurrentIndex(int index)
{
    index = m_captures.empty() ? -1 : std::clamp(index, 0, count() - 1);
    if (index == m_current)
        return;
    m_direction = m_current < 0 ? 0 : (index > m_current ? 1 : -1);
    m_current = index;
    m_frames.prefetch(m_current, m_direction);
    updateFrame();
    emit currentChanged();
}

double DayTimelineModel::currentFraction() const
{
    return m_current < 0 ? 0.0 : timeline::dayFraction(m_day, m_times[static_cast<size_t>(m_current)]);
}

QString DayTimelineModel::currentTime() const
{
    if (m_current < 0)
        return {};
    const QDateTime at
        = QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(m_times[static_cast<size_t>(m_current)]) * 1000));
    return QLocale().toString(at.time(), QStringLiteral("HH:mm:ss"));
}

QString DayTimelineModel::currentApp() const
{
    if (m_current < 0)
        return {};
    return m_captures[static_cast<size_t>(m_current)].appName.value_or(tr("Unknown"));
}

QString DayTimelineModel::currentFrameUrl() const
{
    if (m_current < 0)
        return {};
    return QStringLiteral("image://recording/")
        + QString::fromLatin1(QUrl::toPercentEncoding(m_captures[static_cast<size_t>(m_current)].filePath));
}

QColor DayTimelineModel::colorOf(const std::optional<QString> &appName) const
{
    const auto found = m_colors.find(appName.value_or(QString()));
    return found == m_colors.end() ? timeline::applicationColor(appName.value_or(QString())) : found->second;
}

QColor DayTimelineModel::currentColor() const
{
    return m_current < 0 ? QColor() : colorOf(m_captures[static_cast<size_t>(m_current)].appName);
}

void DayTimelineModel::setScrubbing(bool on)
{
    if (on == m_scrubbing)
        return;
    m_scrubbing = on;
    emit scrubbingChanged();
}

void DayTimelineModel::showDay(QDate day)
{
    const QDate today = localDay(m_clock.now());
    if (!day.isValid())
        day = today;
    m_showsToday = day == today;
    const quint64 generation = ++m_generation;
    m_loading = true;
    emit loadingChanged();
    QPointer<DayTimelineModel> self(this);
    // The day's page of the timeline, newest first, with the files the thumbnails sit beside.
    m_database.timelinePage(
        std::nullopt, localDays(day, day), kMaxCaptures, std::nullopt, [self, generation, day](RecordingPage page) {
            if (self && generation == self->m_generation)
                self->setCaptures(day, std::move(page));
        });
}

void DayTimelineModel::setCaptures(QDate day, RecordingPage page)
{
    if (page.next) {
        log::failure(QStringLiteral("DayTimelineModel: %1 holds more than %2 captures; the bar shows the latest")
                         .arg(day.toString(Qt::ISODate))
                         .arg(kMaxCaptures));
    }
    beginResetModel();
    const bool newDay = day != m_day;
    m_day = day;
    m_captures.clear();
    m_captures.reserve(page.recordings.size());
    for (auto r = page.recordings.rbegin(); r != page.recordings.rend(); ++r)
        m_captures.push_back({ r->timestamp, r->id, r->appName, r->localPath() });
    std::vector<QString> names;
    for (const Capture &capture : m_captures)
        names.push_back(capture.appName.value_or(QString()));
    m_colors = timeline::applicationColors(std::move(names));
    m_failure = page.error;
    m_times.clear();
    m_times.reserve(m_captures.size());
    std::vector<QString> paths;
    paths.reserve(m_captures.size());
    for (const Capture &capture : m_captures) {
        m_times.push_back(capture.timestamp);
        paths.push_back(capture.filePath);
    }
    m_frames.reset(std::move(paths));
    m_current = -1;
    m_shown = QImage();
    endResetModel();
    m_loading = false;
    if (newDay)
        emit dayChanged();
    emit capturesChanged();
    emit loadingChanged();
    setCurrentIndex(count() - 1);
    if (m_captures.empty()) {
        updateFrame();
        emit currentChanged();
    }
    log::debug(QStringLiteral("DEBUG DayTimelineModel: %1 captures on %2").arg(count()).arg(day.toString(Qt::ISODate)));
    emit dayShown();
}

void DayTimelineModel::showNewCaptures()
{
    if (m_loading || !m_failure.isEmpty() || !m_day.isValid() || m_day != localDay(m_clock.now()))
        return;
    TimeRange range = localDays(m_day, m_day);
    if (!m_captures.empty())
        range.since = m_captures.back().timestamp;
    QPointer<DayTimelineModel> self(this);
    m_database.timelinePage(std::nullopt, range, kMaxCaptures, std::nullopt,
        [self, generation = m_generation, since = *range.since](RecordingPage page) {
            if (self && generation == self->m_generation && page.error.isEmpty())
                self->appendCaptures(std::move(page), since);
        });
}

void DayTimelineModel::appendCaptures(RecordingPage page, TimePoint since)
{
    // The answer starts at the last capture's time, whose other windows are on the bar already.
    QSet<QUuid> known;
    for (auto c = m_captures.rbegin(); c != m_captures.rend() && c->timestamp >= since; ++c)
        known.insert(c->id);
    std::vector<Capture> fresh;
    std::vector<QString> paths;
    bool newApplication = false;
    for (auto r = page.recordings.rbegin(); r != page.recordings.rend(); ++r) {
        if (known.contains(r->id))
            continue;
        newApplication = newApplication || !m_colors.contains(r->appName.value_or(QString()));
        fresh.push_back({ r->timestamp, r->id, r->appName, r->localPath() });
        paths.push_back(fresh.back().filePath);
    }
    if (fresh.empty())
        return;
    beginInsertRows({}, count(), count() + int(fresh.size()) - 1);
    for (Capture &capture : fresh) {
        m_times.push_back(capture.timestamp);
        m_captures.push_back(std::move(capture));
    }
    m_frames.append(paths);
    endInsertRows();
    if (newApplication) {
        // A new name may take the colour another one had.
        std::vector<QString> names;
        for (const Capture &capture : m_captures)
            names.push_back(capture.appName.value_or(QString()));
        m_colors = timeline::applicationColors(std::move(names));
        emit dataChanged(index(0), index(count() - 1), { ColorRole });
    }
    emit capturesChanged();
    if (m_current < 0)
        setCurrentIndex(count() - 1);
    else if (newApplication)
        emit currentChanged(); // its colour may be another
}

void DayTimelineModel::followToday()
{
    const QDate today = localDay(m_clock.now());
    if (m_showsToday && m_day.isValid() && m_day != today)
        showDay(today);
}

bool DayTimelineModel::handleKey(int key)
{
    int target = m_current;
    switch (key) {
    case Qt::Key_Left:
        target = timeline::stepCapture(m_times, m_current, -1);
        break;
    case Qt::Key_Right:
        target = timeline::stepCapture(m_times, m_current, 1);
        break;
    case Qt::Key_PageUp:
        target = timeline::stepHour(m_times, m_current, -1);
        break;
    case Qt::Key_PageDown:
        target = timeline::stepHour(m_times, m_current, 1);
        break;
    case Qt::Key_Home:
        target = m_captures.empty() ? -1 : 0;
        break;
    case Qt::Key_End:
        target = count() - 1;
        break;
    default:
        return false;
    }
    setCurrentIndex(target);
    return true;
}

int DayTimelineModel::indexAt(double fraction) const { return timeline::captureNear(m_times, m_day, fraction); }

void DayTimelineModel::scrubTo(double fraction) { setCurrentIndex(indexAt(fraction)); }

QString DayTimelineModel::describe(int index) const
{
    if (index < 0 || index >= count())
        return {};
    const Capture &capture = m_captures[static_cast<size_t>(index)];
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(capture.timestamp) * 1000));
    return QStringLiteral("%1 \u00b7 %2")
        .arg(QLocale().toString(at.time(), QStringLiteral("HH:mm:ss")), capture.appName.value_or(tr("Unknown")));
}

void DayTimelineModel::openCurrent()
{
    if (m_current < 0)
        return;
    const Capture &capture = m_captures[static_cast<size_t>(m_current)];
    emit openRequested(capture.id.toString(QUuid::WithoutBraces), capture.filePath);
}

void DayTimelineModel::updateFrame()
{
    const QImage exact = m_frames.frame(m_current);
    const bool isExact = !exact.isNull();
    if (isExact)
        m_shown = exact;
    else if (m_current < 0 || m_frames.isMissing(m_current))
        m_shown = QImage();
    if (isExact != m_frameExact)
        m_frameExact = isExact;
    emit frameChanged();
}

} // namespace pellux
