#pragma once

// The tuner's BDA control interfaces and the demultiplexer's PID maps, as the channel
// switch and the scan drive them.

#include "app/channel_switch.h"
#include "graph/media_graph.h"
#include "si/scan.h"

namespace korvane {

// Looks the interface up among the tuner's control nodes (input pin 0, output pin 1) and
// stores it through target: the first node type, in the order the topology lists them,
// whose control node yields it wins. Nothing is stored when the tuner has no topology or no
// such node.
void findControlNode(IBaseFilter* tuner, REFIID iid, void** target);

template <class Interface> void findControlNode(IBaseFilter* tuner, ComPtr<Interface>& field) {
    findControlNode(tuner, __uuidof(Interface), field.putVoid());
}

// The tuning interfaces of the graph's tuner: deviceControl from the tuner itself ("IBDA_
// DeviceControl" is shown when it has none, and the search stops there), then the frequency
// filter from its topology.
void findTuningInterfaces(MediaGraph& graph);
// The signal statistics from the tuner's topology.
void findSignalStatistics(MediaGraph& graph);

// StartChanges, bandwidth 8 MHz, the frequency in kHz, CheckChanges, CommitChanges; the
// results are not looked at.
void tuneFrequency(MediaGraph& graph, int32_t frequency);

// The graph's tuner as the scan and the channel switch see it.
class GraphTuner : public ScanTuner {
  public:
    explicit GraphTuner(MediaGraph& graph) : graph_(graph) {}
    int tuneFrequency(int32_t frequency) override;

  private:
    MediaGraph& graph_;
};

// One demultiplexer output's IMPEG2PIDMap; every call names one PID.
class DemuxPidMap : public PidMap {
  public:
    explicit DemuxPidMap(IMPEG2PIDMap* map) : map_(map) {}
    void mapPid(int32_t pid, PidContent content) override;
    void unmapPid(int32_t pid) override;
    std::vector<int32_t> mappedPids(std::size_t max) override;

  private:
    IMPEG2PIDMap* map_;
};

// The four outputs of the graph a channel switch drives, for as long as the object lives.
class GraphOutputs {
  public:
    explicit GraphOutputs(MediaGraph& graph);
    const DemuxOutputs& outputs() const { return outputs_; }

  private:
    DemuxPidMap video_, audio_, ac3_, pmt_;
    DemuxOutputs outputs_;
};

} // namespace korvane
