#include "si/pmt.h"
#include "si/section_check.h"

#include <vector>

using namespace korvane;

namespace {

struct NullNotifier : WindowNotifier {
    void postGuideUpdated() override {}
    void postStreamsChanged() override {}
};

struct SizeSaver : ChannelFileSaver {
    void saveChannels(const ChannelRecords& copy) override {
        if (copy.size() != 2)
            __builtin_trap();
    }
};

void checkPids(const ChannelInfo& c) {
    for (int32_t pid :
         {c.pcrPid, c.videoPid, c.videoMpeg4Pid, c.audio1Pid, c.audio2Pid, c.ac3Pid, c.ac3Pid2})
        if (pid < 0 || pid > 0x1FFF)
            __builtin_trap();
    for (const SubtitleStream& stream : c.subtitleStreams)
        if (stream.pid < 0 || stream.pid > 0x1FFF)
            __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ChannelList list;
    list.append(ChannelInfo{});
    list.append(ChannelInfo{});
    list.setCurrentIndex(1);
    NullNotifier notifier;
    SizeSaver saver;

    decodePmt(list, notifier, saver, data, size);
    scanPmt(list, data, size, 0);
    std::vector<uint8_t> section(data, data + size);
    const uint32_t crc = crc32Mpeg2(section.data(), section.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(static_cast<uint8_t>(crc >> shift));
    handlePmtSample(list, notifier, saver, section.data(), section.size());

    checkPids(*list.copyAt(0));
    checkPids(*list.copyAt(1));
    return 0;
}
