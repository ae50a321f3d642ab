#pragma once

namespace pellux {

struct TrayOptions {
    // --reset-database (Alt held at launch does the same): empty the recording database first.
    bool resetDatabase = false;
    // --background (autostart): only the tray icon, no window at launch.
    bool background = false;
};

// Pellux as a desktop application: an icon in the system tray, capture running in the background,
// the search window opened at launch unless started in the background. Only one runs per user: a
// later start brings the running one's window forward and ends with 0.
int runTrayApplication(int argc, char **argv, TrayOptions options);

} // namespace pellux
