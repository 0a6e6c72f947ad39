#include "commands.h"
#include "ts_file.h"

#include "channels/channel_file.h"
#include "si/nit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct NoTuner : korvane::ScanTuner {
    int tuneFrequency(int32_t) override { return 0; }
};

bool parseFrequency(const char* text, int32_t& out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value <= 0 || value > 0x7FFFFFFF)
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

int usage() {
    std::fputs("usage: ts-inspect scan FILE.ts --frequency KHZ [--frequency KHZ FILE2.ts ...]\n",
               stderr);
    return 2;
}

} // namespace

// Scans each recorded multiplex as if it were tuned on its frequency, numbers and sorts the
// channels from the NIT, and prints the channel file the program would write.
int runScanCommand(int argc, char** argv) {
    std::vector<const char*> files;
    std::vector<int32_t> frequencies;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frequency") == 0) {
            int32_t f = 0;
            if (i + 1 >= argc || !parseFrequency(argv[i + 1], f)) {
                std::fputs("ts-inspect scan: --frequency needs a frequency in kHz\n", stderr);
                return usage();
            }
            frequencies.push_back(f);
            ++i;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "ts-inspect scan: unknown option \"%s\"\n", argv[i]);
            return usage();
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty() || files.size() != frequencies.size()) {
        std::fputs("ts-inspect scan: give one --frequency for each file\n", stderr);
        return usage();
    }

    korvane::ChannelList list;
    korvane::ScanState state;
    NoTuner tuner;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto stream = readWholeFile(files[i]);
        if (!stream) {
            std::fprintf(stderr, "ts-inspect scan: cannot read \"%s\"\n", files[i]);
            return 1;
        }
        FileSectionReader reader(*stream);
        korvane::scanFrequency(list, state, reader, tuner, frequencies[i]);
    }
    korvane::applyLogicalChannelNumbers(list, state.pendingNit);
    const std::string text = korvane::formatChannelFile(list.snapshot());
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
}
