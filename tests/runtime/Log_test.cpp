#include "support/TestFiles.h"

using namespace pellux;

TEST(Log, DebugLinesNeedTheSwitchOtherLinesAlwaysPrint)
{
    const bool wasVerbose = log::verbose();
    qunsetenv("PELLUX_VERBOSE");
    char program[] = "pellux", command[] = "search", flag[] = "--verbose";
    char *quiet[] = { program, command };
    char *loud[] = { program, command, flag };
    const auto verboseAfter = [&](int argc, char **argv) {
        log::setVerbose(false);
        log::configureFromEnvironment(argc, argv);
        return log::verbose();
    };
    EXPECT_FALSE(verboseAfter(2, quiet));
    {
        test::LogCapture capture(test::LogCapture::Verbosity::quiet);
        log::debug(QStringLiteral("DEBUG hidden"));
        log::info(QStringLiteral("Database reset completed"));
        log::failure(QStringLiteral("ERROR shown"));
        // A title cannot split a line, forge another or colour the terminal.
        log::info(QStringLiteral("Window a\nERROR forged\t\x1b[31m\u202Eexe.txt"));
        EXPECT_EQ(capture.lines(),
            QStringList(
                { "Database reset completed", "ERROR shown", "Window a\\nERROR forged\\t\\x1b[31m\\u202eexe.txt" }));
    }
    EXPECT_TRUE(verboseAfter(3, loud));
    qputenv("PELLUX_VERBOSE", "1");
    EXPECT_TRUE(verboseAfter(2, quiet));
    qunsetenv("PELLUX_VERBOSE");
    log::setVerbose(wasVerbose);
}
