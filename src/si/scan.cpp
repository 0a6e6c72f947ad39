#include "si/scan.h"

#include "common/byte_reader.h"
#include "common/dvb_text.h"
#include "si/nit.h"
#include "si/pat.h"
#include "si/pmt.h"
#include "si/psi_ids.h"
#include "si/sdt.h"

#include <string>

namespace korvane {

namespace {

// Names of the records from index first on, copied under the lock.
std::vector<std::string> namesFrom(ChannelList& list, std::size_t first) {
    std::vector<std::string> names;
    auto access = list.lock();
    for (std::size_t i = first; i < access.size(); ++i)
        names.emplace_back(shownDvbText(access.at(i).name.view()));
    return names;
}

// The PMT of every channel the PAT gave a PID, asked by program_number: programs may share
// one PMT PID, and each must get its own streams.
std::vector<std::pair<std::size_t, SectionRequest>> pmtRequests(const ChannelRecords& found) {
    std::vector<std::pair<std::size_t, SectionRequest>> requests;
    for (std::size_t k = 0; k < found.size(); ++k) {
        const auto pid = static_cast<uint16_t>(found[k].pmtPid & 0x1FFF);
        if (pid == 0)
            continue;
        requests.emplace_back(k, SectionRequest{pid, kPmtTableId,
                                                static_cast<uint16_t>(found[k].sid & 0xFFFF),
                                                kPmtTimeoutMs});
    }
    return requests;
}

void readPmts(ChannelList& found, SectionReader& reader) {
    const auto wanted = pmtRequests(found.snapshot());
    if (wanted.empty())
        return;
    std::vector<SectionRequest> requests;
    for (const auto& w : wanted)
        requests.push_back(w.second);
    const auto pmts = reader.getSections(requests, std::nullopt);
    for (std::size_t i = 0; i < wanted.size() && i < pmts.size(); ++i)
        if (pmts[i])
            scanPmt(found, pmts[i]->data(), pmts[i]->size(), wanted[i].first);
}

// The transport_stream_id a PAT or an SDT names: its table id extension.
std::optional<uint16_t> transportStreamOf(const Section& section) {
    return ByteReader(section.data(), section.size()).u16(3);
}

} // namespace

void ScanStopFlag::request(ScanStop stop) {
    ScanStop current = value_.load();
    while (stop > current && !value_.compare_exchange_weak(current, stop)) {
    }
}

std::vector<std::optional<Section>>
SectionReader::getSections(const std::vector<SectionRequest>& requests,
                           std::optional<std::size_t> leader) {
    std::vector<std::optional<Section>> sections(requests.size());
    if (leader && *leader < requests.size()) {
        sections[*leader] = getSection(requests[*leader]);
        if (!sections[*leader])
            return sections;
    }
    for (std::size_t i = 0; i < requests.size(); ++i)
        if (!leader || i != *leader)
            sections[i] = getSection(requests[i]);
    return sections;
}

int scanFrequency(ChannelList& list, ScanState& state, SectionReader& reader, ScanTuner& tuner,
                  int32_t frequency) {
    if (state.stop.stopped())
        return 1;
    tuner.tuneFrequency(frequency);

    std::vector<SectionRequest> tables = {
        {kSdtPid, kSdtActualTableId, std::nullopt, kSdtTimeoutMs},
        {kPatPid, kPatTableId, std::nullopt, kPatTimeoutMs},
    };
    const bool wantNit = state.pendingNit.empty();
    if (wantNit)
        tables.push_back({kNitPid, kNitActualTableId, std::nullopt, kNitTimeoutMs});
    auto sections = reader.getSections(tables, 0);
    sections.resize(tables.size());
    if (!sections[0] || state.stop.stopped())
        return 1;

    // Read at once after the tune, the PAT can be the previous frequency's, still on its way
    // through the demultiplexer: it names another transport stream and would give this one's
    // channels no PMT. The frequency's own is then asked for by its transport_stream_id.
    const std::optional<uint16_t> tsid = transportStreamOf(*sections[0]);
    if (sections[1] && tsid && transportStreamOf(*sections[1]) != tsid) {
        sections[1] = reader.getSection({kPatPid, kPatTableId, tsid, kPatTimeoutMs});
        if (state.stop.stopped())
            return 1;
    }

    // The frequency's channels are gathered apart, so that a stop leaves none half read.
    ChannelList found;
    decodeSdt(found, sections[0]->data(), sections[0]->size(), frequency);
    if (sections[1])
        decodePat(found, sections[1]->data(), sections[1]->size());
    readPmts(found, reader);
    if (state.stop.stopped())
        return 1;

    for (const ChannelInfo& record : found.snapshot())
        list.append(record);
    if (wantNit && sections[2])
        state.pendingNit = std::move(*sections[2]);
    return 0;
}

void scanAllFrequencies(ChannelList& list, ScanState& state,
                        const std::function<FrequencyPlan()>& buildPlan, SectionReader& reader,
                        ScanTuner& tuner, ScanProgress& progress) {
    if (state.scanRunning)
        return;
    state.scanRunning = true;
    const FrequencyPlan plan = state.stop.stopped() ? FrequencyPlan{} : buildPlan();
    const int n = static_cast<int>(plan.size());
    progress.setRange(n);
    std::size_t shown = 0;
    for (int i = 0; i < n && !state.stop.stopped(); ++i) {
        progress.setPosition(i);
        scanFrequency(list, state, reader, tuner, plan[static_cast<std::size_t>(i)]);
        std::vector<std::string> names = namesFrom(list, shown);
        for (const std::string& name : names)
            if (!name.empty())
                progress.addName(name);
        shown += names.size();
    }
    state.scanPending = false;
    state.scanRunning = false;
    progress.end();
}

int runChannelScan(ChannelList& list, ScanState& state, ScanDialog& dialog, ChannelFileSaver& saver,
                   const std::function<bool(std::size_t)>& keepFound) {
    state.stop.reset();
    state.scanPending = true;
    state.scanActive = true;
    dialog.runModal();
    const std::size_t found = list.size();
    bool keep = state.stop.get() == ScanStop::None ||
                (state.stop.get() == ScanStop::Cancelled && found > 0 && keepFound(found));
    // The program may be asked to end while the question is shown.
    keep = keep && state.stop.get() != ScanStop::Quit;
    state.scanActive = false;
    if (!keep) {
        list.clear();
        state.pendingNit.clear();
        return state.stop.stopped() ? kScanStopped : kScanNothingFound;
    }
    if (found == 0)
        return kScanNothingFound;
    if (!state.pendingNit.empty())
        applyLogicalChannelNumbers(list, state.pendingNit);
    // Every service may leave for lack of video (all PMT reads timed out under a weak
    // signal): an empty file would make every later start fail, so nothing is written.
    if (list.size() == 0)
        return kScanNothingFound;
    saver.saveChannels(list.snapshot());
    return kScanFound;
}

} // namespace korvane
