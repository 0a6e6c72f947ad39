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

// Shows one of the renderer's two streams and hides the other (alpha 0, behind), without
// stopping anything; remembered in graph.shownVideo.
void showVideoStream(MediaGraph& graph, VideoStream stream);
// The same for the stream that carries the channel's picture; called after every channel
// switch and after a change of the channel's streams.
void showChannelVideo(MediaGraph& graph, const ChannelInfo& channel);
// The renderer's input pin of the stream on screen, empty when there is none.
ComPtr<IPin> shownVideoInput(MediaGraph& graph);

// The allocator-presenter and the renderer's notification interface are kept for the whole
// run, past the teardown; they go at the very end, before COM is uninitialised.
void releaseVideoPresenter();

} // namespace korvane
