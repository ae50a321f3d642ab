#include "runtime/Log.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

using namespace pellux;

TEST(Log, DebugLinesNeedTheSwitchOtherLinesAlwaysPrint)
{
    const bool wasVerbose = log::verbose();
    qunsetenv("PELLUX_VERBOSE");
    log::setVerbose(false);
    char program[] = "pellux";
    char command[] = "search";
    char flag[] = "--verbose";
    char *quiet[] = { program, command };
    log::configureFromEnvironment(2, quiet);
    EXPECT_FALSE(log::verbose());
    {
        test::LogCapture capture(test::LogCapture::Verbosity::quiet);
        log::debug(QStringLiteral("DEBUG hidden"));
        log::info(QStringLiteral("Database reset completed"));
        log::failure(QStringLiteral("ERROR shown"));
        EXPECT_EQ(capture.lines(), QStringList({ "Database reset completed", "ERROR shown" }));
    }

    char *loud[] = { program, command, flag };
    log::configureFromEnvironment(3, loud);
    EXPECT_TRUE(log::verbose());

    log::setVerbose(false);
    qputenv("PELLUX_VERBOSE", "1");
    log::configureFromEnvironment(2, quiet);
    EXPECT_TRUE(log::verbose());
    qunsetenv("PELLUX_VERBOSE");
    log::setVerbose(wasVerbose);
}
