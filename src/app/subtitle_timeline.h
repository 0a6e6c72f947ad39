#pragma once

// When decoded subtitle pictures go on and off the screen, and where their regions land in
// the picture. Times are 90 kHz ticks on the graph's stream-time base, the base the
// demultiplexer stamps the subtitle samples on, like the video's.

#include "app/video_geometry.h"
#include "subtitles/subtitle_decoder.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace korvane {

// A picture further ahead of the clock than this is from another time line (a jump of the
// stream's clock) and is dropped rather than waited for.
inline constexpr int64_t kSubtitleMaxLead = 10 * 90000;
// Pictures waiting for their time, at most; the oldest go first (a graph that does not run).
inline constexpr std::size_t kSubtitleMaxPending = 64;

// Pictures decoded on the streaming thread wait here for their time; the shell advances the
// timeline against the clock and paints what it shows. Not thread-safe: the owner locks.
class SubtitleTimeline {
  public:
    // Forgets everything; from now on only pictures of this generation are taken (those of a
    // stream left before still on their way are dropped).
    void restart(uint32_t generation);
    void add(uint32_t generation, SubtitlePicture picture);

    // Shows the latest picture due at `now` (one with no regions clears), and clears the one
    // shown at its time-out. True when what is shown changed.
    bool advance(int64_t now);
    // What is on screen, or null.
    const SubtitlePicture* shown() const { return shown_ ? &*shown_ : nullptr; }
    // When advance has something to do next: the earliest pending time or the shown
    // picture's time-out; nothing when neither exists.
    std::optional<int64_t> nextChange() const;

  private:
    uint32_t generation_ = 0;
    std::deque<SubtitlePicture> pending_;
    std::optional<SubtitlePicture> shown_;
    std::optional<int64_t> shownUntil_;
};

// Where a region of a display of displayWidth x displayHeight goes when the display is
// stretched over the picture rectangle (a display without a size counts as 720 x 576).
VideoRect subtitleRegionArea(const SubtitleRegion& region, int displayWidth, int displayHeight,
                             const VideoRect& picture);

// A region's pixels as 0x00RRGGBB rows, each transparent pixel (alpha under one half, an
// index past the palette or a pixel missing from the region) set to `key`, a colour no
// opaque pixel of the region has.
struct SubtitleBitmap {
    std::vector<uint32_t> pixels;
    uint32_t key = 0;
};
SubtitleBitmap subtitleBitmap(const SubtitleRegion& region);

} // namespace korvane
