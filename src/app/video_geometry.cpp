#include "app/video_geometry.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace korvane {

namespace {

// Each step is computed in 64 bits and held to the 32-bit range, so a zoom or window size
// from a damaged config.ini can never overflow; within range this is plain 32-bit arithmetic.
int32_t held(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::string formatted(const char* format, int32_t value) {
    char text[64];
    int n = std::snprintf(text, sizeof text, format, static_cast<int>(value));
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

} // namespace

VideoRect videoArea(int32_t clientRight, int32_t clientBottom, int32_t statusBarHeight) {
    return VideoRect{0, 0, clientRight, held(int64_t{clientBottom} - statusBarHeight)};
}

VideoRect videoDestination(const VideoRect& area, bool fullWidth, int32_t zoomPercent) {
    VideoRect r = area;
    if (fullWidth) {
        const int32_t h = held(3 * int64_t{r.right} / 4);
        r.top = held(r.top - (int64_t{h} - r.bottom) / 2);
        r.bottom = held(int64_t{r.top} + h);
    }
    const int32_t w = held(int64_t{r.right} - r.left);
    const int32_t h = held(int64_t{r.bottom} - r.top);
    const int32_t zw = held(int64_t{zoomPercent} * w / 100);
    const int32_t zh = held(int64_t{zoomPercent} * h / 100);
    r.left = held(r.left - (int64_t{zw} - w) / 2);
    r.right = held(int64_t{r.left} + zw);
    r.top = held(r.top - (int64_t{zh} - h) / 2);
    r.bottom = held(int64_t{r.top} + zh);
    return r;
}

AspectRatio aspectOrDefault(uint32_t x, uint32_t y) {
    if (x == 0 || y == 0)
        return AspectRatio{};
    return AspectRatio{x, y};
}

VideoRect pictureArea(const VideoRect& area, AspectRatio aspect, bool fullWidth) {
    VideoRect r = area;
    // Nothing to trim in an empty area (a window shorter than its status bar).
    if (r.right <= 0 || r.bottom <= 0)
        return r;
    aspect = aspectOrDefault(aspect.x, aspect.y);
    const int64_t d = int64_t{aspect.x} * r.bottom - int64_t{aspect.y} * r.right;
    if (d > 0) {
        const uint64_t height = uint64_t(uint32_t(r.right)) * aspect.y / aspect.x;
        const int32_t m = held((r.bottom - int64_t(height)) / 2);
        r.top += m;
        r.bottom -= m;
    } else if (d < 0 && !fullWidth) {
        const uint64_t width = uint64_t(uint32_t(r.bottom)) * aspect.x / aspect.y;
        const int32_t m = held((r.right - int64_t(width)) / 2);
        r.left += m;
        r.right -= m;
    }
    return r;
}

int32_t osdFontHeight(const VideoRect& picture) {
    return std::min(picture.right, picture.bottom) / 12;
}

OsdVisibility osdVisibility(uint32_t now, uint32_t channelShownAt, uint32_t volumeShownAt,
                            uint32_t zoomShownAt) {
    return OsdVisibility{uint32_t(now - channelShownAt) < kOsdDisplayMs,
                         uint32_t(now - volumeShownAt) < kOsdDisplayMs,
                         uint32_t(now - zoomShownAt) < kOsdDisplayMs};
}

bool osdIdle(const OsdState& state) {
    return !state.visible.name && !state.visible.volume && !state.visible.zoom && !state.muted;
}

std::vector<OsdText> osdTexts(const OsdState& state, const VideoRect& picture, int32_t fontHeight) {
    const int32_t f = fontHeight;
    const int32_t right = held(int64_t{picture.right} - 10);
    const int32_t left = held(int64_t{picture.left} + 10);
    const int32_t twoLinesUp = held(picture.bottom - 2 * int64_t{f});
    std::vector<OsdText> texts;
    if (state.visible.name) {
        texts.push_back({std::string(state.channelName), right, picture.top, true});
        if (state.hasPresent)
            texts.push_back(
                {std::string(state.presentTitle), right, held(int64_t{picture.top} + f), true});
    }
    if (state.muted)
        texts.push_back({"Sourdine", right, twoLinesUp, true});
    if (state.visible.volume)
        texts.push_back(
            {formatted("Volume %i", (state.volume + 10000) / 100), left, twoLinesUp, false});
    if (state.visible.zoom)
        texts.push_back({formatted("Zoom %i%%", state.zoomPercent), left,
                         held(picture.bottom - 3 * int64_t{f}), false});
    return texts;
}

} // namespace korvane
