#include "si/nit.h"

#include "common/byte_reader.h"
#include "si/descriptor_loop.h"
#include "si/psi_ids.h"

namespace korvane {

namespace {

constexpr std::size_t kNetworkDescriptorsLength = 8;
constexpr std::size_t kEntryHeader = 6;

// The 4-byte entries of one logical channel number descriptor body.
void readLcnDescriptor(const ByteReader& body, int32_t onid, int32_t tsid, NitTable& table) {
    for (std::size_t x = 0; body.contains(x, 4); x += 4) {
        const int32_t sid = *body.u16(x);
        const int32_t number = *body.u16(x + 2) & 0x03FF;
        table.numbers.push_back(LogicalChannelNumber{onid, tsid, sid, number});
    }
}

// The numbers of one transport stream entry's descriptors; false when one reaches past the
// section (the numbers of the descriptors before it are kept).
bool readEntryDescriptors(const ByteReader& section, std::size_t loop, std::size_t loopLength,
                          int32_t onid, int32_t tsid, NitTable& table) {
    return walkDescriptors(section, loop, loopLength, [&](uint8_t tag, const ByteReader& body) {
        if (tag == kLogicalChannelTag)
            readLcnDescriptor(body, onid, tsid, table);
        return true;
    });
}

} // namespace

NitTable parseNit(const uint8_t* section, std::size_t length) {
    NitTable table;
    const ByteReader in(section, length);
    if (length < 4)
        return table;
    // Everything of interest lies before the CRC.
    const ByteReader body = in.sub(0, length - 4);
    auto networkLength = body.length12(kNetworkDescriptorsLength);
    if (!networkLength)
        return table;
    const std::size_t q = kNetworkDescriptorsLength + 2 + *networkLength;
    auto loopLength = body.length12(q);
    if (!loopLength)
        return table;
    // A loop length past the section's end is trusted as far as that end.
    const std::size_t loopStart = q + 2;
    const ByteReader loop = body.sub(loopStart, *loopLength);
    std::size_t p = 0;
    while (loop.contains(p, kEntryHeader)) {
        const int32_t tsid = *loop.u16(p);
        const int32_t onid = *loop.u16(p + 2);
        const std::size_t descriptorsLength = *loop.length12(p + 4);
        if (!loop.contains(p + kEntryHeader, descriptorsLength))
            break;
        if (!readEntryDescriptors(body, loopStart + p + kEntryHeader, descriptorsLength, onid, tsid,
                                  table))
            break;
        p += kEntryHeader + descriptorsLength;
    }
    return table;
}

void setChannelNumber(ChannelRecords& records, int32_t onid, int32_t tsid, int32_t sid,
                      int32_t number) {
    for (ChannelInfo& c : records)
        if (c.onid == onid && c.tsid == tsid && c.sid == sid)
            c.number = number;
}

void applyNit(ChannelRecords& records, const NitTable& table) {
    for (const LogicalChannelNumber& n : table.numbers)
        setChannelNumber(records, n.onid, n.tsid, n.sid, n.number);
}

void removeChannelsWithoutVideo(ChannelRecords& records) {
    std::size_t i = 0;
    while (i < records.size()) {
        if (records[i].videoPid == 0 && records[i].videoMpeg4Pid == 0)
            eraseChannelAt(records, i);
        else
            ++i;
    }
}

void readLogicalChannelNumbers(ChannelRecords& records, const uint8_t* section,
                               std::size_t length) {
    applyNit(records, parseNit(section, length));
}

void applyLogicalChannelNumbers(ChannelList& list, std::vector<uint8_t>& pendingNit) {
    if (pendingNit.empty())
        return;
    const NitTable table = parseNit(pendingNit.data(), pendingNit.size());
    {
        auto access = list.lock();
        ChannelRecords& records = access.records();
        applyNit(records, table);
        removeChannelsWithoutVideo(records);
        sortChannelsByNumber(records);
    }
    std::vector<uint8_t>().swap(pendingNit);
}

} // namespace korvane
