// What the preferences window deletes besides everything: the screenshots past the retention
// setting, and those of an application the user has just excluded; and the picker's refresh.

#include "ui/DeletionAlerts.h"
#include "ui/MainViewModel.h"
#include "ui/SettingsModel.h"

#include <QPointer>

namespace pellux {

QCoro::Task<std::optional<DeletionReport>> SettingsModel::cleanUpOldRecordings()
{
    const int days = preferences().retentionDays;
    // Kept forever: nothing is old (the button is disabled then).
    if (m_isDeleting || days <= 0)
        co_return std::nullopt;
    QPointer<SettingsModel> self(this);
    setDeleting(true);
    QCoro::Task<std::optional<DeletionReport>> cleaning = cleanUpOlderThan(m_window, *m_components.storage, days);
    std::optional<DeletionReport> report = co_await cleaning;
    if (self)
        setDeleting(false);
    co_return report;
}

QCoro::Task<std::optional<DeletionReport>> SettingsModel::toggleExcludedAndOffer(QString bundleIdentifier)
{
    if (bundleIdentifier.isEmpty())
        co_return std::nullopt;
    QPointer<SettingsModel> self(this);
    AppPreferences changed = preferences();
    const bool excluding = !changed.excludedApps.remove(bundleIdentifier);
    if (excluding)
        changed.excludedApps.insert(bundleIdentifier);
    QCoro::Task<> saving = savePreferences(std::move(changed), CaptureUpdate::reload);
    co_await saving;
    // Only an exclusion that was written stops capture, and only then is the question fair.
    if (!self || !excluding || !preferences().excludedApps.contains(bundleIdentifier))
        co_return std::nullopt;
    // Screenshots are stored under the application's name, which the running application tells.
    const auto running = std::find_if(m_available.begin(), m_available.end(),
        [&](const RunningApplication &application) { return application.bundleIdentifier == bundleIdentifier; });
    if (running == m_available.end() || running->applicationName.isEmpty())
        co_return std::nullopt;
    QCoro::Task<std::optional<DeletionReport>> offering
        = offerToDeleteApplication(m_window, *m_components.storage, running->applicationName);
    co_return co_await offering;
}

void SettingsModel::setPickerShown(bool shown)
{
    if (shown == m_pickerRefresh.isActive())
        return;
    if (shown)
        m_pickerRefresh.start();
    else
        m_pickerRefresh.stop();
}

} // namespace pellux
