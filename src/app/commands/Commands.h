#pragma once

#include "app/CommandLine.h"

// One entry point per command-line command; each lives in its own file beside this one.
namespace pellux::commands {

int search(const CommandArguments &arguments);
int ocr(const CommandArguments &arguments);
int text(const CommandArguments &arguments);
int capture(const CommandArguments &arguments);

} // namespace pellux::commands
