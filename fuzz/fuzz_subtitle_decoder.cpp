#include "subtitles/subtitle_decoder.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace korvane;

namespace {

void checkPicture(const SubtitlePicture& picture) {
    if (picture.displayWidth <= 0 || picture.displayHeight <= 0)
        __builtin_trap();
    for (const SubtitleRegion& r : picture.regions) {
        if (r.width <= 0 || r.height <= 0 || r.pixels.size() != std::size_t(r.width) * r.height ||
            r.palette.empty() || r.palette.size() > 256)
            __builtin_trap();
        for (uint8_t pixel : r.pixels)
            if (pixel >= r.palette.size())
                __builtin_trap();
    }
}

} // namespace

// Input: composition and ancillary page (16 bits each), then packets, each a 16-bit length and
// its bytes. A packet starting with the data identifier 0x20 goes in as a demultiplexer's
// payload, any other as a whole PES packet; the length 0xFFFF resets the decoder instead.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    SubtitleDecoder decoder(static_cast<uint16_t>(data[0] << 8 | data[1]),
                            static_cast<uint16_t>(data[2] << 8 | data[3]));
    std::span<const uint8_t> rest(data + 4, size - 4);
    int64_t pts = 0;
    while (rest.size() >= 2) {
        const std::size_t length = std::size_t(rest[0]) << 8 | rest[1];
        rest = rest.subspan(2);
        if (length == 0xFFFF) {
            decoder.reset();
            continue;
        }
        const auto packet = rest.first(length < rest.size() ? length : rest.size());
        rest = rest.subspan(packet.size());
        const auto pictures = !packet.empty() && packet[0] == 0x20
                                  ? decoder.decodePayload(packet, pts += 3600)
                                  : decoder.decodePes(packet);
        for (const SubtitlePicture& picture : pictures)
            checkPicture(picture);
    }
    return 0;
}
