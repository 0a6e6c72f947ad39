#include "si/pat.h"

#include "common/byte_reader.h"

namespace korvane {

namespace {

constexpr std::size_t kFirstProgram = 8;
constexpr std::size_t kEntrySize = 4;

} // namespace

void decodePat(ChannelList& list, const uint8_t* section, std::size_t length) {
    const ByteReader in(section, length);
    if (length < 4 || length - 4 < kFirstProgram)
        return;
    const std::size_t end = length - 4;
    const int32_t tsid = *in.u16(3);
    auto access = list.lock();
    for (std::size_t x = kFirstProgram; x + kEntrySize <= end; x += kEntrySize) {
        const int32_t program = *in.u16(x);
        if (program == 0)
            continue;
        const int32_t pid = *in.pid(x + 2);
        for (ChannelInfo& c : access.records())
            if (c.tsid == tsid && c.sid == program)
                c.pmtPid = pid;
    }
}

} // namespace korvane
