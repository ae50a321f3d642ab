#include "ui/SettingsModel.h"

#include "capture/ActivityMonitor.h"
#include "capture/ScreenshotService.h"
#include "persistence/Autostart.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "runtime/SerialQueue.h"
#include "storage/StorageManager.h"
#include "ui/Alert.h"
#include "ui/ApplicationIcons.h"
#include "ui/MainViewModel.h"
#include "ui/WindowActions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QLocale>
#include <QUrl>

#include <qcorofuture.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#ifndef PELLUX_BUILD_ID
#define PELLUX_BUILD_ID ""
#endif

namespace pellux {

namespace {

constexpr char kContactAddress[] = "contact@pellux.app";

QString percentEncoded(const QString &text) { return QString::fromUtf8(QUrl::toPercentEncoding(text)); }

int indexOfValue(const std::vector<SettingsModel::Option> &options, double value)
{
    for (size_t i = 0; i < options.size(); ++i) {
        if (std::abs(options[i].value - value) < 1e-9)
            return static_cast<int>(i);
    }
    return -1;
}

QVariantList optionList(const std::vector<SettingsModel::Option> &options)
{
    QVariantList list;
    for (const SettingsModel::Option &option : options)
        list.append(
            QVariantMap { { QStringLiteral("label"), option.label }, { QStringLiteral("value"), option.value } });
    return list;
}

} // namespace

// ApplicationListModel

int ApplicationListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : count(); }

QVariant ApplicationListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const RunningApplication &application = m_applications[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return application.applicationName;
    case BundleIdentifierRole:
        return application.bundleIdentifier;
    case ProcessIdRole:
        return application.processID;
    case IsExcludedRole:
        return m_excluded.contains(application.bundleIdentifier);
    case IconSourceRole:
        return m_iconSource ? m_iconSource(application) : QString();
    default:
        return {};
    }
}

QHash<int, QByteArray> ApplicationListModel::roleNames() const
{
    return {
        { NameRole, "name" },
        { BundleIdentifierRole, "bundleIdentifier" },
        { ProcessIdRole, "processID" },
        { IsExcludedRole, "isExcluded" },
        { IconSourceRole, "iconSource" },
    };
}

void ApplicationListModel::setApplications(std::vector<RunningApplication> applications)
{
    if (applications == m_applications)
        return;
    const int before = count();
    const auto key = [](const RunningApplication &a) { return a.bundleIdentifier; };
    QSet<QString> kept;
    for (const RunningApplication &a : applications)
        kept.insert(key(a));
    QStringList survivors;
    for (const RunningApplication &a : m_applications) {
        if (kept.contains(key(a)))
            survivors << key(a);
    }
    QStringList wanted;
    QSet<QString> present(survivors.begin(), survivors.end());
    for (const RunningApplication &a : applications) {
        if (present.contains(key(a)))
            wanted << key(a);
    }
    if (survivors != wanted || present.size() != survivors.size()) {
        // The rows that stay moved among themselves: rare enough to start over.
        beginResetModel();
        m_applications = std::move(applications);
        endResetModel();
    } else {
        for (int row = count() - 1; row >= 0; --row) {
            if (kept.contains(key(m_applications[size_t(row)])))
                continue;
            beginRemoveRows({}, row, row);
            m_applications.erase(m_applications.begin() + row);
            endRemoveRows();
        }
        // The rows left are in the new order: insert the newcomers between them.
        for (size_t row = 0; row < applications.size(); ++row) {
            if (row < m_applications.size() && key(m_applications[row]) == key(applications[row])) {
                if (!(m_applications[row] == applications[row])) {
                    m_applications[row] = applications[row];
                    emit dataChanged(index(int(row)), index(int(row)));
                }
                continue;
            }
            beginInsertRows({}, int(row), int(row));
            m_applications.insert(m_applications.begin() + long(row), applications[row]);
            endInsertRows();
        }
    }
    if (count() != before)
        emit countChanged();
}

void ApplicationListModel::setExcluded(const QSet<QString> &excluded)
{
    const QSet<QString> previous = std::exchange(m_excluded, excluded);
    for (int row = 0; row < count(); ++row) {
        const QString &id = m_applications[size_t(row)].bundleIdentifier;
        if (previous.contains(id) != m_excluded.contains(id))
            emit dataChanged(index(row), index(row), { IsExcludedRole });
    }
}

void ApplicationListModel::setIconSource(IconSource iconSource)
{
    m_iconSource = std::move(iconSource);
    if (count() > 0)
        emit dataChanged(index(0), index(count() - 1), { IconSourceRole });
}

// SettingsModel: the rules

const std::vector<SettingsModel::Option> &SettingsModel::intervalChoices()
{
    static const std::vector<Option> choices {
        { QStringLiteral("Every second"), 1.0 },
        { QStringLiteral("Every 2 seconds"), 2.0 },
        { QStringLiteral("Every 5 seconds"), 5.0 },
        { QStringLiteral("Every 10 seconds"), 10.0 },
        { QStringLiteral("Adapt to activity"), kAdaptiveInterval },
    };
    return choices;
}

const std::vector<SettingsModel::Option> &SettingsModel::retentionChoices()
{
    static const std::vector<Option> choices {
        { QStringLiteral("7 days"), 7 },
        { QStringLiteral("30 days"), 30 },
        { QStringLiteral("90 days"), 90 },
        { QStringLiteral("1 year"), 365 },
        { QStringLiteral("Forever"), 0 },
    };
    return choices;
}

QString SettingsModel::excludedCaptionFor(int count)
{
    return QStringLiteral("%1 app%2 won't be captured").arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
}

std::vector<RunningApplication> SettingsModel::filteredApplications(
    std::vector<RunningApplication> applications, const QString &searchText)
{
    // Code-point order: UTF-16 comparison would put characters above U+FFFF before U+E000..U+FFFF.
    std::vector<QList<uint>> keys;
    keys.reserve(applications.size());
    for (const RunningApplication &application : applications)
        keys.push_back(application.applicationName.toUcs4());
    std::vector<size_t> order(applications.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });

    std::vector<RunningApplication> result;
    result.reserve(applications.size());
    for (const size_t i : order) {
        if (searchText.isEmpty() || applications[i].applicationName.contains(searchText, Qt::CaseInsensitive))
            result.push_back(std::move(applications[i]));
    }
    return result;
}

std::vector<RunningApplication> SettingsModel::pickableApplications(
    std::vector<RunningApplication> applications, qint64 ownProcessId)
{
    // One row per identifier: an application with several windows (or processes, as each xterm
    // is) is excluded as one.
    QSet<QString> seen;
    std::vector<RunningApplication> result;
    for (RunningApplication &application : applications) {
        const QString key = application.bundleIdentifier.toCaseFolded();
        if (application.processID == ownProcessId || seen.contains(key))
            continue;
        seen.insert(key);
        result.push_back(std::move(application));
    }
    return result;
}

QString SettingsModel::versionTextFor(const QString &version, const QString &build)
{
    const auto orUnknown = [](const QString &text) { return text.isEmpty() ? QStringLiteral("Unknown") : text; };
    return QStringLiteral("Version %1 (%2)").arg(orUnknown(version), orUnknown(build));
}

QString SettingsModel::iconSourceFor(const RunningApplication &application)
{
    return QStringLiteral("image://appicon/%1?id=%2")
        .arg(percentEncoded(application.applicationName), percentEncoded(application.bundleIdentifier));
}

// SettingsModel: the state

SettingsModel::SettingsModel(Components components, QObject *parent)
    : QObject(parent)
    , m_components(components)
    , m_files(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.settings")))
    , m_picker(std::make_unique<ApplicationListModel>())
{
    connect(m_components.viewModel, &MainViewModel::preferencesChanged, this, [this] {
        updateExcluded();
        emit preferencesChanged();
    });
    connect(m_components.viewModel, &MainViewModel::hasScreenRecordingPermissionChanged, this,
        &SettingsModel::canReadScreenChanged);
    m_pickerRefresh.setInterval(kPickerRefreshInterval);
    connect(&m_pickerRefresh, &QTimer::timeout, this, [this] { loadAvailableApplications(); });
    updateExcluded();
}

void SettingsModel::setApplicationIcons(ApplicationIcons *icons)
{
    m_icons = icons;
    const auto refresh = [this] {
        m_picker->setIconSource([this](const RunningApplication &application) { return iconSource(application); });
        emit excludedChipsChanged();
    };
    if (icons)
        connect(icons, &ApplicationIcons::readyChanged, this, refresh);
    refresh();
}

QString SettingsModel::iconSource(const RunningApplication &application) const
{
    return m_icons && m_icons->hasApplicationIcon(application.applicationName, application.bundleIdentifier)
        ? iconSourceFor(application)
        : QString();
}

// The queue finishes the writes already handed to it before it goes.
SettingsModel::~SettingsModel() = default;

const AppPreferences &SettingsModel::preferences() const { return m_components.viewModel->preferences(); }

QVariantList SettingsModel::sections() const
{
    const auto section = [](const char *title, const char *icon) {
        return QVariantMap { { QStringLiteral("title"), QLatin1String(title) },
            { QStringLiteral("icon"), QLatin1String(icon) } };
    };
    return { section("General", "gear"), section("Privacy", "hand.raised"), section("Storage", "internaldrive"),
        section("About", "info.circle") };
}

void SettingsModel::setSelectedSection(int section)
{
    if (section < 0 || section > int(Section::about) || section == m_selectedSection)
        return;
    m_selectedSection = section;
    emit selectedSectionChanged();
}

QVariantList SettingsModel::intervalOptions() const { return optionList(intervalChoices()); }

int SettingsModel::intervalIndex() const
{
    return indexOfValue(
        intervalChoices(), preferences().useDynamicIntervals ? kAdaptiveInterval : preferences().screenshotInterval);
}

QString SettingsModel::adaptiveIntervalText()
{
    const auto every = [](double seconds) {
        return seconds == 1.0 ? QStringLiteral("second")
                              : QStringLiteral("%1 seconds").arg(QLocale().toString(seconds));
    };
    return QStringLiteral("Every %1 while you work, up to every %2 when idle")
        .arg(every(ActivityMonitor::highInterval), every(ActivityMonitor::idleInterval));
}

QString SettingsModel::intervalCaption() const
{
    return preferences().useDynamicIntervals ? adaptiveIntervalText()
                                             : QStringLiteral("More frequent captures use more storage space");
}

bool SettingsModel::keepsForever() const { return preferences().retentionDays <= 0; }

bool SettingsModel::canReadScreen() const { return m_components.viewModel->hasScreenRecordingPermission(); }

QVariantList SettingsModel::retentionOptions() const { return optionList(retentionChoices()); }

int SettingsModel::retentionIndex() const { return indexOfValue(retentionChoices(), preferences().retentionDays); }

void SettingsModel::chooseInterval(int index)
{
    if (index < 0 || size_t(index) >= intervalChoices().size() || index == intervalIndex())
        return;
    AppPreferences changed = preferences();
    const double value = intervalChoices()[size_t(index)].value;
    changed.useDynamicIntervals = value == kAdaptiveInterval;
    if (!changed.useDynamicIntervals)
        changed.screenshotInterval = value;
    savePreferences(std::move(changed), CaptureUpdate::restart);
}

void SettingsModel::chooseRetention(int index)
{
    if (index < 0 || size_t(index) >= retentionChoices().size() || index == retentionIndex())
        return;
    AppPreferences changed = preferences();
    changed.retentionDays = static_cast<int>(retentionChoices()[size_t(index)].value);
    savePreferences(std::move(changed), CaptureUpdate::none);
}

int SettingsModel::excludedCount() const { return static_cast<int>(preferences().excludedApps.size()); }

QString SettingsModel::excludedCountText() const { return QStringLiteral("%1 excluded").arg(excludedCount()); }

QVariantList SettingsModel::excludedChips() const
{
    // Only running applications have a chip: the name and icon come from them.
    std::vector<RunningApplication> running;
    for (const RunningApplication &application : m_available) {
        if (preferences().excludedApps.contains(application.bundleIdentifier)
            && std::none_of(running.begin(), running.end(), [&](const RunningApplication &known) {
                   return known.bundleIdentifier == application.bundleIdentifier;
               }))
            running.push_back(application);
    }
    QVariantList chips;
    for (const RunningApplication &application : filteredApplications(std::move(running), {})) {
        chips.append(QVariantMap { { QStringLiteral("name"), application.applicationName },
            { QStringLiteral("bundleIdentifier"), application.bundleIdentifier },
            { QStringLiteral("iconSource"), iconSource(application) } });
    }
    return chips;
}

void SettingsModel::toggleExcluded(const QString &bundleIdentifier)
{
    if (bundleIdentifier.isEmpty())
        return;
    AppPreferences changed = preferences();
    if (!changed.excludedApps.remove(bundleIdentifier))
        changed.excludedApps.insert(bundleIdentifier);
    savePreferences(std::move(changed), CaptureUpdate::reload);
}

void SettingsModel::removeExcluded(const QString &bundleIdentifier)
{
    if (!preferences().excludedApps.contains(bundleIdentifier))
        return;
    AppPreferences changed = preferences();
    changed.excludedApps.remove(bundleIdentifier);
    savePreferences(std::move(changed), CaptureUpdate::reload);
}

QCoro::Task<> SettingsModel::savePreferences(AppPreferences changed, CaptureUpdate update)
{
    // The window shows the edit at once; the writes follow in order on the queue.
    const AppPreferences previous = preferences();
    const quint64 edit = ++m_preferencesEdit;
    m_components.viewModel->setPreferences(changed);
    QPointer<SettingsModel> self(this);
    QFuture<bool> written = m_files->future([changed] { return changed.save(); });
    const bool ok = co_await written;
    if (!self)
        co_return;
    if (ok) {
        ScreenshotService &service = m_components.viewModel->screenshotService();
        if (update == CaptureUpdate::restart)
            service.refreshPreferences();
        else if (update == CaptureUpdate::reload)
            service.reloadPreferences();
    } else if (edit == m_preferencesEdit) {
        // Capture reads only what is stored: showing an exclusion that was never written would
        // claim an application is skipped while it is still captured.
        m_components.viewModel->setPreferences(previous);
    }
    emit preferencesSaved(ok);
}

void SettingsModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    emit searchTextChanged();
    updatePicker();
}

void SettingsModel::updatePicker() { m_picker->setApplications(filteredApplications(m_available, m_searchText)); }

void SettingsModel::updateExcluded()
{
    m_picker->setExcluded(preferences().excludedApps);
    emit excludedChipsChanged();
}

QCoro::Task<> SettingsModel::loadAvailableApplications()
{
    // A refresh while the last query is unanswered would only queue behind it.
    if (m_loadingApplications)
        co_return;
    m_loadingApplications = true;
    QPointer<SettingsModel> self(this);
    QCoro::Task<CaptureResult<ShareableContent>> query = m_components.backend->getShareableContent(false, false);
    CaptureResult<ShareableContent> content = co_await query;
    if (!self)
        co_return;
    m_loadingApplications = false;
    if (!content.ok()) {
        log::failure(QStringLiteral("Failed to load available apps: %1").arg(content.error().localizedDescription));
        emit availableApplicationsLoaded();
        co_return;
    }
    m_available = pickableApplications(std::move(content).value().applications, QCoreApplication::applicationPid());
    updatePicker();
    emit excludedChipsChanged();
    emit availableApplicationsLoaded();
}

void SettingsModel::requestDeleteAll()
{
    if (m_isDeleting)
        return;
    const int choice = runAlert(m_window, QMessageBox::Warning, QStringLiteral("Delete All Data?"),
        QStringLiteral("This will permanently delete all screenshots and their text. This action "
                       "cannot be undone."),
        { { QStringLiteral("Cancel"), QMessageBox::RejectRole },
            { QStringLiteral("Delete"), QMessageBox::DestructiveRole } },
        0, 0);
    if (choice == 1)
        deleteAllData();
}

QCoro::Task<> SettingsModel::deleteAllData()
{
    if (m_isDeleting)
        co_return;
    setDeleting(true);
    QPointer<SettingsModel> self(this);
    QCoro::Task<bool> deletion = m_components.storage->deleteAllRecordings();
    const bool filesDeleted = co_await deletion;
    if (!self)
        co_return;
    auto [emptying, completion] = completionFuture(false);
    m_components.database->deleteAllData(std::move(completion));
    const bool rowsDeleted = co_await emptying;
    if (!self)
        co_return;
    // Rows no list named went too: the search window asks for the application names again.
    m_components.storage->databaseCleared();
    setDeleting(false);
    if (!filesDeleted || !rowsDeleted)
        runAlert(m_window, QMessageBox::Warning, QStringLiteral("Not All Data Was Deleted"),
            QStringLiteral("Some screenshots or their text could not be deleted. The log names what failed."),
            { { QStringLiteral("OK"), QMessageBox::AcceptRole } }, 0, 0);
}

void SettingsModel::setDeleting(bool on)
{
    if (m_isDeleting == on)
        return;
    m_isDeleting = on;
    emit isDeletingChanged();
}

void SettingsModel::setStartAtLogin(bool on)
{
    if (on == m_startAtLogin)
        return;
    setStartAtLoginValue(on);
    applyStartAtLogin(on);
}

void SettingsModel::setStartAtLoginValue(bool on)
{
    ++m_startAtLoginGeneration;
    if (m_startAtLogin == on)
        return;
    m_startAtLogin = on;
    emit startAtLoginChanged();
}

QCoro::Task<> SettingsModel::applyStartAtLogin(bool on)
{
    const quint64 generation = m_startAtLoginGeneration;
    QPointer<SettingsModel> self(this);
    QFuture<bool> written = m_files->future([on] { return setAutostartEnabled(on); });
    const bool ok = co_await written;
    if (!self)
        co_return;
    if (!ok) {
        log::failure(QStringLiteral("ERROR Settings: Could not %1 starting Pellux at login")
                         .arg(on ? QStringLiteral("turn on") : QStringLiteral("turn off")));
        // A later change of the switch decides its own value.
        if (generation == m_startAtLoginGeneration)
            setStartAtLoginValue(!on);
    }
    emit startAtLoginApplied(ok);
}

QCoro::Task<> SettingsModel::loadStartAtLogin()
{
    const quint64 generation = m_startAtLoginGeneration;
    QPointer<SettingsModel> self(this);
    QFuture<bool> read = m_files->future([] { return isAutostartEnabled(); });
    const bool enabled = co_await read;
    if (self && generation == m_startAtLoginGeneration)
        setStartAtLoginValue(enabled);
}

QString SettingsModel::versionText() const { return applicationVersionText(); }

QString SettingsModel::applicationVersionText()
{
    return versionTextFor(QStringLiteral(PELLUX_VERSION), QStringLiteral(PELLUX_BUILD_ID));
}

QString SettingsModel::contactAddress() const { return QLatin1String(kContactAddress); }

QString SettingsModel::legalNotice() const
{
    const int year = QDateTime::fromSecsSinceEpoch(qint64(secondsSince1970(m_components.clock->now()))).date().year();
    return QStringLiteral("Copyright © %1 The Pellux developers. All rights reserved.").arg(year);
}

void SettingsModel::openPrivacySettings() { QDesktopServices::openUrl(WindowActions::privacySettingsUrl()); }

void SettingsModel::openContact()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + QLatin1String(kContactAddress)));
}

void SettingsModel::prepareForShow()
{
    setSelectedSection(int(Section::general));
    setSearchText({});
    loadAvailableApplications();
    loadStartAtLogin();
}

} // namespace pellux
