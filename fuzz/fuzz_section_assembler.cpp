#include "si/section_assembler.h"
#include "si/ts_packet.h"

#include <cstdlib>
#include <vector>

using namespace korvane;

// The first byte chooses how the stream is cut and whether sync bytes are forced every 188
// bytes (so that most inputs are packets); the rest is the stream. Every section handed out
// must be whole by its own length field and within the largest section size.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t step = 1 + (input[0] >> 1) * 5;
    std::vector<uint8_t> stream(input + 1, input + size);
    if (input[0] & 1)
        for (std::size_t i = 0; i < stream.size(); i += kTsPacketSize)
            stream[i] = kTsSyncByte;
    const uint8_t* data = stream.data();
    size = stream.size();
    TsPacketSplitter splitter;
    SectionDemux demux;
    auto check = [](uint16_t, const uint8_t* s, std::size_t n) {
        if (n < 3 || n > kMaxSectionSize || n != 3 + (((s[1] & 0x0Fu) << 8) | s[2]))
            std::abort();
    };
    auto handle = [&](const TsPacket& p) {
        if (p.payload && p.payload + p.payloadSize > p.payload + kTsPacketSize)
            std::abort();
        demux.push(p, check);
    };
    for (std::size_t pos = 0; pos < size; pos += step)
        splitter.push(data + pos, size - pos < step ? size - pos : step, handle);
    splitter.flush(handle);
    return 0;
}
