#include "app/commands/Commands.h"

#include <cstdio>

namespace pellux::commands {

int search(const CommandArguments &)
{
    std::fprintf(stderr, "pellux search: not available yet\n");
    return kExitFailure;
}

} // namespace pellux::commands
