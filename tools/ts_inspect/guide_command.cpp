#include "commands.h"
#include "local_time.h"
#include "ts_file.h"

#include "si/eit.h"
#include "si/psi_ids.h"
#include "support/channel_file_reader.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

struct NoWindow : korvane::WindowNotifier {
    void postGuideUpdated() override {}
    void postStreamsChanged() override {}
};

int usage() {
    std::fputs("usage: ts-inspect guide FILE.ts --channels chaines.xml\n", stderr);
    return 2;
}

void printSlot(std::size_t index, const korvane::ChannelInfo& c, const char* which,
               const korvane::EpgEvent& e) {
    std::printf("%zu\t%d\t%s\t%llu\t%s\t%s\t%s\t%s\n", index, c.sid, which,
                static_cast<unsigned long long>(e.startTime), e.startText.c_str(),
                e.endText.c_str(), e.title.c_str(), e.description.c_str());
}

} // namespace

// Runs every EIT section of a recorded multiplex through the guide filter's gate and decoder
// over the channels of a channel file, then prints the guide slots that were filled.
int runGuideCommand(int argc, char** argv) {
    const char* tsPath = nullptr;
    const char* channelsPath = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--channels") == 0 && i + 1 < argc)
            channelsPath = argv[++i];
        else if (argv[i][0] != '-' && !tsPath)
            tsPath = argv[i];
        else
            return usage();
    }
    if (!tsPath || !channelsPath)
        return usage();

    auto channelText = readWholeFile(channelsPath);
    if (!channelText) {
        std::fprintf(stderr, "ts-inspect guide: cannot read \"%s\"\n", channelsPath);
        return 1;
    }
    korvane::ChannelRecords records;
    if (!korvane::parseChannelFile(*channelText, records, korvane::replaceWithQuestionMarks)) {
        std::fprintf(stderr, "ts-inspect guide: \"%s\" is not a well-formed channel file\n",
                     channelsPath);
        return 1;
    }
    auto stream = readWholeFile(tsPath);
    if (!stream) {
        std::fprintf(stderr, "ts-inspect guide: cannot read \"%s\"\n", tsPath);
        return 1;
    }

    korvane::ChannelList list;
    for (const auto& c : records)
        list.append(c);
    tzset();
    NoWindow window;
    LocalTimeConverter clock;
    forEachSection(*stream, {korvane::kEitPid},
                   [&](uint16_t, const uint8_t* section, std::size_t size) {
                       korvane::handleEitSample(list, window, clock, section, size);
                   });

    const korvane::ChannelRecords result = list.snapshot();
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (!result[i].present.empty())
            printSlot(i, result[i], "present", result[i].present);
        if (!result[i].following.empty())
            printSlot(i, result[i], "following", result[i].following);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
