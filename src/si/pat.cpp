#include "si/pat.h"

#include "common/byte_reader.h"

namespace korvane {

namespace {

constexpr std::size_t kFirstProgram = 8;
constexpr std::size_t kEntrySize = 4;

} // namespace

PatTable parsePat(const uint8_t* section, std::size_t length) {
    PatTable table;
    const ByteReader in(section, length);
    if (length < 4 || length - 4 < kFirstProgram)
        return table;
    const std::size_t end = length - 4;
    table.tsid = *in.u16(3);
    for (std::size_t x = kFirstProgram; x + kEntrySize <= end; x += kEntrySize) {
        const int32_t program = *in.u16(x);
        if (program != 0)
            table.programs.push_back(PatProgram{program, *in.pid(x + 2)});
    }
    return table;
}

void applyPat(ChannelList& list, const PatTable& table) {
    auto access = list.lock();
    for (const PatProgram& p : table.programs)
        for (ChannelInfo& c : access.records())
            if (c.tsid == table.tsid && c.sid == p.program)
                c.pmtPid = p.pmtPid;
}

void decodePat(ChannelList& list, const uint8_t* section, std::size_t length) {
    applyPat(list, parsePat(section, length));
}

} // namespace korvane
