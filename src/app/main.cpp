#include "app/CommandLine.h"

// `search`, the help and usage errors run here; the application, `capture` and `ocr` in the
// application library that runCommandLine loads for them (app/ApplicationLibrary.h).
int main(int argc, char **argv) { return pellux::runCommandLine(argc, argv); }
