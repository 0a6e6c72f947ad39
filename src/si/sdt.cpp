#include "si/sdt.h"

#include "common/byte_reader.h"
#include "si/descriptor_loop.h"

namespace korvane {

namespace {

constexpr std::size_t kFirstService = 11;
constexpr std::size_t kEntryHeader = 5;
constexpr uint8_t kServiceTag = 0x48;

// Provider and service names from a service descriptor body (type, P, provider, N, name).
// A name whose length runs past the body stays empty.
void readServiceDescriptor(const ByteReader& body, ChannelInfo& record) {
    auto providerLength = body.u8(1);
    if (!providerLength)
        return;
    const uint8_t* provider = body.bytes(2, *providerLength);
    if (!provider)
        return;
    record.group.assign(provider, *providerLength);
    const std::size_t n = 2 + std::size_t{*providerLength};
    auto nameLength = body.u8(n);
    if (!nameLength)
        return;
    if (const uint8_t* name = body.bytes(n + 1, *nameLength))
        record.name.assign(name, *nameLength);
}

// The names come from the first service descriptor of the loop, which is normally its
// first descriptor; false when a descriptor reaches past the section.
bool readServiceNames(const ByteReader& section, std::size_t loop, std::size_t loopLength,
                      ChannelInfo& record) {
    bool found = false;
    return walkDescriptors(section, loop, loopLength, [&](uint8_t tag, const ByteReader& body) {
        if (tag == kServiceTag && !found) {
            readServiceDescriptor(body, record);
            found = true;
        }
        return true;
    });
}

} // namespace

void decodeSdt(ChannelList& list, const uint8_t* section, std::size_t length, int32_t frequency) {
    const ByteReader in(section, length);
    if (length < 4 || length - 4 < kFirstService)
        return;
    const std::size_t end = length - 4;
    const int32_t tsid = *in.u16(3);
    const int32_t onid = *in.u16(8);
    // Descriptor bodies are read as far as the CRC, never into it.
    const ByteReader body = in.sub(0, end);
    auto access = list.lock();
    std::size_t s = kFirstService;
    while (s < end) {
        if (end - s < kEntryHeader)
            return;
        const std::size_t loopLength = *in.length12(s + 3);
        if (loopLength > end - s - kEntryHeader)
            return;
        ChannelInfo record;
        record.frequency = frequency;
        record.onid = onid;
        record.tsid = tsid;
        record.sid = *in.u16(s);
        if (!readServiceNames(body, s + kEntryHeader, loopLength, record))
            return;
        access.records().push_back(record);
        s += kEntryHeader + loopLength;
    }
}

} // namespace korvane
