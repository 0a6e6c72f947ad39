#pragma once

#include <array>

namespace korvane {

inline constexpr int kStatusBarParts = 5;

// Right edges of the five status bar parts for a status bar of the given width: 100, 160,
// 300, 360 and -1 (to the right edge). Wider than 500 pixels, half of the extra width goes
// to the third and fourth edges so the present title gets the room.
std::array<int, kStatusBarParts> statusBarEdges(int width);

} // namespace korvane
