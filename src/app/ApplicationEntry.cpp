#include "app/CommandLine.h"

// The one symbol of libpellux-app.so that the program looks up (runInApplicationLibrary); the
// library's other symbols stay its own.
extern "C" __attribute__((visibility("default"))) int pelluxRunCommandLine(int argc, char **argv)
{
    return pellux::runApplicationCommandLine(argc, argv);
}
