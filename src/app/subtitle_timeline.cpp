#include "app/subtitle_timeline.h"

#include <algorithm>

namespace korvane {

void SubtitleTimeline::restart(uint32_t generation) {
    generation_ = generation;
    pending_.clear();
    shown_.reset();
    shownUntil_.reset();
}

void SubtitleTimeline::add(uint32_t generation, SubtitlePicture picture) {
    if (generation != generation_)
        return;
    if (pending_.size() >= kSubtitleMaxPending)
        pending_.pop_front();
    pending_.push_back(std::move(picture));
}

bool SubtitleTimeline::advance(int64_t now) {
    bool changed = false;
    std::optional<SubtitlePicture> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->pts <= now) {
            // A later display set replaces an earlier one due at the same moment.
            if (!due || it->pts >= due->pts)
                due = std::move(*it);
            it = pending_.erase(it);
        } else if (it->pts - now > kSubtitleMaxLead) {
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    if (due) {
        changed = shown_.has_value() || !due->regions.empty();
        shownUntil_.reset();
        if (due->regions.empty()) {
            shown_.reset();
        } else {
            if (due->timeoutMs)
                shownUntil_ = due->pts + int64_t(due->timeoutMs) * 90;
            shown_ = std::move(due);
        }
    }
    if (shown_ && shownUntil_ && now >= *shownUntil_) {
        shown_.reset();
        shownUntil_.reset();
        changed = true;
    }
    return changed;
}

std::optional<int64_t> SubtitleTimeline::nextChange() const {
    std::optional<int64_t> next = shown_ ? shownUntil_ : std::nullopt;
    for (const SubtitlePicture& picture : pending_)
        if (!next || picture.pts < *next)
            next = picture.pts;
    return next;
}

VideoRect subtitleRegionArea(const SubtitleRegion& region, int displayWidth, int displayHeight,
                             const VideoRect& picture) {
    if (displayWidth <= 0 || displayHeight <= 0) {
        displayWidth = 720;
        displayHeight = 576;
    }
    const int64_t width = int64_t(picture.right) - picture.left;
    const int64_t height = int64_t(picture.bottom) - picture.top;
    auto across = [&](int64_t x) { return int32_t(picture.left + x * width / displayWidth); };
    auto down = [&](int64_t y) { return int32_t(picture.top + y * height / displayHeight); };
    return VideoRect{across(region.x), down(region.y), across(int64_t(region.x) + region.width),
                     down(int64_t(region.y) + region.height)};
}

namespace {

bool opaque(uint32_t argb) {
    return (argb >> 24) >= 0x80;
}

// The first of a few colours, then any, that no opaque palette entry has.
uint32_t unusedColour(const std::vector<uint32_t>& palette) {
    std::vector<uint32_t> used;
    for (uint32_t argb : palette)
        if (opaque(argb))
            used.push_back(argb & 0xFFFFFF);
    std::sort(used.begin(), used.end());
    for (uint32_t candidate = 0xFF00FF;; candidate = (candidate + 1) & 0xFFFFFF)
        if (!std::binary_search(used.begin(), used.end(), candidate))
            return candidate;
}

} // namespace

SubtitleBitmap subtitleBitmap(const SubtitleRegion& region) {
    SubtitleBitmap bitmap;
    bitmap.key = unusedColour(region.palette);
    if (region.width <= 0 || region.height <= 0)
        return bitmap;
    const std::size_t count = std::size_t(region.width) * std::size_t(region.height);
    bitmap.pixels.assign(count, bitmap.key);
    const std::size_t given = std::min(count, region.pixels.size());
    for (std::size_t i = 0; i < given; ++i) {
        const uint8_t index = region.pixels[i];
        if (index < region.palette.size() && opaque(region.palette[index]))
            bitmap.pixels[i] = region.palette[index] & 0xFFFFFF;
    }
    return bitmap;
}

} // namespace korvane
