#include "si/nit_version.h"

#include "common/byte_reader.h"
#include "si/psi_ids.h"
#include "si/section_check.h"

#include <algorithm>

namespace korvane {

namespace {

// Header (8 bytes), both loop lengths (4) and the CRC (4).
constexpr std::size_t kShortestNit = 16;

} // namespace

bool NitVersionWatch::versionChanged(const uint8_t* section, std::size_t length) {
    const ByteReader bytes(section, length);
    const auto tableId = bytes.u8(0);
    const auto flags = bytes.u8(1);
    const auto networkId = bytes.u16(3);
    const auto versionByte = bytes.u8(5);
    if (length < kShortestNit || !tableId || *tableId != kNitActualTableId || !flags ||
        !(*flags & 0x80) || !networkId || !versionByte)
        return false;
    // A version announced ahead (current_next_indicator 0) is not in force yet.
    if (!(*versionByte & 0x01) || !checkSectionCrc(section, length))
        return false;
    const auto version = static_cast<uint8_t>((*versionByte >> 1) & 0x1F);
    std::lock_guard guard(mutex_);
    const auto known = std::find_if(seen_.begin(), seen_.end(),
                                    [&](const Seen& s) { return s.networkId == *networkId; });
    if (known == seen_.end()) {
        seen_.push_back({*networkId, version});
        return false;
    }
    if (known->version == version || told_)
        return false;
    told_ = true;
    return true;
}

} // namespace korvane
