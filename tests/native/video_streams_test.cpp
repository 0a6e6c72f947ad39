#include "graph/video_streams.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(VideoStreams, TheChannelsVideoPidChoosesTheStreamOnScreen) {
    struct Row {
        const char* what;
        int32_t videoPid, videoMpeg4Pid;
        VideoStream expected;
    };
    const Row rows[] = {
        {"MPEG-2 only", 0x100, 0, VideoStream::Mpeg2},
        {"H.264 only", 0, 0x1FF, VideoStream::H264},
        {"both: MPEG-2 keeps its own path", 0x100, 0x1FF, VideoStream::Mpeg2},
        {"radio keeps the MPEG-2 stream", 0, 0, VideoStream::Mpeg2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ChannelInfo channel;
        channel.videoPid = row.videoPid;
        channel.videoMpeg4Pid = row.videoMpeg4Pid;
        EXPECT_EQ(channelVideoStream(channel), row.expected);
    }
}

TEST(VideoStreams, TheShownStreamIsOpaqueInFrontAndTheOtherTransparentBehind) {
    struct Row {
        VideoStream shown;
        VideoMix expected;
    };
    const Row rows[] = {
        {VideoStream::Mpeg2, {{0, 1.0f, 0}, {1, 0.0f, 1}}},
        {VideoStream::H264, {{1, 1.0f, 0}, {0, 0.0f, 1}}},
    };
    for (const Row& row : rows) {
        const VideoMix mix = videoMixFor(row.shown);
        EXPECT_EQ(mix, row.expected);
        EXPECT_EQ(mix.shown.stream, streamIndex(row.shown));
        EXPECT_NE(mix.shown.stream, mix.hidden.stream);
        EXPECT_LT(mix.hidden.stream, kVideoStreamCount);
    }
}

} // namespace
} // namespace korvane
