#include "app/CommandLine.h"
#include "app/TrayApplication.h"
#include "app/commands/Commands.h"
#include "runtime/Log.h"

#include <cstdio>
#include <cstring>

namespace pellux {

int runApplicationCommandLine(int argc, char **argv)
{
    // The log of this library is its own: the program's settings do not reach it.
    log::configureFromEnvironment(argc, argv);

    const GlobalOptions options = readGlobalOptions(argc, argv);
    if (options.commandAt == argc)
        return runTrayApplication(argc, argv, TrayOptions { options.resetDatabase, options.background });
    const struct {
        const char *name;
        int (*run)(const CommandArguments &);
    } kApplicationCommands[]
        = { { "ocr", commands::ocr }, { "text", commands::text }, { "capture", commands::capture } };
    const char *name = argv[options.commandAt];
    for (const auto &command : kApplicationCommands) {
        if (std::strcmp(command.name, name) == 0)
            return command.run(commandArguments(argc, argv, options.commandAt));
    }
    std::fprintf(stderr, "pellux: '%s' is not a command of the Pellux application library\n", name);
    return kExitUsage;
}

} // namespace pellux
