#include "commands.h"

#include <cstdio>

int runGuideCommand(int, char**) {
    std::fputs("ts-inspect: the guide command is not available in this build\n", stderr);
    return 2;
}
