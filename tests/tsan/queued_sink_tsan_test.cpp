#include "capture/queued_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using namespace korvane;
using namespace std::chrono_literals;

namespace {

// A destination that is slow now and then, and counts what it is given.
struct SlowDestination : ByteSink {
    std::shared_ptr<std::atomic<uint64_t>> taken;
    int writes = 0;
    bool write(const uint8_t*, std::size_t size) override {
        if (++writes % 7 == 0)
            std::this_thread::sleep_for(2ms);
        *taken += size;
        return true;
    }
};

} // namespace

// The streaming thread writes while the writer thread drains a small queue, and the end
// comes both after a full drain and while the destination is still busy: every byte is
// either written or counted as dropped, with no race on the way.
TEST(QueuedSinkThreads, EveryByteIsWrittenOrCountedAsDropped) {
    for (std::chrono::milliseconds wait : {10000ms, 0ms}) {
        auto taken = std::make_shared<std::atomic<uint64_t>>(0);
        auto destination = std::make_unique<SlowDestination>();
        destination->taken = taken;
        const std::vector<uint8_t> piece(3000, 0x47);
        uint64_t given = 0;
        QueuedSinkEnd end;
        {
            QueuedSink sink(std::move(destination), 64 * 1024);
            for (int i = 0; i < 3000; ++i) {
                ASSERT_TRUE(sink.write(piece.data(), piece.size()));
                given += piece.size();
            }
            end = sink.finish(wait);
        }
        EXPECT_FALSE(end.failed);
        if (!end.timedOut) {
            EXPECT_EQ(*taken + end.droppedBytes, given);
        } else {
            // The piece in the destination at the time may still arrive after the end.
            EXPECT_LE(*taken + end.droppedBytes, given);
            EXPECT_GE(*taken + end.droppedBytes + 1024 * 1024, given);
        }
    }
}
