#include "channels/channel_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace korvane;

// Streaming threads write guide slots and PIDs while the user-interface thread appends,
// erases, sorts and reads copies: every access goes through the list's lock.
TEST(ChannelListLock, ConcurrentReadersAndWritersDoNotRace) {
    ChannelList list;
    for (int i = 0; i < 20; ++i) {
        ChannelInfo c;
        c.number = 20 - i;
        c.sid = i;
        list.append(c);
    }
    std::atomic<bool> stop{false};

    auto guideWriter = [&] {
        uint64_t t = 1;
        while (!stop) {
            auto access = list.lock();
            if (auto i = findChannelBySid(access.records(), static_cast<int32_t>(t % 20))) {
                EpgEvent& slot = access.at(*i).present;
                slot.startTime = t;
                slot.title.assign("Journal");
            }
            ++t;
        }
    };
    auto pmtWriter = [&] {
        int pid = 0x100;
        while (!stop) {
            auto access = list.lock();
            if (ChannelInfo* c = access.current())
                c->videoPid = pid++;
        }
    };
    auto reader = [&] {
        while (!stop) {
            if (auto c = list.copyCurrent())
                std::snprintf(nullptr, 0, "%s %d", c->name.c_str(), c->videoPid);
            (void)list.snapshot();
        }
    };

    std::vector<std::thread> threads;
    threads.emplace_back(guideWriter);
    threads.emplace_back(pmtWriter);
    threads.emplace_back(reader);

    for (int round = 0; round < 200; ++round) {
        ChannelInfo c;
        c.number = round % 7;
        c.sid = round % 20;
        list.append(c);
        list.setCurrentIndex(round % 10);
        if (round % 3 == 0)
            list.eraseAt(0);
        if (round % 5 == 0)
            list.sortByNumber();
    }
    stop = true;
    for (auto& t : threads)
        t.join();
    EXPECT_GT(list.size(), 20u);
}
