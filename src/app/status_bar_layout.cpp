#include "app/status_bar_layout.h"

namespace korvane {

std::array<int, kStatusBarParts> statusBarEdges(int width) {
    int extra = width > 500 ? (width - 500) / 2 : 0;
    return {100, 160, 300 + extra, 360 + extra, -1};
}

} // namespace korvane
