#include "graph/tuning.h"

#include "common/win/show_error.h"

#include <algorithm>

namespace korvane {

namespace {

constexpr ULONG kMaxNodeTypes = 32;
constexpr ULONG kMaxNodeInterfaces = 32;
constexpr ULONG kBandwidthMHz = 8;

bool nodeListsInterface(IBDA_Topology* topology, ULONG nodeType, REFIID iid) {
    GUID interfaces[kMaxNodeInterfaces] = {};
    ULONG count = 0;
    if (topology->GetNodeInterfaces(nodeType, &count, kMaxNodeInterfaces, interfaces) != S_OK)
        return false;
    count = std::min(count, kMaxNodeInterfaces);
    return std::find(interfaces, interfaces + count, iid) != interfaces + count;
}

} // namespace

void findControlNode(IBaseFilter* tuner, REFIID iid, void** target) {
    *target = nullptr;
    if (!tuner)
        return;
    ComPtr<IBDA_Topology> topology;
    if (FAILED(tuner->QueryInterface(__uuidof(IBDA_Topology), topology.putVoid())) || !topology)
        return;
    ULONG types[kMaxNodeTypes] = {};
    ULONG count = 0;
    if (topology->GetNodeTypes(&count, kMaxNodeTypes, types) != S_OK)
        return;
    count = std::min(count, kMaxNodeTypes);
    for (ULONG i = 0; i < count && !*target; ++i) {
        if (!nodeListsInterface(topology.get(), types[i], iid))
            continue;
        ComPtr<IUnknown> node;
        if (SUCCEEDED(topology->GetControlNode(0, 1, types[i], node.put())) && node)
            if (FAILED(node->QueryInterface(iid, target)))
                *target = nullptr;
    }
}

void findTuningInterfaces(MediaGraph& graph) {
    if (!graph.tuner)
        return;
    graph.deviceControl = graph.tuner.as<IBDA_DeviceControl>();
    if (!graph.deviceControl) {
        showError(L"IBDA_DeviceControl");
        return;
    }
    findControlNode(graph.tuner.get(), graph.frequencyFilter);
}

void findSignalStatistics(MediaGraph& graph) {
    findControlNode(graph.tuner.get(), graph.signalStatistics);
}

void tuneFrequency(MediaGraph& graph, int32_t frequency) {
    IBDA_DeviceControl* control = graph.deviceControl.get();
    IBDA_FrequencyFilter* filter = graph.frequencyFilter.get();
    if (!control || !filter)
        return;
    control->StartChanges();
    filter->put_Bandwidth(kBandwidthMHz);
    filter->put_Frequency(static_cast<ULONG>(frequency));
    control->CheckChanges();
    control->CommitChanges();
}

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
      pmt_(graph.pmtPidMap.get()), outputs_{graph.videoPidMap ? &video_ : nullptr,
                                            graph.audioPidMap ? &audio_ : nullptr,
                                            graph.ac3PidMap ? &ac3_ : nullptr,
                                            graph.pmtPidMap ? &pmt_ : nullptr} {}

} // namespace korvane
