#include "commands.h"

#include <cstdio>
#include <cstring>

namespace {

void usage() {
    std::fputs("usage: ts-inspect scan FILE.ts --frequency KHZ [--frequency KHZ FILE2.ts ...]\n"
               "       ts-inspect guide FILE.ts --channels chaines.xml\n"
               "       ts-inspect record --mode mux|ts|ps [--pmt PID] [--video PID] "
               "[--audio PID] [--pcr PID] [--video-codec mpeg2|h264]\n"
               "                [--audio-codec mpeg|ac3|eac3] [--buffer BYTES] "
               "[--random-splits SEED] IN.ts OUT\n",
               stderr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        usage();
        return 2;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "scan") == 0)
        return runScanCommand(argc - 2, argv + 2);
    if (std::strcmp(command, "guide") == 0)
        return runGuideCommand(argc - 2, argv + 2);
    if (std::strcmp(command, "record") == 0)
        return runRecordCommand(argc - 2, argv + 2);
    std::fprintf(stderr, "ts-inspect: unknown command \"%s\"\n", command);
    usage();
    return 2;
}
