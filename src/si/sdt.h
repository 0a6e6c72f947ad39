#pragma once

#include "channels/channel_list.h"

#include <cstddef>
#include <cstdint>

namespace korvane {

// Appends one record per service of an SDT section, with the names of its service
// descriptor, the multiplex identifiers and the frequency being scanned (kHz).
void decodeSdt(ChannelList& list, const uint8_t* section, std::size_t length, int32_t frequency);

} // namespace korvane
