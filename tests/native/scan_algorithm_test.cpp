#include "si/scan.h"

#include "../scripts/ts_inspect_sections.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

using namespace korvane;
using namespace testsections;

namespace {

constexpr unsigned kOnid = 0x20FA;

// Multiplexes by frequency; the tuner chooses which one the reader answers from.
struct FakeAir : SectionReader, ScanTuner {
    std::map<int32_t, std::map<std::pair<uint16_t, uint8_t>, Bytes>> muxes;
    int32_t tuned = 0;
    std::vector<int32_t> tunes;
    std::vector<std::tuple<int32_t, uint16_t, uint8_t, int>> reads;

    int tuneFrequency(int32_t f) override {
        tuned = f;
        tunes.push_back(f);
        return 0;
    }
    std::optional<Bytes> getSection(uint16_t pid, uint8_t table, int timeoutMs) override {
        reads.emplace_back(tuned, pid, table, timeoutMs);
        auto mux = muxes.find(tuned);
        if (mux == muxes.end())
            return std::nullopt;
        auto it = mux->second.find({pid, table});
        if (it == mux->second.end())
            return std::nullopt;
        return it->second;
    }
    std::size_t readsOf(uint16_t pid, uint8_t table) const {
        std::size_t n = 0;
        for (auto& r : reads)
            n += std::get<1>(r) == pid && std::get<2>(r) == table;
        return n;
    }
};

struct FakeProgress : ScanProgress {
    int range = -1;
    std::vector<int> positions;
    std::vector<std::string> names;
    int ends = 0;
    void setRange(int n) override { range = n; }
    void setPosition(int p) override { positions.push_back(p); }
    void addName(std::string_view name) override { names.emplace_back(name); }
    void end() override { ++ends; }
};

struct FakeSaver : ChannelFileSaver {
    std::vector<ChannelRecords> saves;
    void saveChannels(const ChannelRecords& copy) override { saves.push_back(copy); }
};

// Two services with video (one MPEG-2, one H.264) and a radio on one multiplex.
void addMux(FakeAir& air, int32_t f, unsigned tsid, unsigned firstSid, bool withNit) {
    auto& m = air.muxes[f];
    m[{0x11, 0x42}] = sdt(tsid, kOnid,
                          {{firstSid, "GR", "Video " + std::to_string(tsid)},
                           {firstSid + 1, "GR", "H264 " + std::to_string(tsid)},
                           {firstSid + 2, "GR", "Radio " + std::to_string(tsid)}});
    m[{0x00, 0x00}] = pat(tsid, {{0, 0x10},
                                 {firstSid, 0x100 + tsid},
                                 {firstSid + 1, 0x200 + tsid},
                                 {firstSid + 2, 0x300 + tsid}});
    m[{static_cast<uint16_t>(0x100 + tsid), 0x02}] =
        pmt(firstSid, 0x120, {{0x02, 0x120, {}}, {0x03, 0x130, {}}, {0x06, 0x140, {0x6A, 0}}});
    m[{static_cast<uint16_t>(0x200 + tsid), 0x02}] = pmt(firstSid + 1, 0x220, {{0x1B, 0x220, {}}});
    m[{static_cast<uint16_t>(0x300 + tsid), 0x02}] = pmt(firstSid + 2, 0x330, {{0x03, 0x330, {}}});
    if (withNit)
        m[{0x10, 0x40}] = nit(0x20FA, {{1, kOnid, {{0x101, 3}, {0x102, 1}, {0x103, 9}}},
                                       {2, kOnid, {{0x201, 2}, {0x202, 4}}}});
}

} // namespace

TEST(ScanFrequency, ReadsSdtPatPmtsAndNitInOrder) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, true);
    ChannelList list;
    ScanState state;
    EXPECT_EQ(scanFrequency(list, state, air, air, 474167), 0);

    ASSERT_EQ(list.size(), 3u);
    ChannelRecords r = list.snapshot();
    EXPECT_EQ(r[0].name.view(), "Video 1");
    EXPECT_EQ(r[0].group.view(), "GR");
    EXPECT_EQ(r[0].frequency, 474167);
    EXPECT_EQ(r[0].onid, 0x20FA);
    EXPECT_EQ(r[0].tsid, 1);
    EXPECT_EQ(r[0].sid, 0x101);
    EXPECT_EQ(r[0].pmtPid, 0x101);
    EXPECT_EQ(r[0].videoPid, 0x120);
    EXPECT_EQ(r[0].audio1Pid, 0x130);
    EXPECT_EQ(r[0].ac3Pid, 0x140);
    EXPECT_EQ(r[1].videoMpeg4Pid, 0x220);
    EXPECT_EQ(r[2].audio1Pid, 0x330);
    EXPECT_EQ(r[2].videoPid, 0);
    EXPECT_FALSE(state.pendingNit.empty());

    using R = std::tuple<int32_t, uint16_t, uint8_t, int>;
    std::vector<R> expected = {{474167, 0x11, 0x42, 5000},  {474167, 0x00, 0x00, 10000},
                               {474167, 0x101, 0x02, 5000}, {474167, 0x201, 0x02, 5000},
                               {474167, 0x301, 0x02, 5000}, {474167, 0x10, 0x40, 10000}};
    EXPECT_EQ(air.reads, expected);
}

TEST(ScanFrequency, WithoutSdtNothingElseIsReadAndWithoutPatNoPmtComes) {
    FakeAir air;
    ChannelList list;
    ScanState state;
    EXPECT_EQ(scanFrequency(list, state, air, air, 500000), 1);
    EXPECT_EQ(air.reads.size(), 1u);
    EXPECT_EQ(air.tunes, std::vector<int32_t>{500000});

    addMux(air, 474167, 1, 0x101, false);
    air.muxes[474167].erase({0x00, 0x00});
    air.reads.clear();
    EXPECT_EQ(scanFrequency(list, state, air, air, 474167), 0);
    ChannelRecords r = list.snapshot();
    ASSERT_EQ(r.size(), 3u);
    for (auto& c : r) {
        EXPECT_EQ(c.pmtPid, 0);
        EXPECT_EQ(c.videoPid, 0);
    }
    EXPECT_EQ(air.readsOf(0x00, 0x02), 3u) << "channels without a PMT PID are asked on PID 0";
    EXPECT_TRUE(state.pendingNit.empty());
}

TEST(ScanFrequency, NitIsReadUntilOneIsFoundAndKeptFromTheFirst) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, false);
    addMux(air, 482167, 2, 0x201, true);
    addMux(air, 490167, 3, 0x301, true);
    air.muxes[490167][{0x10, 0x40}] = nit(1, {});
    ChannelList list;
    ScanState state;
    for (int32_t f : {474167, 482167, 490167})
        scanFrequency(list, state, air, air, f);
    EXPECT_EQ(air.readsOf(0x10, 0x40), 2u);
    EXPECT_EQ(state.pendingNit, (air.muxes[482167][{0x10, 0x40}]));
}

TEST(ScanAllFrequencies, ShowsProgressAndEveryNamedServiceInDiscoveryOrder) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, false);
    addMux(air, 490167, 2, 0x201, false);
    air.muxes[490167][{0x11, 0x42}] =
        sdt(2, kOnid, {{0x201, "GR", ""}, {0x202, "", "H264 2"}, {0x203, "GR", "Radio 2"}});
    ChannelList list;
    ScanState state;
    state.scanPending = true;
    FakeProgress progress;
    scanAllFrequencies(
        list, state,
        [] {
            return FrequencyPlan{474167, 482167, 490167};
        },
        air, air, progress);

    EXPECT_EQ(progress.range, 3);
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(progress.names,
              (std::vector<std::string>{"Video 1", "H264 1", "Radio 1", "H264 2", "Radio 2"}));
    EXPECT_EQ(progress.ends, 1);
    EXPECT_FALSE(state.scanPending);
    EXPECT_EQ(list.size(), 6u) << "an empty name still makes a record";
    EXPECT_EQ(air.tunes, (std::vector<int32_t>{474167, 482167, 490167}));
}

struct ImmediateDialog : ScanDialog {
    std::function<void()> body;
    int shown = 0;
    void runModal() override {
        ++shown;
        body();
    }
};

TEST(RunChannelScan, NumbersPrunesSortsAndSavesOnce) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, true);
    addMux(air, 482167, 2, 0x201, false);
    ChannelList list;
    ScanState state;
    FakeProgress progress;
    FakeSaver saver;
    ImmediateDialog dialog;
    dialog.body = [&] {
        EXPECT_TRUE(state.scanPending);
        scanAllFrequencies(
            list, state,
            [] {
                return FrequencyPlan{474167, 482167};
            },
            air, air, progress);
    };
    EXPECT_EQ(runChannelScan(list, state, dialog, saver), 0);
    EXPECT_EQ(dialog.shown, 1);
    ASSERT_EQ(saver.saves.size(), 1u);
    std::vector<std::pair<std::string, int32_t>> got;
    for (auto& c : saver.saves[0])
        got.emplace_back(std::string(c.name.view()), c.number);
    // Radios leave for lack of video; the NIT numbers both multiplexes.
    std::vector<std::pair<std::string, int32_t>> expected = {
        {"H264 1", 1}, {"Video 2", 2}, {"Video 1", 3}, {"H264 2", 4}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(list.size(), 4u);
    EXPECT_TRUE(state.pendingNit.empty()) << "the NIT is released once applied";
}

TEST(RunChannelScan, WithoutNitKeepsRadiosAndOrderAndWithoutChannelsSavesNothing) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, false);
    addMux(air, 482167, 1, 0x101, false); // the same multiplex on a second frequency
    ChannelList list;
    ScanState state;
    FakeProgress progress;
    FakeSaver saver;
    ImmediateDialog dialog;
    dialog.body = [&] {
        scanAllFrequencies(
            list, state,
            [] {
                return FrequencyPlan{474167, 482167};
            },
            air, air, progress);
    };
    EXPECT_EQ(runChannelScan(list, state, dialog, saver), 0);
    ASSERT_EQ(saver.saves.size(), 1u);
    ASSERT_EQ(saver.saves[0].size(), 6u);
    EXPECT_EQ(saver.saves[0][2].name.view(), "Radio 1");
    EXPECT_EQ(saver.saves[0][3].frequency, 482167);
    EXPECT_EQ(saver.saves[0][3].sid, 0x101);

    FakeAir silent;
    ChannelList empty;
    ScanState emptyState;
    FakeSaver none;
    dialog.body = [&] {
        scanAllFrequencies(
            empty, emptyState, [] { return FrequencyPlan{474167}; }, silent, silent, progress);
    };
    EXPECT_EQ(runChannelScan(empty, emptyState, dialog, none), 1);
    EXPECT_TRUE(none.saves.empty());
}

TEST(RunChannelScan, AllServicesPrunedForLackOfVideoSaveNothing) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, true);
    auto& m = air.muxes[474167];
    m.erase({0x101, 0x02});
    m.erase({0x201, 0x02});
    ChannelList list;
    ScanState state;
    FakeProgress progress;
    FakeSaver saver;
    ImmediateDialog dialog;
    dialog.body = [&] {
        scanAllFrequencies(
            list, state, [] { return FrequencyPlan{474167}; }, air, air, progress);
    };
    EXPECT_EQ(runChannelScan(list, state, dialog, saver), 1);
    EXPECT_TRUE(saver.saves.empty());
    EXPECT_EQ(list.size(), 0u);
}

TEST(ScanAllFrequencies, AnIdleNotificationDuringTheScanStartsNoSecondScan) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, false);
    ChannelList list;
    ScanState state;
    state.scanPending = true;
    FakeProgress progress;
    FakeProgress nestedProgress;
    auto plan = [&] {
        // A tuner question's message box idles while the plan is being built.
        scanAllFrequencies(
            list, state, [] { return FrequencyPlan{474167}; }, air, air, nestedProgress);
        return FrequencyPlan{474167};
    };
    scanAllFrequencies(list, state, plan, air, air, progress);
    EXPECT_EQ(air.tunes, std::vector<int32_t>{474167});
    EXPECT_EQ(nestedProgress.range, -1);
    EXPECT_EQ(nestedProgress.ends, 0);
    EXPECT_EQ(progress.ends, 1);
    EXPECT_EQ(list.size(), 3u);
    EXPECT_FALSE(state.scanRunning);
}
