#include "si/section_check.h"

#include "common/byte_reader.h"
#include "si/psi_ids.h"

#include <array>

namespace korvane {

namespace {

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();
static_assert(kCrcTable[1] == 0x04C11DB7u);

bool passesGate(const uint8_t* section, std::size_t length, uint8_t first, uint8_t last) {
    if (section == nullptr || length < 4)
        return false;
    if (section[0] < first || section[0] > last)
        return false;
    return checkSectionCrc(section, length);
}

} // namespace

uint32_t crc32Mpeg2(const uint8_t* data, std::size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    if (data == nullptr)
        return crc;
    for (std::size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

bool checkSectionCrc(const uint8_t* section, std::size_t length) {
    if (length < 4)
        return false;
    auto stored = ByteReader(section, length).u32(length - 4);
    return stored && *stored == crc32Mpeg2(section, length - 4);
}

bool passesEitGate(const uint8_t* section, std::size_t length) {
    return passesGate(section, length, kEitActualTableId, kEitOtherTableId);
}

bool passesPmtGate(const uint8_t* section, std::size_t length) {
    return passesGate(section, length, kPmtTableId, kPmtTableId);
}

} // namespace korvane
