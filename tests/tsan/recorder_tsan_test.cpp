#include "capture/recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace korvane {
namespace {

struct CountingSink : ByteSink {
    std::size_t bytes = 0;
    bool write(const uint8_t*, std::size_t size) override {
        bytes += size;
        return true;
    }
};

// New PIDs handed over from another thread while the streaming thread records: every packet
// kept is whole and of one of the channel's PID sets.
TEST(RecorderTsan, StreamsChangeWhileBuffersFlow) {
    std::vector<uint8_t> buffer;
    for (int i = 0; i < 400; ++i) {
        uint8_t packet[188] = {0x47, static_cast<uint8_t>((i % 4) == 0 ? 0x01 : 0x02),
                               static_cast<uint8_t>(i % 2), static_cast<uint8_t>(0x10 | (i & 15))};
        buffer.insert(buffer.end(), packet, packet + 188);
    }
    CountingSink sink;
    Recorder recorder(RecorderSettings::channelTs(0x80, 0x100, 0x101), &sink, nullptr);
    std::atomic<bool> done{false};
    std::thread ui([&] {
        for (int i = 0; !done; ++i)
            recorder.changeStreams(
                RecorderSettings::channelTs(0x80, i % 2 ? 0x200 : 0x100, i % 2 ? 0x201 : 0x101));
    });
    for (int i = 0; i < 200; ++i)
        recorder.processBuffer(buffer.data(), buffer.size());
    done = true;
    ui.join();
    recorder.finish();
    EXPECT_EQ(sink.bytes % 188, 0u);
    EXPECT_GT(sink.bytes, 0u);
}

} // namespace
} // namespace korvane
