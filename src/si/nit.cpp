#include "si/nit.h"

#include "common/byte_reader.h"
#include "si/descriptor_loop.h"

namespace korvane {

namespace {

constexpr std::size_t kNetworkDescriptorsLength = 8;
constexpr std::size_t kEntryHeader = 6;
constexpr uint8_t kLogicalChannelTag = 0x83;

// Applies the 4-byte entries of one logical channel number descriptor body.
void applyLcnDescriptor(ChannelRecords& records, const ByteReader& body, int32_t onid,
                        int32_t tsid) {
    for (std::size_t x = 0; body.contains(x, 4); x += 4) {
        const int32_t sid = *body.u16(x);
        const int32_t number = *body.u16(x + 2) & 0x03FF;
        setChannelNumber(records, onid, tsid, sid, number);
    }
}

// Applies the numbers of one transport stream entry's descriptors; false when one reaches
// past the section.
bool applyEntryDescriptors(ChannelRecords& records, const ByteReader& section, std::size_t loop,
                           std::size_t loopLength, int32_t onid, int32_t tsid) {
    return walkDescriptors(section, loop, loopLength, [&](uint8_t tag, const ByteReader& body) {
        if (tag == kLogicalChannelTag)
            applyLcnDescriptor(records, body, onid, tsid);
        return true;
    });
}

} // namespace

void setChannelNumber(ChannelRecords& records, int32_t onid, int32_t tsid, int32_t sid,
                      int32_t number) {
    for (ChannelInfo& c : records)
        if (c.onid == onid && c.tsid == tsid && c.sid == sid)
            c.number = number;
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
    const ByteReader in(section, length);
    if (length < 4)
        return;
    // Everything of interest lies before the CRC.
    const ByteReader body = in.sub(0, length - 4);
    auto networkLength = body.length12(kNetworkDescriptorsLength);
    if (!networkLength)
        return;
    const std::size_t q = kNetworkDescriptorsLength + 2 + *networkLength;
    auto loopLength = body.length12(q);
    if (!loopLength)
        return;
    // A loop length past the section's end is trusted as far as that end.
    const std::size_t loopStart = q + 2;
    const ByteReader loop = body.sub(loopStart, *loopLength);
    std::size_t p = 0;
    while (loop.contains(p, kEntryHeader)) {
        const int32_t tsid = *loop.u16(p);
        const int32_t onid = *loop.u16(p + 2);
        const std::size_t descriptorsLength = *loop.length12(p + 4);
        if (!loop.contains(p + kEntryHeader, descriptorsLength))
            return;
        if (!applyEntryDescriptors(records, body, loopStart + p + kEntryHeader, descriptorsLength,
                                   onid, tsid))
            return;
        p += kEntryHeader + descriptorsLength;
    }
}

void applyLogicalChannelNumbers(ChannelList& list, std::vector<uint8_t>& pendingNit) {
    if (pendingNit.empty())
        return;
    {
        auto access = list.lock();
        ChannelRecords& records = access.records();
        readLogicalChannelNumbers(records, pendingNit.data(), pendingNit.size());
        removeChannelsWithoutVideo(records);
        sortChannelsByNumber(records);
    }
    std::vector<uint8_t>().swap(pendingNit);
}

} // namespace korvane
