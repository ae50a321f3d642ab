#include "ui/FirstRun.h"

#include "persistence/AppPreferences.h"
#include "runtime/Log.h"
#include "runtime/StoreLayout.h"
#include "ui/AppControls.h"

#include <QDir>

namespace pellux {

namespace {
constexpr char kDismissedKey[] = "notices/firstRunDismissed";
} // namespace

FirstRun::FirstRun(AppControls *controls, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_pending(isPending())
{
    if (controls)
        connect(controls, &AppControls::stateChanged, this, &FirstRun::textsChanged);
}

bool FirstRun::isPending() { return !AppPreferences::storedValue(QLatin1String(kDismissedKey)).toBool(); }

bool FirstRun::markDismissed()
{
    if (const std::optional<QString> error = AppPreferences::storeValue(QLatin1String(kDismissedKey), true)) {
        log::failure(
            QStringLiteral("ERROR FirstRun: cannot remember that the first-run sheet was read: %1").arg(*error));
        return false;
    }
    return true;
}

QString FirstRun::storeFolder() const { return QDir::toNativeSeparators(StoreLayout::standard().root()); }

QString FirstRun::pauseText() const
{
    const bool tray = !m_controls || m_controls->trayAvailable();
    return tray ? QStringLiteral("Pause at any time from the tray icon's menu, this window's menu, or with Ctrl+P.")
                : QStringLiteral("Pause at any time from this window's menu or with Ctrl+P. This desktop shows no "
                                 "tray icon, so this window is where Pellux is controlled.");
}

bool FirstRun::startsRecording() const { return m_controls && m_controls->canCapture() && !m_controls->capturing(); }

QString FirstRun::dismissText() const
{
    return startsRecording() ? QStringLiteral("Start Recording") : QStringLiteral("Got It");
}

void FirstRun::dismiss()
{
    if (!m_pending)
        return;
    if (startsRecording())
        m_controls->resume();
    // Shown again at the next start if this cannot be written, rather than never.
    markDismissed();
    m_pending = false;
    emit pendingChanged();
}

void FirstRun::openPrivacySettings()
{
    if (m_controls)
        m_controls->showPrivacySettings();
}

} // namespace pellux
