#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace korvane {

// One rectangle of a subtitle display set: palette indices, one byte per pixel, rows of
// `width` bytes, placed at (x, y) on the display of displayWidth x displayHeight. The palette
// has an entry for every index the pixels use; a broadcast region may reach past the display,
// so a painter clips it.
struct SubtitleRegion {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    std::vector<uint32_t> palette; // 0xAARRGGBB, indexed by the pixels
};

// What to show from `pts` on: an empty region list clears the screen. timeoutMs is the page
// time-out after which the set is cleared if no other set came first (0 = none given).
struct SubtitlePicture {
    int64_t pts = 0; // 90 kHz, 33 bits as broadcast
    uint32_t timeoutMs = 0;
    int displayWidth = 720;
    int displayHeight = 576;
    std::vector<SubtitleRegion> regions;
};

// Decodes one DVB subtitle stream (one composition page, with its ancillary page). Input is
// PES packets as carried on the stream's PID; every length in them is untrusted.
class SubtitleDecoder {
  public:
    SubtitleDecoder(uint16_t compositionPage, uint16_t ancillaryPage);
    ~SubtitleDecoder();
    SubtitleDecoder(const SubtitleDecoder&) = delete;
    SubtitleDecoder& operator=(const SubtitleDecoder&) = delete;

    // The display sets this packet completes, in order (usually zero or one); their pts is
    // the packet's PTS (a packet without one gives nothing).
    std::vector<SubtitlePicture> decodePes(std::span<const uint8_t> pes);
    // The same for a PES packet's data bytes alone (data_identifier 0x20 first), as a
    // demultiplexer delivers an elementary stream, with the time the caller gives it.
    std::vector<SubtitlePicture> decodePayload(std::span<const uint8_t> payload, int64_t pts);
    // Forgets every page, region and CLUT (after a zap or a gap in the stream).
    void reset();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace korvane
