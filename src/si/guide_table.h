#pragma once

#include "channels/channel_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

// One row of the programme guide table: a channel's present or following event, with the
// 8-bit texts of its five columns.
struct GuideRow {
    std::string channelName;
    std::string startText;
    std::string endText;
    std::string title;
    std::string description;
    friend bool operator==(const GuideRow&, const GuideRow&) = default;
};

// Where a row's event comes from: the channel's list index and which of its two slots.
struct GuideRowOrigin {
    std::size_t channelIndex = 0;
    bool following = false;
    friend bool operator==(const GuideRowOrigin&, const GuideRowOrigin&) = default;
};

struct GuideTable {
    std::vector<GuideRow> rows;
    std::vector<GuideRowOrigin> origins; // one per row
    // The present event's row of the channel being watched, when it has one.
    std::optional<std::size_t> selected;
};

// The rows in channel-list order, each channel's present event above its following one; a
// channel without events has no row. Not sorted by time.
GuideTable guideTable(const ChannelRecords& records, int32_t currentIndex);

} // namespace korvane
