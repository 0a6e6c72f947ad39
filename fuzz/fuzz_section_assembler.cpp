#include "si/section_assembler.h"
#include "si/ts_packet.h"

#include <cstdlib>

using namespace korvane;

// The first byte chooses how the stream is cut; the rest is the stream. Every section handed
// out must be whole by its own length field and within the largest section size.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t step = 1 + data[0] * 3;
    ++data;
    --size;
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
