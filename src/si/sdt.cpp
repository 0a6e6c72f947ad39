#include "si/sdt.h"

#include "common/byte_reader.h"
#include "si/descriptor_loop.h"
#include "si/psi_ids.h"

namespace korvane {

namespace {

constexpr std::size_t kFirstService = 11;
constexpr std::size_t kEntryHeader = 5;

// Provider and service names from a service descriptor body (type, P, provider, N, name).
// A name whose length runs past the body stays empty.
void readServiceDescriptor(const ByteReader& body, SdtEntry& service) {
    auto providerLength = body.u8(1);
    if (!providerLength)
        return;
    const uint8_t* provider = body.bytes(2, *providerLength);
    if (!provider)
        return;
    service.provider.assign(provider, *providerLength);
    const std::size_t n = 2 + std::size_t{*providerLength};
    auto nameLength = body.u8(n);
    if (!nameLength)
        return;
    if (const uint8_t* name = body.bytes(n + 1, *nameLength))
        service.name.assign(name, *nameLength);
}

// The names come from the first service descriptor of the loop, which is normally its
// first descriptor; false when a descriptor reaches past the section.
bool readServiceNames(const ByteReader& section, std::size_t loop, std::size_t loopLength,
                      SdtEntry& service) {
    bool found = false;
    return walkDescriptors(section, loop, loopLength, [&](uint8_t tag, const ByteReader& body) {
        if (tag == kServiceTag && !found) {
            readServiceDescriptor(body, service);
            found = true;
        }
        return true;
    });
}

} // namespace

SdtTable parseSdt(const uint8_t* section, std::size_t length) {
    SdtTable table;
    const ByteReader in(section, length);
    if (length < 4 || length - 4 < kFirstService)
        return table;
    const std::size_t end = length - 4;
    table.tsid = *in.u16(3);
    table.onid = *in.u16(8);
    // Descriptor bodies are read as far as the CRC, never into it.
    const ByteReader body = in.sub(0, end);
    std::size_t s = kFirstService;
    while (s < end) {
        if (end - s < kEntryHeader)
            break;
        const std::size_t loopLength = *in.length12(s + 3);
        if (loopLength > end - s - kEntryHeader)
            break;
        SdtEntry service;
        service.sid = *in.u16(s);
        if (!readServiceNames(body, s + kEntryHeader, loopLength, service))
            break;
        table.services.push_back(service);
        s += kEntryHeader + loopLength;
    }
    return table;
}

void applySdt(ChannelList& list, const SdtTable& table, int32_t frequency) {
    auto access = list.lock();
    for (const SdtEntry& service : table.services) {
        ChannelInfo record;
        record.frequency = frequency;
        record.onid = table.onid;
        record.tsid = table.tsid;
        record.sid = service.sid;
        record.group = service.provider;
        record.name = service.name;
        access.records().push_back(record);
    }
}

void decodeSdt(ChannelList& list, const uint8_t* section, std::size_t length, int32_t frequency) {
    applySdt(list, parseSdt(section, length), frequency);
}

} // namespace korvane
