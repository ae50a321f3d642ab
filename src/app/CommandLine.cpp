#include "app/CommandLine.h"

#include "app/ApplicationLibrary.h"
#include "app/commands/Commands.h"
#include "runtime/Log.h"

#include <QString>

#include <cstdio>
#include <cstring>

namespace pellux {

namespace {

struct Command {
    const char *name;
    const char *synopsis;
    const char *summary;
    // Null: the command runs in the application library.
    int (*run)(const CommandArguments &);
};

const Command kCommands[] = {
    { "search", "search [QUERY] [--app NAME] [--since DATE] [--until DATE] [--limit N] [--json]",
        "Print the screenshots whose recognised text, title or application name contains QUERY,\n"
        "                                                  newest first; without QUERY, every screenshot of the range "
        "and application.\n"
        "                                                  DATE is local time: YYYY-MM-DD, \"YYYY-MM-DD HH:MM\", "
        "today, "
        "yesterday or\n"
        "                                                  \"N days ago\"; --until a day includes that whole day. "
        "--limit: at most N\n"
        "                                                  results (100 without it).\n"
        "                                                  With --json, each result's \"matches\" are where QUERY is "
        "on its stored image:\n"
        "                                                  {x, y, width, height} in pixels (top-left origin), one per "
        "line of each\n"
        "                                                  occurrence (several for one that spans lines); [] where no "
        "word boxes are stored.",
        commands::search },
    { "ocr", "ocr IMAGE...", "Print the text Pellux would store for each image (PNG, JPEG, WebP).", nullptr },
    { "text", "text ID",
        "Print a screenshot's text and each word's box as JSON: {id, text, words:\n"
        "                                                  [{text, x, y, width, height}]}; a screenshot stored before "
        "word boxes were\n"
        "                                                  kept is recognised again from its image.",
        nullptr },
    { "capture", "capture [--for SECONDS | --once]",
        "Capture the windows on screen without the tray until interrupted (Ctrl+C).", nullptr },
};

const Command *findCommand(const char *name)
{
    for (const Command &command : kCommands) {
        if (std::strcmp(command.name, name) == 0)
            return &command;
    }
    return nullptr;
}

} // namespace

GlobalOptions readGlobalOptions(int argc, char **argv)
{
    GlobalOptions options;
    int at = 1;
    for (; at < argc; ++at) {
        if (std::strcmp(argv[at], "--reset-database") == 0)
            options.resetDatabase = true;
        else if (std::strcmp(argv[at], "--background") == 0)
            options.background = true;
        else if (std::strcmp(argv[at], "--verbose") != 0)
            break;
    }
    options.commandAt = at;
    return options;
}

CommandArguments commandArguments(int argc, char **argv, int at)
{
    CommandArguments arguments { argc, argv, {} };
    for (int i = at + 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--verbose") != 0)
            arguments.args.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

void printUsage()
{
    std::printf("Usage: pellux [COMMAND] [OPTIONS]\n\n"
                "Pellux keeps a searchable history of the windows on your screen.\n"
                "Without a command it starts Pellux in the system tray and opens its window;\n"
                "while Pellux runs, starting it again brings its window forward.\n\n"
                "Commands:\n");
    for (const Command &command : kCommands) {
        // A synopsis too long for its column gets a line of its own.
        if (std::strlen(command.synopsis) > 40)
            std::printf("  pellux %s\n%50s%s\n", command.synopsis, "", command.summary);
        else
            std::printf("  pellux %-40s %s\n", command.synopsis, command.summary);
    }
    std::printf(
        "\nOptions:\n"
        "  --background                                    Start Pellux in the tray without opening its window\n"
        "                                                  (as autostart does).\n"
        "  --reset-database                                Delete every screenshot and its text, then start\n"
        "                                                  Pellux.\n"
        "  --verbose                                       Print the per-call DEBUG lines "
        "(also PELLUX_VERBOSE=1).\n"
        "  --help                                          Show this help.\n");
}

int runCommandLine(int argc, char **argv)
{
    log::configureFromEnvironment(argc, argv);

    const GlobalOptions options = readGlobalOptions(argc, argv);
    const int at = options.commandAt;
    if (at == argc)
        return runInApplicationLibrary(argc, argv);
    const char *first = argv[at];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 || std::strcmp(first, "help") == 0) {
        printUsage();
        return kExitSuccess;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("pellux %s\n", PELLUX_VERSION);
        return kExitSuccess;
    }
    const Command *command = findCommand(first);
    if (!command) {
        std::fprintf(stderr, "pellux: unknown command '%s' (see pellux --help)\n", first);
        return kExitUsage;
    }
    if (options.resetDatabase || options.background) {
        std::fprintf(stderr, "pellux: %s starts Pellux and takes no command\n",
            options.resetDatabase ? "--reset-database" : "--background");
        return kExitUsage;
    }
    if (!command->run)
        return runInApplicationLibrary(argc, argv);
    return command->run(commandArguments(argc, argv, at));
}

} // namespace pellux
