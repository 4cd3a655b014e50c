// The program's entry point: start-up, the unattended run or the window, tear-down.
#include "core/voStartup.h"

int main(int argc, char** argv) { return voRun(argc, argv); }
