#include "si/scan.h"

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

} // namespace

int scanFrequency(ChannelList& list, ScanState& state, SectionReader& reader, ScanTuner& tuner,
                  int32_t frequency) {
    tuner.tuneFrequency(frequency);
    const std::size_t first = list.size();

    auto sdt = reader.getSection(kSdtPid, kSdtActualTableId, kSdtTimeoutMs);
    if (!sdt)
        return 1;
    decodeSdt(list, sdt->data(), sdt->size(), frequency);

    if (auto pat = reader.getSection(kPatPid, kPatTableId, kPatTimeoutMs))
        decodePat(list, pat->data(), pat->size());

    const std::size_t count = list.size();
    for (std::size_t k = first; k < count; ++k) {
        auto record = list.copyAt(k);
        if (!record)
            break;
        // A channel that the PAT did not name is asked on PID 0, where no PMT ever comes.
        const auto pid = static_cast<uint16_t>(record->pmtPid & 0x1FFF);
        if (auto pmt = reader.getSection(pid, kPmtTableId, kPmtTimeoutMs))
            scanPmt(list, pmt->data(), pmt->size(), k);
    }

    if (state.pendingNit.empty())
        if (auto nit = reader.getSection(kNitPid, kNitActualTableId, kNitTimeoutMs))
            state.pendingNit = std::move(*nit);
    return 0;
}

void scanAllFrequencies(ChannelList& list, ScanState& state,
                        const std::function<FrequencyPlan()>& buildPlan, SectionReader& reader,
                        ScanTuner& tuner, ScanProgress& progress) {
    if (state.scanRunning)
        return;
    state.scanRunning = true;
    const FrequencyPlan plan = buildPlan();
    const int n = static_cast<int>(plan.size());
    progress.setRange(n);
    std::size_t shown = 0;
    for (int i = 0; i < n; ++i) {
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

int runChannelScan(ChannelList& list, ScanState& state, ScanDialog& dialog,
                   ChannelFileSaver& saver) {
    state.scanPending = true;
    dialog.runModal();
    if (list.size() == 0)
        return 1;
    if (!state.pendingNit.empty())
        applyLogicalChannelNumbers(list, state.pendingNit);
    // Every service may leave for lack of video (all PMT reads timed out under a weak
    // signal): an empty file would make every later start fail, so nothing is written.
    if (list.size() == 0)
        return 1;
    saver.saveChannels(list.snapshot());
    return 0;
}

} // namespace korvane
