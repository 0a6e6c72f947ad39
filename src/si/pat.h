#pragma once

#include "channels/channel_list.h"

#include <cstddef>
#include <cstdint>

namespace korvane {

// Sets pmtPid on every record of the PAT's transport stream whose sid is a program of it.
// Every entry from byte 8 on is read; program 0 (the network PID) is skipped.
void decodePat(ChannelList& list, const uint8_t* section, std::size_t length);

} // namespace korvane
