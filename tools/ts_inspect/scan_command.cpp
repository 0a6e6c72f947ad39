#include "commands.h"

#include <cstdio>

int runScanCommand(int, char**) {
    std::fputs("ts-inspect: the scan command is not available in this build\n", stderr);
    return 2;
}
