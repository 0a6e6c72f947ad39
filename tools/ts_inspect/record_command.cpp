#include "commands.h"

#include <cstdio>

int runRecordCommand(int, char**) {
    std::fputs("ts-inspect: the record command is not available in this build\n", stderr);
    return 2;
}
