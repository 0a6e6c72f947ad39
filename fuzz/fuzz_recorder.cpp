#include "capture/recorder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct VectorSink : korvane::ByteSink {
    std::vector<uint8_t> bytes;
    bool write(const uint8_t* data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
};

korvane::RecorderSettings settingsFrom(const uint8_t* head) {
    int32_t video = ((head[1] & 0x1F) << 8) | head[2];
    int32_t audio = ((head[3] & 0x1F) << 8) | head[4];
    // The PMT PID of a channel TS, the PCR PID of a channel PS.
    int32_t third = ((head[5] & 0x1F) << 8) | head[6];
    switch (head[0] % 3) {
    case 1:
        return korvane::RecorderSettings::channelTs(third, video, audio);
    case 2:
        return korvane::RecorderSettings::channelPs(video, audio, third);
    default:
        return korvane::RecorderSettings::multiplex();
    }
}

} // namespace

// The stream after an 8-byte head (mode, three PIDs, split seed) is recorded once whole and
// once cut into buffers of pseudo-random sizes. The transport stream forms must hold whole
// packets. When the head asks for it, every 188th byte is made a sync byte: with the packets
// aligned, both recordings must be identical (with garbage they may differ, since the last
// packet of a buffer is taken without a following sync byte to confirm it).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 8)
        return 0;
    auto settings = settingsFrom(data);
    uint32_t seed = data[7] | 1u;
    std::vector<uint8_t> stream(data + 8, data + size);
    bool aligned = (data[7] & 0x80) != 0;
    if (aligned) {
        for (std::size_t i = 0; i < stream.size(); i += 188)
            stream[i] = 0x47;
    }
    const uint8_t* ts = stream.data();
    std::size_t length = stream.size();

    VectorSink whole;
    {
        auto r = std::make_unique<korvane::Recorder>(settings, &whole, nullptr);
        r->processBuffer(ts, length);
    }
    VectorSink split;
    {
        auto r = std::make_unique<korvane::Recorder>(settings, &split, nullptr);
        std::size_t pos = 0;
        while (pos < length) {
            seed = seed * 1103515245u + 12345u;
            std::size_t piece = 1 + (seed >> 8) % 400;
            if (piece > length - pos)
                piece = length - pos;
            r->processBuffer(ts + pos, piece);
            pos += piece;
        }
    }
    if (aligned && whole.bytes != split.bytes)
        std::abort();
    bool tsForm = settings.mode != korvane::RecorderMode::ChannelPs;
    if (tsForm && (whole.bytes.size() % 188 != 0 || split.bytes.size() % 188 != 0))
        std::abort();
    return 0;
}
