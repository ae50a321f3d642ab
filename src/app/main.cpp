#include "app/CommandLine.h"

int main(int argc, char **argv) { return pellux::runCommandLine(argc, argv); }
