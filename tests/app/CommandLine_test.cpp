#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace pellux {
namespace {

struct RecognitionCase {
    std::vector<const char *> args; // after the program name
    bool recognises;
};

// Only command lines that recognise text pay for the restart that limits the recogniser's threads.
TEST(CommandLine, OnlyTheApplicationCaptureAndOcrRecogniseText)
{
    const RecognitionCase cases[] = {
        { {}, true },
        { { "--background" }, true },
        { { "--verbose", "--reset-database" }, true },
        { { "capture", "--once" }, true },
        { { "--verbose", "ocr", "a.png" }, true },
        { { "search", "budget" }, false },
        { { "--verbose", "search", "budget" }, false },
        { { "--help" }, false },
        { { "--version" }, false },
        { { "bogus" }, false },
    };
    for (const RecognitionCase &c : cases) {
        std::vector<char *> argv { const_cast<char *>("pellux") };
        for (const char *arg : c.args)
            argv.push_back(const_cast<char *>(arg));
        argv.push_back(nullptr);
        EXPECT_EQ(recognisesText(int(argv.size()) - 1, argv.data()), c.recognises)
            << (c.args.empty() ? "(none)" : c.args.front());
    }
}

} // namespace
} // namespace pellux
