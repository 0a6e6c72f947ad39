#pragma once

#include "channels/channel_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace korvane {

// The 8-bit text of a channel menu item: "%i: %s" from number and name. An '&' of the name
// is doubled so that the menu shows it instead of underlining the next letter.
std::string channelMenuText(int32_t number, std::string_view name);

// The channel selected at start-up: the stored index when it names a channel, else 0.
int32_t startChannelIndex(int32_t storedIndex, std::size_t channelCount);

// The channel played after a new scan has replaced the list: the service watched before
// (same onid, tsid and sid), wherever its new number put it; else the first channel.
std::size_t channelAfterRescan(const ChannelRecords& records,
                               const std::optional<ChannelInfo>& watched);

} // namespace korvane
