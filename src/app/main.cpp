#include "app/CommandLine.h"
#include "ocr/OpenMPThreadLimit.h"

int main(int argc, char **argv)
{
    pellux::restartWithOpenMPThreadLimit(argv);
    return pellux::runCommandLine(argc, argv);
}
