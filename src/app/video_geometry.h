#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// A rectangle in the main window's client coordinates.
struct VideoRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    friend bool operator==(const VideoRect&, const VideoRect&) = default;
};

// The client area the picture may use: (0, 0, clientRight, clientBottom - statusBarHeight).
VideoRect videoArea(int32_t clientRight, int32_t clientBottom, int32_t statusBarHeight);

// Where the renderer draws the picture. In full-width mode the area becomes a 4:3 area as wide
// as the window, centred vertically (it may reach above and below the client area); the zoomed
// area is then centred on it. Signed arithmetic with truncating divisions; values past the
// 32-bit range are held at its ends instead of wrapping.
VideoRect videoDestination(const VideoRect& area, bool fullWidth, int32_t zoomPercent);

// The picture's aspect ratio, 4:3 when either term is unknown (0).
struct AspectRatio {
    uint32_t x = 4;
    uint32_t y = 3;
};
AspectRatio aspectOrDefault(uint32_t x, uint32_t y);

// The part of the area the letterboxed picture covers: bars above and below when the area is
// taller than the picture, at the sides when it is wider (not in full-width mode, where the
// picture fills the width). The quotients are unsigned, as the renderer's are.
VideoRect pictureArea(const VideoRect& area, AspectRatio aspect, bool fullWidth);

// The on-screen text height: a twelfth of the smaller of the area's right and bottom edges.
int32_t osdFontHeight(const VideoRect& picture);

// Which on-screen texts are due at tick `now`: each lasts 3000 ms after its change. Ticks are
// compared by unsigned subtraction, so the counter's wrap is harmless.
struct OsdVisibility {
    bool name = false;
    bool volume = false;
    bool zoom = false;
};
inline constexpr uint32_t kOsdDisplayMs = 3000;
OsdVisibility osdVisibility(uint32_t now, uint32_t channelShownAt, uint32_t volumeShownAt,
                            uint32_t zoomShownAt);

// What the paint handler knows when it draws the on-screen display.
struct OsdState {
    OsdVisibility visible;
    bool muted = false;
    int32_t volume = 0; // hundredths of a decibel, -10000 ... 0
    int32_t zoomPercent = 100;
    std::string_view channelName;  // 8-bit
    std::string_view presentTitle; // 8-bit; empty view when the channel has no present event
    bool hasPresent = false;
};

// One text of the on-screen display, right-aligned on x or left-aligned from it.
struct OsdText {
    std::string text; // 8-bit
    int32_t x = 0;
    int32_t y = 0;
    bool alignRight = false;
    friend bool operator==(const OsdText&, const OsdText&) = default;
};

// The texts to paint over the picture area, in painting order: channel name and present title
// at the top right, "Sourdine" at the bottom right, "Volume %i" and "Zoom %i%%" at the bottom
// left, with 10-pixel margins and a line height of fontHeight.
std::vector<OsdText> osdTexts(const OsdState& state, const VideoRect& picture, int32_t fontHeight);

// True when nothing at all is to be painted.
bool osdIdle(const OsdState& state);

} // namespace korvane
