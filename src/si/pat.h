#pragma once

#include "channels/channel_list.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

// One program of a PAT and the PID of its PMT.
struct PatProgram {
    int32_t program = 0;
    int32_t pmtPid = 0;
};

// What a PAT section announces: every entry from byte 8 on, in order, except program 0 (the
// network PID).
struct PatTable {
    int32_t tsid = 0;
    std::vector<PatProgram> programs;
};

PatTable parsePat(const uint8_t* section, std::size_t length);

// Sets pmtPid on every record of the table's transport stream whose sid is one of its
// programs, in the table's order, under the list's lock.
void applyPat(ChannelList& list, const PatTable& table);

// Parse then apply, as the scan reads the PAT.
void decodePat(ChannelList& list, const uint8_t* section, std::size_t length);

} // namespace korvane
