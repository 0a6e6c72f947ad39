#include "app/recorded_streams.h"

namespace korvane {

RecorderSettings channelRecordingSettings(RecorderMode mode, const ChannelInfo& channel,
                                          AudioTrack track) {
    const bool mpeg2 = channel.videoPid != 0;
    const int32_t video = mpeg2 ? channel.videoPid : channel.videoMpeg4Pid;
    const HeardAudio audio = heardAudio(channel, track);
    if (mode == RecorderMode::ChannelTs)
        return RecorderSettings::channelTs(channel.pmtPid, video, audio.pid);
    return RecorderSettings::channelPs(video, audio.pid, channel.pcrPid,
                                       mpeg2 ? VideoCodec::Mpeg2 : VideoCodec::H264, audio.codec);
}

} // namespace korvane
