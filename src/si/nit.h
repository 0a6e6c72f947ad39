#pragma once

#include "channels/channel_list.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

// One entry of a logical channel number descriptor, with the identifiers of the transport
// stream entry that carries it.
struct LogicalChannelNumber {
    int32_t onid = 0;
    int32_t tsid = 0;
    int32_t sid = 0;
    int32_t number = 0;
};

// The logical channel numbers a NIT section announces, in the order of its transport stream
// loop. A length reaching past the section ends the list there: the numbers before it stay.
struct NitTable {
    std::vector<LogicalChannelNumber> numbers;
};

NitTable parseNit(const uint8_t* section, std::size_t length);

// Sets number on every record whose onid, tsid and sid all match.
void setChannelNumber(ChannelRecords& records, int32_t onid, int32_t tsid, int32_t sid,
                      int32_t number);

// Applies every number of the table, in order (a later one for the same service wins).
void applyNit(ChannelRecords& records, const NitTable& table);

// Erases every record with neither an MPEG nor an H.264 video PID, keeping the order.
void removeChannelsWithoutVideo(ChannelRecords& records);

// Parse then apply: every logical channel number the section announces.
void readLogicalChannelNumbers(ChannelRecords& records, const uint8_t* section, std::size_t length);

// End of a scan: numbers from the kept NIT section, removal of services without video,
// sort by number; then releases the section. Does nothing when no section was kept.
void applyLogicalChannelNumbers(ChannelList& list, std::vector<uint8_t>& pendingNit);

} // namespace korvane
