#include "capture/wayland/portal/RestoreToken.h"

#include "persistence/AppPreferences.h"
#include "runtime/Log.h"

namespace pellux::wayland::portal {

RestoreTokenStore settingsFileRestoreTokenStore()
{
    return RestoreTokenStore {
        [] { return AppPreferences::storedValue(QLatin1String(kRestoreTokenKey)).toString(); },
        [](const QString &token) {
            const QVariant value = token.isEmpty() ? QVariant() : QVariant(token);
            if (const std::optional<QString> error = AppPreferences::storeValue(QLatin1String(kRestoreTokenKey), value))
                log::failure(QStringLiteral("ERROR PortalCaptureBackend: cannot keep the screen-cast restore token, "
                                            "the desktop will ask again next time: %1")
                                 .arg(*error));
        },
    };
}

} // namespace pellux::wayland::portal
