#include "graph/graph_builder.h"

#include <algorithm>
#include <vector>

namespace korvane {

namespace {

// The filters of the graph, the most downstream first, so that a thread blocked delivering
// into a paused filter is released before its upstream filter waits for it.
std::vector<ComPtr<IBaseFilter>> filtersDownstreamFirst(IFilterGraph* graph) {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> all;
    if (FAILED(graph->EnumFilters(all.put())) || !all)
        return filters;
    for (;;) {
        ComPtr<IBaseFilter> filter;
        if (all->Next(1, filter.put(), nullptr) != S_OK || !filter)
            break;
        filters.push_back(filter);
    }
    // A filter goes once every filter its outputs feed is already in the order.
    auto feedsPending = [&](IBaseFilter* filter, const std::vector<IBaseFilter*>& pending) {
        ComPtr<IEnumPins> pins;
        if (FAILED(filter->EnumPins(pins.put())) || !pins)
            return false;
        for (;;) {
            ComPtr<IPin> pin;
            if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
                return false;
            PIN_DIRECTION direction;
            ComPtr<IPin> peer;
            if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT ||
                FAILED(pin->ConnectedTo(peer.put())) || !peer)
                continue;
            PIN_INFO info{};
            if (FAILED(peer->QueryPinInfo(&info)))
                continue;
            ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::adopt(info.pFilter);
            for (IBaseFilter* other : pending)
                if (other != filter && other == owner.get())
                    return true;
        }
    };
    std::vector<ComPtr<IBaseFilter>> ordered;
    std::vector<IBaseFilter*> pending;
    for (const auto& filter : filters)
        pending.push_back(filter.get());
    while (!pending.empty()) {
        auto next = std::find_if(pending.begin(), pending.end(),
                                 [&](IBaseFilter* f) { return !feedsPending(f, pending); });
        // A loop of connections cannot be ordered: take the rest as they come.
        if (next == pending.end())
            next = pending.begin();
        ordered.push_back(ComPtr<IBaseFilter>(*next));
        pending.erase(next);
    }
    return ordered;
}

// The graph's Stop can leave filters paused (after a Run that failed half-way the graph
// manager may think it never left Stopped): every filter is stopped itself as well.
void stopEveryFilter(IFilterGraph* graph) {
    for (const auto& filter : filtersDownstreamFirst(graph))
        filter->Stop();
}

} // namespace

void tearDownGraph() {
    MediaGraph& graph = mediaGraph();
    if (graph.mediaControl)
        graph.mediaControl->Stop();
    if (graph.mediaEvent)
        graph.mediaEvent->SetNotifyWindow(0, 0, 0);
    if (graph.graph)
        stopEveryFilter(graph.graph.get());
    // Only now that nothing streams may the grabber's callback change.
    if (graph.grabber)
        graph.grabber->SetCallback(nullptr, 0);
    graph.sectionData.reset();
    graph.windowlessControl.reset();
    graph.graph.reset();
    graph.videoCodec.reset();
    graph.audioCodec.reset();
    graph.ac3Codec.reset();
    graph.videoPidMap.reset();
    graph.audioPidMap.reset();
    graph.ac3PidMap.reset();
    graph.pmtPidMap.reset();
    graph.h264Codec.reset();
    graph.eac3Codec.reset();
    graph.h264PidMap.reset();
    graph.eac3PidMap.reset();
    graph.subtitlePidMap.reset();
    graph.subtitles = nullptr;
    graph.subtitleFilter.reset();
    graph.shownVideo = VideoStream::Mpeg2;
    graph.demux.reset();
    graph.vmr.reset();
    graph.audioRenderer.reset();
    graph.ac3Renderer.reset();
    graph.eac3Renderer.reset();
    graph.tuner.reset();
    graph.receiver.reset();
    graph.signalStatistics.reset();
    graph.frequencyFilter.reset();
    graph.deviceControl.reset();
    graph.grabber.reset();
    graph.mediaControl.reset();
    graph.mediaEvent.reset();
}

} // namespace korvane
