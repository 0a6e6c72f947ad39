#include "app/win/graph_ports.h"

#include "graph/tuning.h"

#include <algorithm>

namespace korvane {

int GraphTuner::tuneFrequency(int32_t frequency) {
    korvane::tuneFrequency(graph_, frequency);
    return 0;
}

void DemuxPidMap::mapPid(int32_t pid, PidContent content) {
    if (!map_)
        return;
    ULONG value = static_cast<ULONG>(pid);
    map_->MapPID(1, &value, content == PidContent::Psi ? MEDIA_MPEG2_PSI : MEDIA_ELEMENTARY_STREAM);
}

void DemuxPidMap::unmapPid(int32_t pid) {
    if (!map_)
        return;
    ULONG value = static_cast<ULONG>(pid);
    map_->UnmapPID(1, &value);
}

std::vector<int32_t> DemuxPidMap::mappedPids(std::size_t max) {
    std::vector<int32_t> pids;
    if (!map_ || max == 0)
        return pids;
    ComPtr<IEnumPIDMap> entries;
    if (FAILED(map_->EnumPIDMap(entries.put())) || !entries)
        return pids;
    std::vector<PID_MAP> fetched(max);
    ULONG count = 0;
    // One call; S_FALSE only says that fewer than asked were there.
    if (FAILED(entries->Next(static_cast<ULONG>(max), fetched.data(), &count)))
        return pids;
    count = std::min<ULONG>(count, static_cast<ULONG>(max));
    for (ULONG i = 0; i < count; ++i)
        pids.push_back(static_cast<int32_t>(fetched[i].ulPID));
    return pids;
}

GraphOutputs::GraphOutputs(MediaGraph& graph)
    : video_(graph.videoPidMap.get()), audio_(graph.audioPidMap.get()), ac3_(graph.ac3PidMap.get()),
      pmt_(graph.pmtPidMap.get()), h264_(graph.h264PidMap.get()),
      eac3_(graph.eac3PidMap.get()), outputs_{graph.videoPidMap ? &video_ : nullptr,
                                              graph.audioPidMap ? &audio_ : nullptr,
                                              graph.ac3PidMap ? &ac3_ : nullptr,
                                              graph.pmtPidMap ? &pmt_ : nullptr,
                                              graph.h264PidMap ? &h264_ : nullptr,
                                              graph.eac3PidMap ? &eac3_ : nullptr} {}

} // namespace korvane
