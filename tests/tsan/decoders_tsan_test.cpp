#include "../native/si_test_sections.h"
#include "si/eit.h"
#include "si/pmt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace korvane;
using namespace si_test;

namespace {

struct AtomicNotifier : WindowNotifier {
    std::atomic<int> guide{0};
    std::atomic<int> streams{0};
    void postGuideUpdated() override { ++guide; }
    void postStreamsChanged() override { ++streams; }
};

struct CountingSaver : ChannelFileSaver {
    std::size_t saves = 0;
    std::size_t lastSize = 0;
    void saveChannels(const ChannelRecords& copy) override {
        ++saves;
        lastSize = copy.size();
        for (const ChannelInfo& c : copy)
            std::snprintf(nullptr, 0, "%s %d", c.name.c_str(), c.videoPid);
    }
};

} // namespace

// The guide and PMT decoders run on two streaming threads while the user-interface thread
// switches channels and reads copies for display.
TEST(DecoderThreads, GuideAndPmtDecodersBesideTheUserInterface) {
    ChannelList list;
    for (int i = 0; i < 8; ++i) {
        ChannelInfo c = channel(0x100 + i);
        c.name.assign("Chaine " + std::to_string(i));
        list.append(c);
    }
    list.setCurrentIndex(0);

    std::vector<Bytes> guideSections;
    for (int i = 0; i < 8; ++i)
        for (uint8_t hour : {0x18, 0x19, 0x20}) {
            EitEvent e;
            e.hour = hour;
            e.descriptors = shortEvent("Titre", "Description");
            guideSections.push_back(eit(0x100 + i, {e}));
        }
    // Each program's PMT in turn, its streams alternating from one round of programs to the
    // next, so the watched channel's own PMT keeps changing whichever channel is watched.
    std::vector<Bytes> pmtSections;
    for (int i = 0; i < 16; ++i) {
        const unsigned program = 0x100 + static_cast<unsigned>(i % 8);
        pmtSections.push_back(
            i < 8 ? pmt(program, 0x100, {{0x02, 0x100, {}}, {0x03, 0x101, {}}})
                  : pmt(program, 0x200, {{0x1B, 0x200, {}}, {0x06, 0x201, descriptor(0x6A, {})}}));
    }

    AtomicNotifier notifier;
    CountingSaver saver;
    FixedOffsetTimeConverter clock(60);
    constexpr int kRounds = 2000;

    std::thread guide([&] {
        for (int r = 0; r < kRounds; ++r)
            for (const Bytes& s : guideSections)
                handleEitSample(list, notifier, clock, s.data(), s.size());
    });
    std::thread streams([&] {
        for (int r = 0; r < kRounds; ++r) {
            const Bytes& s = pmtSections[static_cast<std::size_t>(r % 16)];
            handlePmtSample(list, notifier, saver, s.data(), s.size());
        }
    });
    std::thread ui([&] {
        for (int r = 0; r < kRounds; ++r) {
            list.setCurrentIndex(r % 8);
            if (auto c = list.copyCurrent())
                std::snprintf(nullptr, 0, "%s %s %d", c->present.title.c_str(),
                              c->following.startText.c_str(), c->audio1Pid);
            ChannelRecords all = list.snapshot();
            ASSERT_EQ(all.size(), 8u);
        }
    });
    guide.join();
    streams.join();
    ui.join();

    EXPECT_GT(saver.saves, 0u);
    EXPECT_EQ(saver.lastSize, 8u);
    EXPECT_EQ(static_cast<std::size_t>(notifier.streams.load()), saver.saves);
    for (std::size_t i = 0; i < list.size(); ++i) {
        ChannelInfo c = *list.copyAt(i);
        ASSERT_FALSE(c.present.empty());
        ASSERT_FALSE(c.following.empty());
        EXPECT_LT(c.present.startTime, c.following.startTime);
    }
}
