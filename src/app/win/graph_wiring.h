#pragma once

// The media graph wired to the shell: the configuration's devices and settings, error boxes
// for its failures, the main window for the decoders' notifications, the system clock, the
// channel file and the recordings' sample grabber.

#include "app/app_config.h"
#include "graph/graph_builder.h"

namespace korvane {

// Shows each failure in an error box, in order.
class ErrorBoxReporter : public GraphErrorReporter {
  public:
    void report(const wchar_t* text) override;
};

// The configured tuner (and receiver) into graph.tuner and graph.receiver; false (nothing
// kept) when they are not all there.
bool selectDevices(const AppConfig& config, MediaGraph& graph);

GraphSettings graphSettings(const AppConfig& config);

// The configuration's settings, the main window, the process-wide channel list, notifier,
// clock and channel file, and the recordings' grabber hook; failures go to errors.
GraphSetup graphSetup(GraphErrorReporter& errors);

// The writer of chaines.xml for the PMT decoder and the scan; a failed save is told once
// through the main window (kChannelFileWriteFailedMessage) until a save succeeds again.
ChannelFileSaver& channelFileSaver();

// buildGraph with graphSetup, its failures in error boxes.
GraphStatus buildSessionGraph();

// The main window took the guide's update message: the next update posts another. Called
// before the window acts on it, so an update arriving meanwhile is not lost.
void guideUpdateReceived();

// Ends a running recording, then tears the graph down.
void tearDownSessionGraph();

} // namespace korvane
