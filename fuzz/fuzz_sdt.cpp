#include "si/sdt.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ChannelList list;
    const SdtTable table = parseSdt(data, size);
    applySdt(list, table, 474167);
    if (table.services.size() != list.size())
        __builtin_trap();
    const ChannelRecords records = list.snapshot();
    // Every service entry takes at least five bytes before the CRC.
    if (size >= 4 && records.size() * 5 > size - 4)
        __builtin_trap();
    for (const ChannelInfo& c : records)
        if (c.frequency != 474167 || c.name.bytes.back() != 0 || c.group.bytes.back() != 0 ||
            c.sid < 0 || c.sid > 0xFFFF)
            __builtin_trap();
    return 0;
}
