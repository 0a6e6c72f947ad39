#pragma once

#include "channels/channel_list.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

// Sets number on every record whose onid, tsid and sid all match.
void setChannelNumber(ChannelRecords& records, int32_t onid, int32_t tsid, int32_t sid,
                      int32_t number);

// Erases every record with neither an MPEG nor an H.264 video PID, keeping the order.
void removeChannelsWithoutVideo(ChannelRecords& records);

// Walks the transport stream loop of a NIT section and applies every logical channel
// number it announces.
void readLogicalChannelNumbers(ChannelRecords& records, const uint8_t* section, std::size_t length);

// End of a scan: numbers from the kept NIT section, removal of services without video,
// sort by number; then releases the section. Does nothing when no section was kept.
void applyLogicalChannelNumbers(ChannelList& list, std::vector<uint8_t>& pendingNit);

} // namespace korvane
