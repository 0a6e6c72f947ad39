#include "si/nit.h"

#include <vector>

using namespace korvane;

// The first byte chooses which of a few services carry video, the rest is the NIT section.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    ChannelList list;
    for (int i = 0; i < 8; ++i) {
        ChannelInfo c;
        c.onid = 0x20FA;
        c.tsid = 1 + i % 2;
        c.sid = 0x100 + i;
        c.videoPid = (data[0] >> i) & 1 ? 0x100 : 0;
        list.append(c);
    }
    for (const LogicalChannelNumber& n : parseNit(data + 1, size - 1).numbers)
        if (n.number < 0 || n.number > 0x3FF || n.sid < 0 || n.sid > 0xFFFF)
            __builtin_trap();
    std::vector<uint8_t> pendingNit(data + 1, data + size);
    applyLogicalChannelNumbers(list, pendingNit);
    if (!pendingNit.empty())
        __builtin_trap();
    // Without a section nothing runs: radio services and the discovery order stay.
    if (size == 1)
        return 0;

    const ChannelRecords records = list.snapshot();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].videoPid == 0 || records[i].number < 0 || records[i].number > 0x3FF)
            __builtin_trap();
        if (i > 0 && records[i - 1].number > records[i].number)
            __builtin_trap();
    }
    return 0;
}
