#include "graph/media_graph.h"

namespace korvane {

MediaGraph& mediaGraph() {
    static MediaGraph graph;
    return graph;
}

} // namespace korvane
