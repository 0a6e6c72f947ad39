#include "si/section_check.h"

#include <vector>

using namespace korvane;

namespace {

uint32_t bitwiseCrc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 31) ^ (data[i] >> bit)) & 1;
            crc = (crc << 1) ^ (top ? 0x04C11DB7u : 0);
        }
    return crc;
}

} // namespace

// The table-driven CRC agrees with the bit-by-bit definition, a section with its CRC
// appended passes exactly the gate of its table_id, and any changed byte fails.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t crc = crc32Mpeg2(data, size);
    if (crc != bitwiseCrc(data, size))
        __builtin_trap();
    const bool rawEit = passesEitGate(data, size);
    const bool rawPmt = passesPmtGate(data, size);
    if (rawEit && rawPmt)
        __builtin_trap();

    std::vector<uint8_t> section(data, data + size);
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(static_cast<uint8_t>(crc >> shift));
    if (!checkSectionCrc(section.data(), section.size()))
        __builtin_trap();
    const uint8_t table = size ? data[0] : 0xFF;
    if (size && passesEitGate(section.data(), section.size()) != (table == 0x4E || table == 0x4F))
        __builtin_trap();
    if (size && passesPmtGate(section.data(), section.size()) != (table == 0x02))
        __builtin_trap();
    if (size) {
        section[size / 2] ^= 0x01;
        if (checkSectionCrc(section.data(), section.size()))
            __builtin_trap();
    }
    return 0;
}
