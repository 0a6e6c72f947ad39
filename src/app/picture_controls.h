#pragma once

#include <cstdint>

namespace korvane {

// Zoom commands: one percent a step, from 1 to 200 once a command changed it.
inline constexpr int32_t kMaxZoomPercent = 200;
int32_t zoomedIn(int32_t zoomPercent);
int32_t zoomedOut(int32_t zoomPercent);

// Volume in hundredths of a decibel: 0 is full volume, -10000 silence, steps of 1 dB.
inline constexpr int32_t kSilentVolume = -10000;
int32_t volumeStepped(int32_t volume, bool up);
// The figure shown by "Volume %i": 0 ... 100.
int32_t volumeShown(int32_t volume);

struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// A press point whose x is -1 stands for "no accepted press".
inline constexpr int32_t kNoPress = -1;
// A press within 50 ms of the window getting the focus is the click that activated it and
// does not count.
inline constexpr uint32_t kActivationClickMs = 50;
// A release on the press point starts a 300 ms wait; a double click within it wins.
inline constexpr uint32_t kSingleClickMs = 300;

// The press point a left-button press leaves (ticks compared by unsigned subtraction).
ScreenPoint pressPointFor(uint32_t now, uint32_t activatedAt, ScreenPoint cursor);
// Whether a release at `cursor` is a click: it must end where the press began.
bool releaseIsClick(ScreenPoint cursor, ScreenPoint pressPoint);

// Dragging the window by the picture, over the state kept in AppState. `origin` is the window
// rectangle's top-left corner; `x` and `y` are the mouse message's client coordinates taken as
// unsigned 16-bit halves. Returns the window's new top-left corner when it is to move.
struct DragMove {
    bool move = false;
    ScreenPoint to;
};
DragMove dragStep(bool& dragging, ScreenPoint& last, bool buttonDown, bool fullScreen,
                  ScreenPoint origin, uint16_t x, uint16_t y);

// The full-screen cursor: hidden on entering, shown by mouse movement and hidden again by the
// 3-second timer, always visible after leaving. Each step updates the `revealed` flag and
// returns the change to make to the platform's show/hide counter (+1 show, -1 hide, 0 none),
// so that every show has its hide.
inline constexpr uint32_t kCursorHideMs = 3000;
int cursorOnEnter(bool& revealed);
// Mouse movement in full screen; the caller then (re)starts the hide timer.
int cursorOnMove(bool& revealed);
// The hide timer expired.
int cursorOnTimer(bool& revealed);
// Leaving full screen; `killTimer` is set when the hide timer is still pending.
int cursorOnLeave(bool& revealed, bool& killTimer);

} // namespace korvane
