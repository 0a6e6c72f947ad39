#include "graph/tuning.h"

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

void findTuningInterfaces(MediaGraph& graph, GraphErrorReporter& errors) {
    if (!graph.tuner)
        return;
    graph.deviceControl = graph.tuner.as<IBDA_DeviceControl>();
    if (!graph.deviceControl) {
        errors.report(L"IBDA_DeviceControl");
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

} // namespace korvane
