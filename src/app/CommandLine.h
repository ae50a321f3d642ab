#pragma once

#include <QStringList>

namespace pellux {

// Exit codes shared by the command-line tools.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitNoResults = 1; // the command ran and found nothing
inline constexpr int kExitUsage = 2; // bad arguments
// Another Pellux process already captures into the same folder (the code of a refused start).
inline constexpr int kExitAlreadyCapturing = 2;
inline constexpr int kExitFailure = 3; // the command could not do its job (missing database, no X server...)

// Everything a command needs: the raw arguments (for creating its Qt application) and the
// arguments after the command name.
struct CommandArguments {
    int argc;
    char **argv;
    QStringList args;
};

// Dispatches `pellux [COMMAND] [ARGS...]`. Without a command it starts the application itself.
int runCommandLine(int argc, char **argv);

// Whether this command line runs text recognition (the application itself, `capture`, `ocr`):
// only those need the recogniser's thread limit set before the program loads.
bool recognisesText(int argc, char **argv);

// Prints the list of commands to standard output.
void printUsage();

} // namespace pellux
