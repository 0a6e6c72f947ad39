#include "si/ts_packet.h"

#include "common/byte_reader.h"

namespace korvane {

std::optional<TsPacket> parseTsPacket(const uint8_t* data, std::size_t size) {
    ByteReader r(data, size < kTsPacketSize ? size : kTsPacketSize);
    if (r.size() < kTsPacketSize || *r.u8(0) != kTsSyncByte)
        return std::nullopt;
    TsPacket p;
    const uint8_t b1 = *r.u8(1);
    const uint8_t b3 = *r.u8(3);
    p.transportError = (b1 & 0x80) != 0;
    p.payloadUnitStart = (b1 & 0x40) != 0;
    p.pid = *r.pid(1);
    p.scrambling = static_cast<uint8_t>(b3 >> 6);
    p.hasAdaptation = (b3 & 0x20) != 0;
    p.hasPayload = (b3 & 0x10) != 0;
    p.continuityCounter = b3 & 0x0F;
    std::size_t payloadStart = 4;
    if (p.hasAdaptation) {
        const std::size_t length = *r.u8(4);
        if (!r.contains(5, length))
            return std::nullopt;
        payloadStart = 5 + length;
        p.adaptation = r.bytes(5, length);
        p.adaptationSize = length;
        if (length > 0) {
            const uint8_t flags = *r.u8(5);
            p.discontinuity = (flags & 0x80) != 0;
            p.randomAccess = (flags & 0x40) != 0;
            if ((flags & 0x10) && length >= 7) {
                const uint64_t base = (uint64_t{*r.u32(6)} << 1) | (*r.u8(10) >> 7);
                const uint64_t extension = ((*r.u8(10) & 0x01u) << 8) | *r.u8(11);
                p.pcr = base * 300 + extension;
            }
        }
    }
    if (p.hasPayload && payloadStart < kTsPacketSize) {
        p.payload = r.bytes(payloadStart, kTsPacketSize - payloadStart);
        p.payloadSize = kTsPacketSize - payloadStart;
    } else {
        p.hasPayload = false;
    }
    return p;
}

std::size_t findTsSync(const uint8_t* data, std::size_t size) {
    for (std::size_t k = 0; k < size; ++k) {
        if (data[k] != kTsSyncByte)
            continue;
        bool confirmed = true;
        for (std::size_t j = 1; j <= 2 && k + j * kTsPacketSize < size; ++j)
            confirmed = confirmed && data[k + j * kTsPacketSize] == kTsSyncByte;
        if (confirmed)
            return k;
    }
    return size;
}

} // namespace korvane
