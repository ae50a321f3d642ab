#pragma once

#include <QString>

#include <functional>

namespace pellux::wayland::portal {

// The key of the settings file that holds the portal's restore token. It sits beside the
// preferences, not inside their JSON value: the preferences are saved whole from the copy each
// holder loaded (the settings window's copy dates from its start), so a token written by capture
// in between would be put back to an older one at the next save, and a restore token is valid
// only once. It is also no choice of the user's, rather a grant the desktop handed out.
inline constexpr char kRestoreTokenKey[] = "com.pellux.screencast.restoreToken";

// Where the backend keeps the token between runs (injected so that tests need no settings file).
struct RestoreTokenStore {
    std::function<QString()> load;
    std::function<void(const QString &token)> save;
};

// The token in Pellux's settings file (~/.config/Pellux/Pellux.conf), kept private as the
// preferences are. An empty token removes it.
RestoreTokenStore settingsFileRestoreTokenStore();

} // namespace pellux::wayland::portal
