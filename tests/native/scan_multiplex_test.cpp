// The scan with its reads made together, on threads, gives the channel file that reading the
// tables one after the other gives, on every generated test multiplex.
#include "channels/channel_file.h"
#include "si/nit.h"
#include "si/pat.h"
#include "si/pmt.h"
#include "si/psi_ids.h"
#include "si/scan.h"
#include "si/sdt.h"
#include "si/section_assembler.h"
#include "si/section_check.h"
#include "si/ts_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace korvane;

namespace {

namespace fs = std::filesystem;

// The first sound section of every PID, table and table id extension of a recorded
// multiplex, and which came first on each PID and table.
class RecordedAir : public SectionReader {
  public:
    explicit RecordedAir(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        TsPacketSplitter splitter;
        SectionDemux demux;
        const auto keep = [this](uint16_t pid, const uint8_t* section, std::size_t size) {
            if (size < 5 || !checkSectionCrc(section, size))
                return;
            const auto extension = static_cast<uint16_t>((section[3] << 8) | section[4]);
            first_.try_emplace({pid, section[0]}, section, section + size);
            byExtension_.try_emplace({pid, section[0], extension}, section, section + size);
            extensions_[{pid, section[0]}].insert(extension);
        };
        auto onPacket = [&](const TsPacket& packet) { demux.push(packet, keep); };
        splitter.push(bytes.data(), bytes.size(), onPacket);
        splitter.flush(onPacket);
    }

    std::optional<Section> getSection(const SectionRequest& r) override {
        if (r.extension) {
            auto it = byExtension_.find({r.pid, r.tableId, *r.extension});
            return it == byExtension_.end() ? std::nullopt : std::optional<Section>(it->second);
        }
        auto it = first_.find({r.pid, r.tableId});
        return it == first_.end() ? std::nullopt : std::optional<Section>(it->second);
    }

    // Every request on a thread of its own, as the program's reader does.
    std::vector<std::optional<Section>> getSections(const std::vector<SectionRequest>& requests,
                                                    std::optional<std::size_t>) override {
        std::vector<std::optional<Section>> out(requests.size());
        std::vector<std::thread> readers;
        for (std::size_t i = 0; i < requests.size(); ++i)
            readers.emplace_back([&, i] { out[i] = getSection(requests[i]); });
        for (std::thread& reader : readers)
            reader.join();
        return out;
    }

    // Programs that share their PMT PID with another program.
    bool pmtPidShared(uint16_t pid) const {
        auto it = extensions_.find({pid, kPmtTableId});
        return it != extensions_.end() && it->second.size() > 1;
    }

  private:
    std::map<std::pair<uint16_t, uint8_t>, Section> first_;
    std::map<std::tuple<uint16_t, uint8_t, uint16_t>, Section> byExtension_;
    std::map<std::pair<uint16_t, uint8_t>, std::set<uint16_t>> extensions_;
};

struct NoTuner : ScanTuner {
    int tuneFrequency(int32_t) override { return 0; }
};

// The tables read one after the other, each PMT as the first section on its PID: how the
// scan read them before. Only where programs share a PMT PID is each PMT asked by program,
// which is what the scan now does there (the first section on the PID may describe
// another program).
void scanOneAfterTheOther(ChannelList& list, ScanState& state, RecordedAir& air, int32_t f) {
    const std::size_t first = list.size();
    auto sdt = air.getSection({kSdtPid, kSdtActualTableId, std::nullopt, kSdtTimeoutMs});
    if (!sdt)
        return;
    decodeSdt(list, sdt->data(), sdt->size(), f);
    if (auto pat = air.getSection({kPatPid, kPatTableId, std::nullopt, kPatTimeoutMs}))
        decodePat(list, pat->data(), pat->size());
    for (std::size_t k = first; k < list.size(); ++k) {
        const ChannelInfo record = *list.copyAt(k);
        const auto pid = static_cast<uint16_t>(record.pmtPid & 0x1FFF);
        std::optional<uint16_t> program;
        if (air.pmtPidShared(pid))
            program = static_cast<uint16_t>(record.sid);
        if (auto pmt = air.getSection({pid, kPmtTableId, program, kPmtTimeoutMs}))
            scanPmt(list, pmt->data(), pmt->size(), k);
    }
    if (state.pendingNit.empty())
        if (auto nit = air.getSection({kNitPid, kNitActualTableId, std::nullopt, kNitTimeoutMs}))
            state.pendingNit = std::move(*nit);
}

// The multiplexes of one scenario, generated into a folder of this process, by frequency.
std::map<int32_t, fs::path> generate(const std::string& scenario, const fs::path& out) {
    const std::string bin = KORVANE_BINARY_DIR;
    const std::string command = std::string(MUXGEN_EXECUTABLE) + " -o " + out.string() +
                                " --cache " + bin + "/muxgen-test/es-cache " +
                                MUXGEN_SCENARIO_DIR "/" + scenario + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::map<int32_t, fs::path> files;
    for (const auto& entry : fs::directory_iterator(out))
        if (entry.path().extension() == ".ts")
            files[std::stoi(entry.path().stem().string())] = entry.path();
    return files;
}

TEST(ScanOfGeneratedMultiplexes, ReadsTogetherGiveTheChannelFileOfReadsOneAfterTheOther) {
    const fs::path root =
        fs::path(KORVANE_BINARY_DIR) / "muxgen-test" / ("scan-" + std::to_string(getpid()));
    for (const char* scenario :
         {"small.mux", "demo_city.mux", "decoders.mux", "faults.mux", "pmt_change.mux"}) {
        SCOPED_TRACE(scenario);
        const fs::path out = root / scenario;
        fs::create_directories(out);
        const auto files = generate(scenario, out);
        ASSERT_FALSE(files.empty());
        ChannelList before;
        ChannelList together;
        ScanState beforeState;
        ScanState togetherState;
        NoTuner tuner;
        for (const auto& [frequency, path] : files) {
            RecordedAir air(path.string());
            scanOneAfterTheOther(before, beforeState, air, frequency);
            scanFrequency(together, togetherState, air, tuner, frequency);
        }
        EXPECT_GT(together.size(), 0u);
        EXPECT_EQ(beforeState.pendingNit, togetherState.pendingNit);
        if (!beforeState.pendingNit.empty()) {
            applyLogicalChannelNumbers(before, beforeState.pendingNit);
            applyLogicalChannelNumbers(together, togetherState.pendingNit);
        }
        EXPECT_EQ(formatChannelFile(together.snapshot()), formatChannelFile(before.snapshot()));
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

} // namespace
