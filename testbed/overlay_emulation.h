#pragma once

// What a video overlay with a destination colour key does, done with GDI on a window: the
// picture shows only where the window shows the key colour (or still shows the picture
// drawn there before), so that whatever the program paints over the picture in another
// colour, its on-screen texts for instance, stays visible above it.

#include "video_picture.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace korvane::testbed {

class OverlayEmulation {
  public:
    // Draws the `source` part of `picture` scaled into `target` (client coordinates) on the
    // window's client DC `dc`, through the colour key `key`.
    void draw(HWND window, HDC dc, const RECT& target, const RECT& source, const Picture& picture,
              COLORREF key);
    // Forgets which pixels hold the picture (another window, another key).
    void reset();

  private:
    // Per client pixel: the picture's pixel drawn there last, or kNotPicture.
    std::vector<uint32_t> drawn_;
    LONG width_ = 0;
    LONG height_ = 0;
};

} // namespace korvane::testbed
