#pragma once

#include "channels/channel_list.h"

namespace korvane {

// Writes the channel file from a copy of the records, taken under the list's lock and
// handed over after the lock is released.
class ChannelFileSaver {
  public:
    virtual ~ChannelFileSaver() = default;
    virtual void saveChannels(const ChannelRecords& copy) = 0;
};

} // namespace korvane
