#include "app/CommandLine.h"
#include "ocr/OpenMPThreadLimit.h"

int main(int argc, char **argv)
{
    // Only what recognises text pays for the restart that limits the recogniser's threads.
    if (pellux::recognisesText(argc, argv))
        pellux::restartWithOpenMPThreadLimit(argv);
    return pellux::runCommandLine(argc, argv);
}
