#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace korvane {

// Watches the network information table while the program runs. The channel numbers were
// read from it at the scan; when the broadcaster renumbers the channels it sends the NIT
// with a new version number. The first version seen of each network in this run is taken as
// the one the list was made with; the user is offered a new scan, nothing is renumbered here.
class NitVersionWatch {
  public:
    // One section delivered on the guide's path. True exactly once in the watch's life: for
    // the first sound NIT section (actual network, CRC correct, version in force) whose
    // version differs from the first one seen of its network.
    bool versionChanged(const uint8_t* section, std::size_t length);

  private:
    struct Seen {
        uint16_t networkId;
        uint8_t version;
    };
    std::mutex mutex_;
    std::vector<Seen> seen_;
    bool told_ = false;
};

} // namespace korvane
