#include "app/picture_controls.h"

namespace korvane {

int32_t zoomedIn(int32_t zoomPercent) {
    return zoomPercent >= kMaxZoomPercent ? kMaxZoomPercent : zoomPercent + 1;
}

int32_t zoomedOut(int32_t zoomPercent) {
    return zoomPercent <= 1 ? 1 : zoomPercent - 1;
}

int32_t volumeStepped(int32_t volume, bool up) {
    if (up)
        return volume < 0 ? volume + 100 : volume;
    return volume >= kSilentVolume + 1 ? volume - 100 : volume;
}

int32_t volumeShown(int32_t volume) {
    return (volume - kSilentVolume) / 100;
}

ScreenPoint pressPointFor(uint32_t now, uint32_t activatedAt, ScreenPoint cursor) {
    if (uint32_t(now - activatedAt) <= kActivationClickMs)
        return ScreenPoint{kNoPress, 0};
    return cursor;
}

bool releaseIsClick(ScreenPoint cursor, ScreenPoint pressPoint) {
    return cursor == pressPoint;
}

DragMove dragStep(bool& dragging, ScreenPoint& last, bool buttonDown, bool fullScreen,
                  ScreenPoint origin, uint16_t x, uint16_t y) {
    if (fullScreen || !buttonDown) {
        dragging = false;
        return {};
    }
    const ScreenPoint p{origin.x + x, origin.y + y};
    DragMove move;
    if (dragging)
        move = DragMove{true, ScreenPoint{origin.x + p.x - last.x, origin.y + p.y - last.y}};
    last = p;
    dragging = true;
    return move;
}

int cursorOnEnter(bool& revealed) {
    revealed = false;
    return -1;
}

int cursorOnMove(bool& revealed) {
    const int change = revealed ? 0 : 1;
    revealed = true;
    return change;
}

int cursorOnTimer(bool& revealed) {
    if (!revealed)
        return 0;
    revealed = false;
    return -1;
}

int cursorOnLeave(bool& revealed, bool& killTimer) {
    killTimer = revealed;
    if (revealed) {
        revealed = false;
        return 0;
    }
    return 1;
}

} // namespace korvane
