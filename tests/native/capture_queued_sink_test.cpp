#include "capture/queued_sink.h"
#include "recorder_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace korvane {
namespace {

using namespace recorder_test;
using namespace std::chrono_literals;

// What a destination saw; shared with the test, as the queue owns the destination and a
// destination stalled past the wait outlives the queue.
struct Seen {
    std::mutex mutex;
    std::condition_variable changed;
    Bytes bytes;
    int writes = 0;
    int entered = 0; // writes begun, the held one included
    bool closed = false;
    bool open = true; // the gate: writes wait while it is shut
};

struct TestDestination : ByteSink {
    std::shared_ptr<Seen> seen;
    bool gated = false;
    int failWrite = -1; // this write (0-based) and the later ones are refused
    bool closeFails = false;

    bool write(const uint8_t* data, std::size_t size) override {
        std::unique_lock<std::mutex> lock(seen->mutex);
        ++seen->entered;
        seen->changed.notify_all();
        if (gated)
            seen->changed.wait(lock, [this] { return seen->open; });
        if (failWrite >= 0 && seen->writes >= failWrite)
            return false;
        ++seen->writes;
        seen->bytes.insert(seen->bytes.end(), data, data + size);
        return true;
    }
    bool close() override {
        std::lock_guard<std::mutex> lock(seen->mutex);
        seen->closed = true;
        seen->changed.notify_all();
        return !closeFails;
    }
};

void setGate(Seen& seen, bool open) {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.open = open;
    seen.changed.notify_all();
}

Bytes filled(std::size_t size, uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(seed + i);
    return b;
}

TEST(QueuedSink, DestinationOutcomesAreCountedAndReported) {
    struct Case {
        const char* name;
        bool stalled;       // the destination holds every write until the gate opens
        bool openBeforeEnd; // the gate opens before the finish (else after it)
        int failWrite;
        bool closeFails;
        std::size_t capacity;
        std::vector<std::size_t> writes;
        // Expected:
        QueuedSinkEnd end;
        std::size_t kept; // leading bytes of the written ones that reach the destination
    };
    const Case cases[] = {
        {"plain", false, true, -1, false, 1000, {600, 300, 100}, {false, false, 0}, 1000},
        // The first write waits in the destination; the second does not fit beside it.
        {"full queue drops", true, true, -1, false, 1000, {600, 600, 300}, {false, false, 600}, 0},
        {"close fails", false, true, -1, true, 1000, {10, 20}, {true, false, 0}, 30},
        {"write refused", false, true, 0, false, 1000, {10}, {true, false, 0}, 0},
        // Stalled past the wait: what is still queued is given up and counted.
        {"stalled past the wait",
         true,
         false,
         -1,
         false,
         1000,
         {400, 300, 200},
         {false, true, 500},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto seen = std::make_shared<Seen>();
        seen->open = !c.stalled;
        auto destination = std::make_unique<TestDestination>();
        destination->seen = seen;
        destination->gated = true;
        destination->failWrite = c.failWrite;
        destination->closeFails = c.closeFails;
        Bytes written;
        {
            QueuedSink sink(std::move(destination), c.capacity);
            uint8_t seed = 1;
            for (std::size_t size : c.writes) {
                const Bytes piece = filled(size, seed++);
                EXPECT_TRUE(sink.write(piece.data(), piece.size()));
                written.insert(written.end(), piece.begin(), piece.end());
                if (c.stalled && written.size() == size) {
                    // The writer holds the first piece in the destination before the others come.
                    std::unique_lock<std::mutex> lock(seen->mutex);
                    ASSERT_TRUE(
                        seen->changed.wait_for(lock, 10s, [&] { return seen->entered > 0; }));
                }
            }
            if (c.openBeforeEnd)
                setGate(*seen, true);
            const QueuedSinkEnd end = sink.finish(c.openBeforeEnd ? 10000ms : 100ms);
            EXPECT_EQ(end.failed, c.end.failed);
            EXPECT_EQ(end.timedOut, c.end.timedOut);
            EXPECT_EQ(end.droppedBytes, c.end.droppedBytes);
            // Later finishes give the same answer.
            EXPECT_EQ(sink.finish(0ms).droppedBytes, end.droppedBytes);
            uint8_t byte = 0;
            EXPECT_FALSE(sink.write(&byte, 1)) << "a finished sink takes nothing more";
            setGate(*seen, true);
        }
        std::unique_lock<std::mutex> lock(seen->mutex);
        ASSERT_TRUE(seen->changed.wait_for(lock, 10s, [&] { return seen->closed; }))
            << "the destination is closed even when it answered late";
        if (c.name == std::string("full queue drops")) {
            Bytes expected(written.begin(), written.begin() + 600);
            expected.insert(expected.end(), written.end() - 300, written.end());
            EXPECT_EQ(seen->bytes, expected);
        } else if (c.name == std::string("stalled past the wait")) {
            EXPECT_EQ(seen->bytes, Bytes(written.begin(), written.begin() + 400));
        } else {
            EXPECT_EQ(seen->bytes, Bytes(written.begin(), written.begin() + c.kept));
        }
    }
}

// A stream's small buffers reach the destination gathered into large pieces (under Wine each
// write is a costly call, and a wake of the writer for every buffer was most of the
// recording's CPU), in order and whole.
TEST(QueuedSink, SmallWritesReachTheDestinationGathered) {
    auto seen = std::make_shared<Seen>();
    auto destination = std::make_unique<TestDestination>();
    destination->seen = seen;
    Bytes written;
    {
        QueuedSink sink(std::move(destination), 64 << 20);
        for (int i = 0; i < 2000; ++i) {
            const Bytes piece = filled(7 * 188, static_cast<uint8_t>(i));
            ASSERT_TRUE(sink.write(piece.data(), piece.size()));
            written.insert(written.end(), piece.begin(), piece.end());
        }
        EXPECT_FALSE(sink.finish(10000ms).failed);
    }
    EXPECT_EQ(seen->bytes, written);
    // 2.6 MB: two full blocks and the rest; a few more if the loop was held up past the wait.
    EXPECT_LE(seen->writes, 8) << "the buffers were handed over one by one";
}

TEST(QueuedSink, ARefusedWriteFailsTheWritesAfterIt) {
    auto seen = std::make_shared<Seen>();
    auto destination = std::make_unique<TestDestination>();
    destination->seen = seen;
    destination->failWrite = 1;
    QueuedSink sink(std::move(destination), 1 << 20);
    const Bytes piece = filled(100, 3);
    bool refused = false;
    // The refusal is seen by the writer thread; the streaming side learns it a write later.
    for (int i = 0; i < 2000 && !refused; ++i) {
        refused = !sink.write(piece.data(), piece.size());
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(refused);
    EXPECT_TRUE(sink.finish(10000ms).failed);
}

// The recorder's bytes through the queue are those it writes directly, in every mode, and a
// destination that fails at the last pieces of a program stream is reported at the end.
TEST(QueuedSink, RecorderOutputIsUnchangedAndALateFailureIsReported) {
    const Bytes ts = channelMultiplex(40, 30000);
    const RecorderSettings modes[] = {RecorderSettings::multiplex(),
                                      RecorderSettings::channelTs(0x555, 0x100, 0x101),
                                      RecorderSettings::channelPs(0x100, 0x101)};
    for (const auto& mode : modes) {
        const Bytes direct = recordSplit(mode, ts, 7, 5000);
        ASSERT_FALSE(direct.empty());
        for (bool lastWriteFails : {false, true}) {
            auto seen = std::make_shared<Seen>();
            auto destination = std::make_unique<TestDestination>();
            destination->seen = seen;
            destination->closeFails = lastWriteFails;
            QueuedSink sink(std::move(destination));
            Recorder recorder(mode, &sink, nullptr);
            std::mt19937 rng(7);
            for (std::size_t pos = 0; pos < ts.size();) {
                const std::size_t n = std::min<std::size_t>(1 + rng() % 5000, ts.size() - pos);
                recorder.processBuffer(ts.data() + pos, n);
                pos += n;
            }
            EXPECT_TRUE(recorder.finish());
            const QueuedSinkEnd end = sink.finish(10000ms);
            EXPECT_EQ(end.failed, lastWriteFails) << static_cast<int>(mode.mode);
            EXPECT_EQ(end.droppedBytes, 0u);
            EXPECT_EQ(seen->bytes, direct) << static_cast<int>(mode.mode);
        }
    }
}

} // namespace
} // namespace korvane
