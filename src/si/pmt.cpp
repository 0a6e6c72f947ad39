#include "si/pmt.h"

#include "common/byte_reader.h"
#include "si/descriptor_loop.h"
#include "si/psi_ids.h"
#include "si/section_check.h"

#include <optional>

namespace korvane {

namespace {

constexpr std::size_t kProgramInfoLength = 10;
constexpr std::size_t kEntryHeader = 5;

// One elementary stream entry whose descriptor loop of loopLength bytes starts at loop; false
// when a descriptor reaches past the section, in which case nothing of the entry is taken.
bool classifyEntry(uint8_t type, int32_t pid, const ByteReader& section, std::size_t loop,
                   std::size_t loopLength, PmtPids& pids) {
    int ac3Descriptors = 0;
    if (!walkDescriptors(section, loop, loopLength, [&](uint8_t tag, const ByteReader&) {
            if (tag == kAc3Tag && type == kPrivatePesStream)
                ++ac3Descriptors;
            return true;
        }))
        return false;
    switch (type) {
    case kMpeg1VideoStream:
    case kMpeg2VideoStream:
        pids.videoPid = pid;
        break;
    case kMpeg1AudioStream:
    case kMpeg2AudioStream:
        (pids.audio1Pid == 0 ? pids.audio1Pid : pids.audio2Pid) = pid;
        break;
    case kH264VideoStream:
        pids.videoMpeg4Pid = pid;
        break;
    default:
        break;
    }
    for (int i = 0; i < ac3Descriptors; ++i)
        (pids.ac3Pid == 0 ? pids.ac3Pid : pids.ac3Pid2) = pid;
    return true;
}

} // namespace

PmtPids pmtPidsOf(const ChannelInfo& c) {
    return PmtPids{c.pcrPid,    c.videoPid, c.videoMpeg4Pid, c.audio1Pid,
                   c.audio2Pid, c.ac3Pid,   c.ac3Pid2};
}

void assignPmtPids(ChannelInfo& c, const PmtPids& p) {
    c.pcrPid = p.pcrPid;
    c.videoPid = p.videoPid;
    c.videoMpeg4Pid = p.videoMpeg4Pid;
    c.audio1Pid = p.audio1Pid;
    c.audio2Pid = p.audio2Pid;
    c.ac3Pid = p.ac3Pid;
    c.ac3Pid2 = p.ac3Pid2;
}

PmtRead classifyPmtStreams(const uint8_t* section, std::size_t length, PmtPids& pids) {
    const ByteReader in(section, length);
    // The stream loop ends where the CRC begins.
    if (length < 4 || !in.contains(0, kProgramInfoLength + 2) ||
        length - 4 < kProgramInfoLength + 2)
        return PmtRead::NoHeader;
    const std::size_t end = length - 4;
    const ByteReader body = in.sub(0, end);
    pids.pcrPid = *in.pid(8);
    std::size_t p = kProgramInfoLength + 2 + *in.length12(kProgramInfoLength);
    if (p > end)
        return PmtRead::Truncated;
    while (p < end) {
        if (end - p < kEntryHeader)
            return PmtRead::Truncated;
        const uint8_t type = *in.u8(p);
        const int32_t pid = *in.pid(p + 1);
        const std::size_t infoLength = *in.length12(p + 3);
        if (infoLength > end - p - kEntryHeader)
            return PmtRead::Truncated;
        if (!classifyEntry(type, pid, body, p + kEntryHeader, infoLength, pids))
            return PmtRead::Truncated;
        p += kEntryHeader + infoLength;
    }
    return PmtRead::Complete;
}

void decodePmt(ChannelList& list, WindowNotifier& notifier, ChannelFileSaver& saver,
               const uint8_t* section, std::size_t length) {
    PmtPids pids;
    // A PMT that lies about its lengths is not applied: storing the part read so far would
    // drop streams from the record and from the channel file.
    if (classifyPmtStreams(section, length, pids) != PmtRead::Complete)
        return;
    const std::optional<uint16_t> program = ByteReader(section, length).u16(3);
    ChannelRecords copy;
    {
        auto access = list.lock();
        ChannelInfo* current = access.current();
        if (!current || !program || pmtPidsOf(*current) == pids)
            return;
        // Another program's PMT (two programs sharing one PMT PID, or a section of the
        // channel left behind by a zap still in delivery) must not rewrite this record. A
        // record without a service id takes any PMT.
        if (current->sid != 0 && current->sid != *program)
            return;
        assignPmtPids(*current, pids);
        copy = access.records();
    }
    saver.saveChannels(copy);
    notifier.postStreamsChanged();
}

bool handlePmtSample(ChannelList& list, WindowNotifier& notifier, ChannelFileSaver& saver,
                     const uint8_t* section, std::size_t length) {
    if (!passesPmtGate(section, length))
        return false;
    decodePmt(list, notifier, saver, section, length);
    return true;
}

void scanPmt(ChannelList& list, const uint8_t* section, std::size_t length, std::size_t index) {
    auto access = list.lock();
    if (index >= access.size())
        return;
    ChannelInfo& channel = access.at(index);
    // Starting from the record's own values makes this the same as writing as the entries
    // are read: the first-audio and first-AC-3 tests look at what the record holds.
    PmtPids pids = pmtPidsOf(channel);
    if (classifyPmtStreams(section, length, pids) != PmtRead::NoHeader)
        assignPmtPids(channel, pids);
}

} // namespace korvane
