#pragma once

// The tuner's BDA control interfaces, as the channel switch and the scan drive them.

#include "graph/graph_errors.h"
#include "graph/media_graph.h"

#include <cstdint>

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
// DeviceControl" is reported when it has none, and the search stops there), then the
// frequency filter from its topology.
void findTuningInterfaces(MediaGraph& graph, GraphErrorReporter& errors);
// The signal statistics from the tuner's topology.
void findSignalStatistics(MediaGraph& graph);

// StartChanges, bandwidth 8 MHz, the frequency in kHz, CheckChanges, CommitChanges; the
// results are not looked at.
void tuneFrequency(MediaGraph& graph, int32_t frequency);

} // namespace korvane
