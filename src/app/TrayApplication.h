#pragma once

namespace pellux {

// Pellux as a desktop application: no window at start, an icon in the system tray, capture
// running in the background. `resetDatabase` (the --reset-database flag; Alt held at launch does
// the same) empties the recording database first.
int runTrayApplication(int argc, char **argv, bool resetDatabase);

} // namespace pellux
