#pragma once

// The media graph as the portable channel switch and scan see it: its tuner and the PID maps
// of the demultiplexer's outputs.

#include "app/channel_switch.h"
#include "graph/media_graph.h"
#include "si/scan.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

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

// The outputs of the graph a channel switch drives, for as long as the object lives.
class GraphOutputs {
  public:
    explicit GraphOutputs(MediaGraph& graph);
    const DemuxOutputs& outputs() const { return outputs_; }

  private:
    DemuxPidMap video_, audio_, ac3_, pmt_, h264_, eac3_;
    DemuxOutputs outputs_;
};

} // namespace korvane
