#include "si/pat.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ChannelList list;
    const int32_t tsid = size >= 5 ? (data[3] << 8) | data[4] : 0;
    for (int32_t sid : {0, 1, 0x101, 0x102, 0xFFFF}) {
        ChannelInfo c;
        c.tsid = tsid;
        c.sid = sid;
        list.append(c);
    }
    const PatTable table = parsePat(data, size);
    for (const PatProgram& p : table.programs)
        if (p.program == 0)
            __builtin_trap();
    applyPat(list, table);
    const ChannelRecords records = list.snapshot();
    // Program 0 is the network PID, never a service's PMT.
    if (records[0].pmtPid != 0)
        __builtin_trap();
    for (const ChannelInfo& c : records)
        if (c.pmtPid < 0 || c.pmtPid > 0x1FFF)
            __builtin_trap();
    return 0;
}
