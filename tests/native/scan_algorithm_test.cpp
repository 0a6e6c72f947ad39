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

// Multiplexes by frequency; the tuner chooses which one the reader answers from. Each table
// arrives after its own delay (0 unless said); the clock advances as the reads wait, a
// batch of reads waiting as long as its longest read, as concurrent reads do.
struct FakeAir : SectionReader, ScanTuner {
    using Key = std::pair<uint16_t, uint8_t>;
    std::map<int32_t, std::map<Key, std::vector<Bytes>>> muxes;
    std::map<Key, int> arrivalMs;
    int32_t tuned = 0;
    std::vector<int32_t> tunes;
    std::vector<std::vector<std::tuple<uint16_t, uint8_t, int, int>>>
        batches; // pid, table, extension or -1, time-out
    long long clockMs = 0;
    // Called before each batch is answered, with the batch's index.
    std::function<void(std::size_t)> beforeBatch;

    void put(int32_t f, uint16_t pid, uint8_t table, Bytes section) {
        muxes[f][{pid, table}].push_back(std::move(section));
    }
    int tuneFrequency(int32_t f) override {
        tuned = f;
        tunes.push_back(f);
        return 0;
    }
    std::optional<Bytes> getSection(const SectionRequest& r) override {
        auto mux = muxes.find(tuned);
        if (mux == muxes.end())
            return std::nullopt;
        auto it = mux->second.find({r.pid, r.tableId});
        if (it == mux->second.end())
            return std::nullopt;
        for (const Bytes& b : it->second)
            if (!r.extension || (b.size() > 4 && ((b[3] << 8) | b[4]) == *r.extension))
                return b;
        return std::nullopt;
    }
    std::vector<std::optional<Bytes>> getSections(const std::vector<SectionRequest>& requests,
                                                  std::optional<std::size_t> leader) override {
        if (beforeBatch)
            beforeBatch(batches.size());
        batches.emplace_back();
        std::vector<std::optional<Bytes>> out;
        int waited = 0;
        for (const SectionRequest& r : requests) {
            batches.back().emplace_back(r.pid, r.tableId, r.extension ? int(*r.extension) : -1,
                                        r.timeoutMs);
            out.push_back(getSection(r));
            auto delay = arrivalMs.find({r.pid, r.tableId});
            const int at = delay == arrivalMs.end() ? 0 : delay->second;
            if (out.back() && at > r.timeoutMs)
                out.back().reset();
            waited = std::max(waited, out.back() ? at : r.timeoutMs);
        }
        if (leader && !out[*leader]) {
            waited = requests[*leader].timeoutMs;
            for (auto& section : out)
                section.reset();
        }
        clockMs += waited;
        return out;
    }
    std::size_t readsOf(uint16_t pid, uint8_t table) const {
        std::size_t n = 0;
        for (auto& batch : batches)
            for (auto& r : batch)
                n += std::get<0>(r) == pid && std::get<1>(r) == table;
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
    m[{0x11, 0x42}] = {sdt(tsid, kOnid,
                           {{firstSid, "GR", "Video " + std::to_string(tsid)},
                            {firstSid + 1, "GR", "H264 " + std::to_string(tsid)},
                            {firstSid + 2, "GR", "Radio " + std::to_string(tsid)}})};
    m[{0x00, 0x00}] = {pat(tsid, {{0, 0x10},
                                  {firstSid, 0x100 + tsid},
                                  {firstSid + 1, 0x200 + tsid},
                                  {firstSid + 2, 0x300 + tsid}})};
    m[{static_cast<uint16_t>(0x100 + tsid), 0x02}] = {
        pmt(firstSid, 0x120, {{0x02, 0x120, {}}, {0x03, 0x130, {}}, {0x06, 0x140, {0x6A, 0}}})};
    m[{static_cast<uint16_t>(0x200 + tsid), 0x02}] = {
        pmt(firstSid + 1, 0x220, {{0x1B, 0x220, {}}})};
    m[{static_cast<uint16_t>(0x300 + tsid), 0x02}] = {
        pmt(firstSid + 2, 0x330, {{0x03, 0x330, {}}})};
    if (withNit)
        m[{0x10, 0x40}] = {nit(0x20FA, {{1, kOnid, {{0x101, 3}, {0x102, 1}, {0x103, 9}}},
                                        {2, kOnid, {{0x201, 2}, {0x202, 4}}}})};
}

} // namespace

TEST(ScanFrequency, ReadsSdtPatAndNitTogetherThenEveryPmtTogether) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, true);
    air.arrivalMs = {{{0x11, 0x42}, 1900},
                     {{0x00, 0x00}, 80},
                     {{0x10, 0x40}, 9000},
                     {{0x201, 0x02}, 60},
                     {{0x301, 0x02}, 90}};
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

    using R = std::tuple<uint16_t, uint8_t, int, int>;
    const std::vector<std::vector<R>> expected = {
        {{0x11, 0x42, -1, 5000}, {0x00, 0x00, -1, 10000}, {0x10, 0x40, -1, 10000}},
        {{0x101, 0x02, 0x101, 5000}, {0x201, 0x02, 0x102, 5000}, {0x301, 0x02, 0x103, 5000}}};
    EXPECT_EQ(air.batches, expected);
    EXPECT_EQ(air.clockMs, 9000 + 90) << "each batch waits for its latest table only";
}

// Per frequency the scan waits at most for its time-outs, whatever the multiplex carries.
TEST(ScanFrequency, EndsWithinTheTimeOutsWhateverTheTablesSay) {
    struct Case {
        const char* name;
        std::function<void(FakeAir&)> air;
        long long worstMs;
        std::size_t channels;
        std::size_t pmtReads;
    };
    const auto hostileSdt = [](FakeAir& air) {
        std::vector<Service> services;
        for (unsigned sid = 1; sid <= 200; ++sid)
            services.push_back({0x4000 + sid, "GR", "Service " + std::to_string(sid)});
        air.put(474167, 0x11, 0x42, sdt(1, kOnid, services));
        air.put(474167, 0x00, 0x00, pat(1, {{0, 0x10}, {0x4001, 0x100}}));
    };
    const Case cases[] = {
        {"no signal: the SDT's time-out only", [](FakeAir&) {}, 5000, 0, 0},
        {"no PAT: no PMT asked",
         [](FakeAir& air) {
             addMux(air, 474167, 1, 0x101, false);
             air.muxes[474167].erase({0x00, 0x00});
         },
         10000, 3, 0},
        {"an SDT of 200 services, one in the PAT, none with a PMT", hostileSdt, 5000, 200, 1},
        {"no PMT comes: one time-out for them all",
         [](FakeAir& air) {
             addMux(air, 474167, 1, 0x101, true);
             for (uint16_t pid : {0x101, 0x201, 0x301})
                 air.muxes[474167].erase({pid, 0x02});
         },
         0 + 5000, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeAir air;
        c.air(air);
        ChannelList list;
        ScanState state;
        state.pendingNit = {0x40}; // a NIT already found: not asked again
        scanFrequency(list, state, air, air, 474167);
        EXPECT_EQ(air.clockMs, c.worstMs);
        EXPECT_EQ(list.size(), c.channels);
        EXPECT_EQ(air.readsOf(0x00, 0x02), 0u) << "nothing asked on PID 0";
        std::size_t pmtReads = 0;
        for (std::size_t b = 1; b < air.batches.size(); ++b)
            pmtReads += air.batches[b].size();
        EXPECT_EQ(pmtReads, c.pmtReads);
        EXPECT_LE(air.batches.size(), 2u);
    }
}

TEST(ScanFrequency, ProgramsSharingOnePmtPidEachGetTheirOwnStreams) {
    FakeAir air;
    air.put(474167, 0x11, 0x42, sdt(1, kOnid, {{0x101, "GR", "Un"}, {0x102, "GR", "Deux"}}));
    air.put(474167, 0x00, 0x00, pat(1, {{0, 0x10}, {0x101, 0x100}, {0x102, 0x100}}));
    // The second program's PMT is on the PID first: a read of the PID alone takes it.
    air.put(474167, 0x100, 0x02, pmt(0x102, 0x220, {{0x1B, 0x220, {}}}));
    air.put(474167, 0x100, 0x02, pmt(0x101, 0x120, {{0x02, 0x120, {}}}));
    ChannelList list;
    ScanState state;
    scanFrequency(list, state, air, air, 474167);
    ChannelRecords r = list.snapshot();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].videoPid, 0x120);
    EXPECT_EQ(r[0].videoMpeg4Pid, 0);
    EXPECT_EQ(r[1].videoMpeg4Pid, 0x220);
    EXPECT_EQ(r[1].videoPid, 0);
}

// The first PAT after a tune can be the previous multiplex's, still in the pipeline.
TEST(ScanFrequency, APatOfAnotherTransportStreamIsAskedAgainByTheSdtsOne) {
    FakeAir air;
    air.put(474167, 0x11, 0x42, sdt(2, kOnid, {{0x201, "GR", "Deux"}}));
    air.put(474167, 0x00, 0x00, pat(1, {{0x101, 0x100}}));
    air.put(474167, 0x00, 0x00, pat(2, {{0x201, 0x200}}));
    air.put(474167, 0x200, 0x02, pmt(0x201, 0x220, {{0x1B, 0x220, {}}}));
    ChannelList list;
    ScanState state;
    scanFrequency(list, state, air, air, 474167);
    ChannelRecords r = list.snapshot();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].pmtPid, 0x200);
    EXPECT_EQ(r[0].videoMpeg4Pid, 0x220);
}

TEST(ScanFrequency, NitIsReadUntilOneIsFoundAndKeptFromTheFirst) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, false);
    addMux(air, 482167, 2, 0x201, true);
    addMux(air, 490167, 3, 0x301, true);
    air.muxes[490167][{0x10, 0x40}] = {nit(1, {})};
    ChannelList list;
    ScanState state;
    for (int32_t f : {474167, 482167, 490167})
        scanFrequency(list, state, air, air, f);
    EXPECT_EQ(air.readsOf(0x10, 0x40), 2u);
    EXPECT_EQ(state.pendingNit, (air.muxes[482167][{0x10, 0x40}].front()));
}

TEST(ScanAllFrequencies, ShowsProgressAndEveryNamedServiceInDiscoveryOrder) {
    FakeAir air;
    addMux(air, 474167, 1, 0x101, false);
    addMux(air, 490167, 2, 0x201, false);
    air.muxes[490167][{0x11, 0x42}] = {
        sdt(2, kOnid, {{0x201, "GR", ""}, {0x202, "", "H264 2"}, {0x203, "GR", "Radio 2"}})};
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

const std::function<bool(std::size_t)> noQuestion = [](std::size_t) {
    ADD_FAILURE() << "no question without a cancel";
    return false;
};

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
    EXPECT_EQ(runChannelScan(list, state, dialog, saver, noQuestion), 0);
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
    EXPECT_EQ(runChannelScan(list, state, dialog, saver, noQuestion), 0);
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
    EXPECT_EQ(runChannelScan(empty, emptyState, dialog, none, noQuestion), 1);
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
    EXPECT_EQ(runChannelScan(list, state, dialog, saver, noQuestion), 1);
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

// A stop asked while a table read waits: the frequency being read adds nothing, no other
// frequency is tuned, and what was found before is kept only on a cancel the user confirms.
TEST(RunChannelScan, StopsAtTheNextReadAndKeepsOnlyWhatTheUserSays) {
    struct Case {
        const char* name;
        std::size_t atBatch; // two batches per frequency
        ScanStop stop;
        bool keepAnswer;
        int status;
        std::size_t asked; // the count in the question, 0 when none is asked
        std::size_t saved;
        std::size_t tunes;
    };
    const Case cases[] = {
        {"quit on the first frequency", 0, ScanStop::Quit, true, kScanStopped, 0, 0, 1},
        {"quit while the second frequency's PMTs are read", 3, ScanStop::Quit, true, kScanStopped,
         0, 0, 2},
        {"cancelled before anything was found", 1, ScanStop::Cancelled, true, kScanStopped, 0, 0,
         1},
        {"cancelled on the second frequency, kept", 2, ScanStop::Cancelled, true, kScanFound, 3, 3,
         2},
        {"cancelled on the second frequency, not kept", 3, ScanStop::Cancelled, false, kScanStopped,
         3, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeAir air;
        for (int32_t f : {474167, 482167, 490167})
            addMux(air, f, static_cast<unsigned>(f / 1000 % 100), 0x101, false);
        ChannelList list;
        ScanState state;
        air.beforeBatch = [&](std::size_t batch) {
            if (batch == c.atBatch)
                state.stop.request(c.stop);
        };
        FakeProgress progress;
        FakeSaver saver;
        ImmediateDialog dialog;
        dialog.body = [&] {
            scanAllFrequencies(
                list, state,
                [] {
                    return FrequencyPlan{474167, 482167, 490167};
                },
                air, air, progress);
        };
        std::size_t asked = 0;
        const int status = runChannelScan(list, state, dialog, saver, [&](std::size_t n) {
            asked = n;
            return c.keepAnswer;
        });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(saver.saves.size(), c.saved ? 1u : 0u);
        if (!saver.saves.empty())
            EXPECT_EQ(saver.saves[0].size(), c.saved);
        EXPECT_EQ(air.tunes.size(), c.tunes);
        EXPECT_EQ(progress.ends, 1);
        EXPECT_FALSE(state.scanActive);
        EXPECT_EQ(list.size(), c.saved);
    }
}

TEST(ScanStopFlag, AQuitOutranksACancel) {
    ScanStopFlag stop;
    EXPECT_FALSE(stop.stopped());
    stop.request(ScanStop::Cancelled);
    stop.request(ScanStop::Quit);
    stop.request(ScanStop::Cancelled);
    EXPECT_EQ(stop.get(), ScanStop::Quit);
    stop.reset();
    EXPECT_EQ(stop.get(), ScanStop::None);
}
