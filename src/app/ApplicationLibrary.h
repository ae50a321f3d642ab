#pragma once

namespace pellux {

// The program holds only the command line and `pellux search`, so that they start without loading
// Qt's GUI modules, Tesseract and the image codecs. Everything else (the tray application, capture,
// text recognition) is in the application library, libpellux-app.so, looked for beside the program
// (the build folder) and then in the installed library folder (LIBDIR/pellux).

// Opens the application library and runs the command line in it (runApplicationCommandLine).
// The program is first restarted once with OMP_THREAD_LIMIT=1 unless the variable is set
// (restartWithOpenMPThreadLimit): Qt Core has loaded the OpenMP runtime, which Tesseract uses,
// before main() runs. A library that is missing or cannot be loaded is reported on standard error
// and gives kExitFailure.
int runInApplicationLibrary(int argc, char **argv);

} // namespace pellux
