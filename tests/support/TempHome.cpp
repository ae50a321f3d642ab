#include "support/TempHome.h"

#include "persistence/AppPreferences.h"
#include "ui/FirstRun.h"

namespace pellux::test {

TempHome::TempHome()
{
    const QByteArray home = QFile::encodeName(m_dir.path());
    set("HOME", home);
    set("XDG_CONFIG_HOME", home + "/.config");
    set("XDG_DATA_HOME", home + "/.local/share");
    set("XDG_CACHE_HOME", home + "/.cache");
    set("XDG_STATE_HOME", home + "/.local/state");
    // Tests running side by side each have their own Pellux instance lock and socket.
    set("XDG_RUNTIME_DIR", home + "/.run");
    for (const char *folder : { ".run", ".config", "Documents" })
        QDir(m_dir.path()).mkpath(QLatin1String(folder));
    QFile::setPermissions(
        m_dir.path() + QStringLiteral("/.run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Pellux has run here before: the first start's sheet covers no window under test.
    FirstRun::markDismissed();
}

TempHome::~TempHome()
{
    for (const auto &[name, value] : m_saved) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

bool TempHome::saveFixedInterval(double seconds) const
{
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.useDynamicIntervals = false;
    if (seconds > 0)
        preferences.screenshotInterval = seconds;
    return preferences.save();
}

QString TempHome::pelluxFolder() const { return m_dir.path() + QStringLiteral("/Documents/Pellux"); }

void TempHome::set(const char *name, const QByteArray &value)
{
    if (!m_saved.count(name))
        m_saved[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    qputenv(name, value);
}

} // namespace pellux::test
