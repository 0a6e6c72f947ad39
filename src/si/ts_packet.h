#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvane {

inline constexpr std::size_t kTsPacketSize = 188;
inline constexpr uint8_t kTsSyncByte = 0x47;

// One 188-byte transport stream packet, its fields decoded. payload and adaptation point
// into the caller's buffer and live as long as it does.
struct TsPacket {
    uint16_t pid = 0;
    bool transportError = false;
    bool payloadUnitStart = false;
    uint8_t scrambling = 0;        // transport_scrambling_control, 0 = clear
    uint8_t continuityCounter = 0; // 4 bits
    bool hasAdaptation = false;
    bool hasPayload = false;
    bool discontinuity = false; // adaptation field's discontinuity_indicator
    bool randomAccess = false;
    std::optional<uint64_t> pcr;         // 27 MHz units: base * 300 + extension
    const uint8_t* adaptation = nullptr; // adaptation field after its length byte
    std::size_t adaptationSize = 0;
    const uint8_t* payload = nullptr;
    std::size_t payloadSize = 0;
};

// Decodes the packet at data (at least 188 bytes must be readable). Nothing when the first
// byte is not the sync byte or the adaptation field length runs past the packet.
std::optional<TsPacket> parseTsPacket(const uint8_t* data, std::size_t size);

// Offset of the first place in data where a packet starts and the next sync bytes follow
// 188 bytes apart (as many as the buffer holds, up to three); size when there is none.
std::size_t findTsSync(const uint8_t* data, std::size_t size);

// Calls handler(packet) for every packet of a byte stream cut at arbitrary places. A packet
// is taken once the byte after it is seen to be a sync byte too, so each packet is handed
// over one packet late and flush() hands over the last one. After garbage or a cut-short
// packet, the stream is searched for two sync bytes 188 bytes apart.
class TsPacketSplitter {
  public:
    template <typename Handler> void push(const uint8_t* data, std::size_t size, Handler&& handler);
    template <typename Handler> void flush(Handler&& handler);
    void reset() { pending_.clear(); }

  private:
    template <typename Handler>
    static std::size_t split(const uint8_t* data, std::size_t size, Handler& handler);

    std::vector<uint8_t> pending_;
};

template <typename Handler>
std::size_t TsPacketSplitter::split(const uint8_t* data, std::size_t size, Handler& handler) {
    std::size_t pos = 0;
    while (pos + kTsPacketSize < size) {
        if (data[pos] == kTsSyncByte && data[pos + kTsPacketSize] == kTsSyncByte) {
            if (auto packet = parseTsPacket(data + pos, kTsPacketSize))
                handler(*packet);
            pos += kTsPacketSize;
            continue;
        }
        ++pos;
        while (pos < size &&
               !(data[pos] == kTsSyncByte &&
                 (pos + kTsPacketSize >= size || data[pos + kTsPacketSize] == kTsSyncByte)))
            ++pos;
    }
    return pos;
}

template <typename Handler>
void TsPacketSplitter::push(const uint8_t* data, std::size_t size, Handler&& handler) {
    if (!pending_.empty()) {
        // Joins the kept tail with enough new bytes to get past it, then goes on in place.
        const std::size_t keep = pending_.size();
        const std::size_t head = size < 2 * kTsPacketSize ? size : 2 * kTsPacketSize;
        pending_.insert(pending_.end(), data, data + head);
        const std::size_t used = split(pending_.data(), pending_.size(), handler);
        if (used < keep || head == size) {
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
            if (head == size)
                return;
            // Fewer than a packet's worth of lookahead: keep everything for the next call.
            pending_.insert(pending_.end(), data + head, data + size);
            return;
        }
        pending_.clear();
        data += used - keep;
        size -= used - keep;
    }
    const std::size_t used = split(data, size, handler);
    pending_.assign(data + used, data + size);
}

template <typename Handler> void TsPacketSplitter::flush(Handler&& handler) {
    if (pending_.size() >= kTsPacketSize && pending_[0] == kTsSyncByte)
        if (auto packet = parseTsPacket(pending_.data(), kTsPacketSize))
            handler(*packet);
    pending_.clear();
}

} // namespace korvane
