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

// The options that may come before the command (`pellux --verbose search x`), or alone for the
// application.
struct GlobalOptions {
    bool resetDatabase = false;
    bool background = false;
    int commandAt = 0; // the position of the command in argv; argc when there is none
};
GlobalOptions readGlobalOptions(int argc, char **argv);

// The arguments of the command at `at`, without --verbose (read by the log).
CommandArguments commandArguments(int argc, char **argv, int at);

// Dispatches `pellux [COMMAND] [ARGS...]` in the program itself, which holds only the help, the
// usage errors and `search`. The application (no command) and the commands that capture or
// recognise text run in the application library (runInApplicationLibrary).
int runCommandLine(int argc, char **argv);

// The command line in the application library: the application itself, `capture` and `ocr`.
int runApplicationCommandLine(int argc, char **argv);

// Prints the list of commands to standard output.
void printUsage();

} // namespace pellux
