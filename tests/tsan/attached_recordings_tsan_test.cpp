#include "capture/attached_recordings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace korvane {
namespace {

struct CountingRecording {
    std::atomic<int> buffers{0};
};

// Recordings attached and detached from the window's thread while the streaming thread feeds
// every one attached: once detached and let go by a call that took it just before, a recording
// is never fed again, and none is freed under a call.
TEST(AttachedRecordingsTsan, AttachAndDetachWhileBuffersFlow) {
    AttachedRecordings<std::shared_ptr<CountingRecording>, 4> attached;
    auto steady = std::make_shared<CountingRecording>();
    ASSERT_TRUE(attached.attach(steady));
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        decltype(attached)::Snapshot feed;
        while (!done) {
            const std::size_t count = attached.snapshot(feed);
            for (std::size_t i = 0; i < count; ++i)
                feed[i]->buffers.fetch_add(1);
            feed = {};
        }
    });
    std::vector<std::pair<std::shared_ptr<CountingRecording>, int>> detached;
    for (int round = 0; round < 2000; ++round) {
        auto passing = std::make_shared<CountingRecording>();
        CountingRecording* raw = passing.get();
        ASSERT_TRUE(attached.attach(std::move(passing)));
        std::shared_ptr<CountingRecording> back = attached.detach(raw);
        ASSERT_EQ(back.get(), raw);
        EXPECT_FALSE(attached.detach(raw));
        while (back.use_count() > 1)
            std::this_thread::yield();
        const int fed = back->buffers.load();
        detached.emplace_back(std::move(back), fed);
    }
    done = true;
    streaming.join();
    EXPECT_GT(steady->buffers.load(), 0);
    for (const auto& [recording, fed] : detached)
        ASSERT_EQ(recording->buffers.load(), fed) << "fed after its detach";
    EXPECT_EQ(attached.detach(steady.get()).get(), steady.get());
}

// Past its capacity the set refuses a recording rather than dropping one it feeds.
TEST(AttachedRecordingsTsan, AFullSetRefusesTheNextRecording) {
    AttachedRecordings<std::shared_ptr<int>, 2> attached;
    auto a = std::make_shared<int>(1), b = std::make_shared<int>(2), c = std::make_shared<int>(3);
    EXPECT_TRUE(attached.attach(a));
    EXPECT_TRUE(attached.attach(b));
    EXPECT_FALSE(attached.attach(c));
    decltype(attached)::Snapshot feed;
    ASSERT_EQ(attached.snapshot(feed), 2u);
    EXPECT_EQ(*feed[0], 1);
    EXPECT_EQ(*feed[1], 2);
    attached.detach(a.get());
    EXPECT_TRUE(attached.attach(c));
    ASSERT_EQ(attached.snapshot(feed), 2u);
    EXPECT_EQ(*feed[0], 3) << "the freed place is taken again";
}

} // namespace
} // namespace korvane
