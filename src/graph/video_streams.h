#pragma once

// The video renderer mixes two input streams: the MPEG-2 decoder's and the H.264 decoder's.
// Only the stream of the channel being watched is visible, so that the other decoder's last
// picture never stays on screen after a zap. Portable: the graph applies it, the native
// tests check it.

#include "channels/channel_list.h"

#include <cstdint>

namespace korvane {

enum class VideoStream : uint8_t { Mpeg2, H264 };

// The renderer's stream index of each decoder.
inline constexpr uint32_t kMpeg2StreamIndex = 0;
inline constexpr uint32_t kH264StreamIndex = 1;
inline constexpr uint32_t kVideoStreamCount = 2;

inline uint32_t streamIndex(VideoStream stream) {
    return stream == VideoStream::H264 ? kH264StreamIndex : kMpeg2StreamIndex;
}

// The stream that carries a channel's picture: MPEG-2 whenever the channel has an MPEG-2
// video PID (also when it lists an H.264 one), H.264 when that is its only video, and
// MPEG-2 for a channel without video (radio), as before H.264 was known.
inline VideoStream channelVideoStream(const ChannelInfo& channel) {
    if (channel.videoPid == 0 && channel.videoMpeg4Pid != 0)
        return VideoStream::H264;
    return VideoStream::Mpeg2;
}

// Per-stream mixer settings that show one stream and hide the other: alpha 1 and the front
// place for the shown one, alpha 0 behind it for the hidden one.
struct StreamMix {
    uint32_t stream = 0;
    float alpha = 0;
    uint32_t zOrder = 0;
    friend bool operator==(const StreamMix&, const StreamMix&) = default;
};
struct VideoMix {
    StreamMix shown;
    StreamMix hidden;
    friend bool operator==(const VideoMix&, const VideoMix&) = default;
};
inline VideoMix videoMixFor(VideoStream shown) {
    const VideoStream hidden = shown == VideoStream::H264 ? VideoStream::Mpeg2 : VideoStream::H264;
    // A lower Z order is nearer the viewer.
    return VideoMix{{streamIndex(shown), 1.0f, 0}, {streamIndex(hidden), 0.0f, 1}};
}

} // namespace korvane
