#pragma once

// The video renderer's settings: renderless with the platform's allocator-presenter, the
// driver's deinterlacing when asked, the window the pictures are clipped to, letterboxing.

#include "graph/graph_setup.h"
#include "graph/media_graph.h"

namespace korvane {

// Between the renderer's insertion into the graph as graph.vmr and its decoder; stores
// graph.windowlessControl. A renderer without the deinterlace control goes on without it,
// after its message.
GraphStatus setUpVideoRenderer(MediaGraph& graph, const GraphSetup& setup);

// The allocator-presenter and the renderer's notification interface are kept for the whole
// run, past the teardown; they go at the very end, before COM is uninitialised.
void releaseVideoPresenter();

} // namespace korvane
