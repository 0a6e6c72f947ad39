#pragma once

// The one filter graph of the run, built once at start-up into mediaGraph():
//
//   "Fake" (network provider) -> tuner ("Clé USB", or "Network Tuner" -> "Receiver
//   Component") -> "Grabber" (sample grabber) -> "Demux", whose six outputs feed
//   "video" -> decoder -> "Mon VMR", "son" -> decoder -> "Direct sound",
//   "ac3" -> decoder -> "Direct sound le retour", "data" -> "MPEG2 data",
//   "epg" -> "Mon filtre EPG", "pmt" -> "Mon filtre PMT".
//
// Every failure is shown (error box owned by the main window) by the step that failed; a
// branch failure adds the branch's second message and "Erreur lors de la création du graph".

#include "dshow/com_ptr.h"
#include "graph/media_graph.h"

namespace korvane {

// Builds and runs the graph from the tuner (and receiver) that the device check bound.
// 0 when built and running, 1 on any failure (filters added so far stay in the graph).
int buildGraph();

// The steps of buildGraph: the graph manager, the network provider, the tuner (and receiver),
// its tuning and statistics interfaces, the sample grabber and the demultiplexer, connected
// in that order (0, or 1 after the message); then the demultiplexer's outputs; then the run.
int buildSourceChain();
int runGraph();

// Ends a recording, stops the graph and every filter in it, and releases every reference
// the graph holds. Safe after a build that failed half-way, and when called again.
void tearDownGraph();

// The allocator-presenter and the renderer's notification interface are kept for the whole
// run, past the teardown; they go at the very end, before COM is uninitialised.
void releaseVideoPresenter();

// The six outputs of the demultiplexer and what hangs on them; 0 or 1.
int renderDemuxOutputs();
int buildVideoBranch(IMpeg2Demultiplexer* demux);
int buildAudioBranch(IMpeg2Demultiplexer* demux);
int buildAc3Branch(IMpeg2Demultiplexer* demux);
int buildSectionDataBranch(IMpeg2Demultiplexer* demux);
int buildEpgBranch(IMpeg2Demultiplexer* demux);
int buildPmtBranch(IMpeg2Demultiplexer* demux);

// A new in-process object of the class added to the graph under name; empty when it could
// not be created or added (nothing is shown).
ComPtr<IBaseFilter> addFilterByClsid(REFCLSID clsid, const wchar_t* name);
// The filter's first pin of that direction, in EnumPins order.
ComPtr<IPin> findPin(IBaseFilter* filter, PIN_DIRECTION direction);
// ConnectDirect from the upstream filter's first output to the downstream one's first input,
// with no media type; a missing pin fails.
HRESULT connectFilters(IBaseFilter* upstream, IBaseFilter* downstream);

} // namespace korvane
