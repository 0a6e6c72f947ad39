#pragma once

// The one filter graph of the run, built once at start-up into mediaGraph():
//
//   "Fake" (network provider) -> tuner ("Clé USB", or "Network Tuner" -> "Receiver
//   Component") -> "Grabber" (sample grabber) -> "Demux", whose six outputs feed
//   "video" -> decoder -> "Mon VMR", "son" -> decoder -> "Direct sound",
//   "ac3" -> decoder -> "Direct sound le retour", "data" -> "MPEG2 data",
//   "epg" -> "Mon filtre EPG", "pmt" -> "Mon filtre PMT"; then two more outputs for today's
//   broadcasts: "h264" -> decoder -> "Mon VMR" (its second stream), "eac3" -> decoder ->
//   "Direct sound E-AC3". Without a decoder for them the graph plays the rest and one
//   message names what is missing.
//
// Every failure is reported by the step that failed; a branch failure adds the branch's
// second message and "Erreur lors de la création du graph".

#include "graph/filter_links.h"
#include "graph/graph_setup.h"
#include "graph/media_graph.h"
#include "graph/video_renderer.h"

namespace korvane {

// Builds and runs the graph from the tuner (and receiver) that the device check bound.
// Failed on any failure (filters added so far stay in the graph).
GraphStatus buildGraph(const GraphSetup& setup);

// The steps of buildGraph: the graph manager, the network provider, the tuner (and receiver),
// its tuning and statistics interfaces, the sample grabber and the demultiplexer, connected
// in that order; then the demultiplexer's outputs; then the run.
GraphStatus buildSourceChain(const GraphSetup& setup);
// The run: Failed, reported to errors when given, when the graph does not start. The graph's
// events are posted to eventWindow (when given) as kGraphEventMessage.
GraphStatus runGraph(GraphErrorReporter* errors = nullptr, HWND eventWindow = nullptr);

// Stops the graph and every filter in it, and releases every reference the graph holds.
// Safe after a build that failed half-way, and when called again.
void tearDownGraph();

// The six outputs of the demultiplexer and what hangs on them.
GraphStatus renderDemuxOutputs(const GraphSetup& setup);
GraphStatus buildVideoBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup);
GraphStatus buildAudioBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup);
GraphStatus buildAc3Branch(IMpeg2Demultiplexer* demux, const GraphSetup& setup);
GraphStatus buildSectionDataBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup);
GraphStatus buildEpgBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup);
GraphStatus buildPmtBranch(IMpeg2Demultiplexer* demux, const GraphSetup& setup);

} // namespace korvane
