#pragma once

#include "app/channel_switch.h"
#include "capture/recorder.h"
#include "channels/channel_list.h"

namespace korvane {

// What a channel recording keeps of the channel: its picture (MPEG-2, else H.264) and the
// audio track being heard, with their codecs; for a transport stream also its PMT, for a
// program stream its PCR PID. mode is ChannelTs or ChannelPs.
RecorderSettings channelRecordingSettings(RecorderMode mode, const ChannelInfo& channel,
                                          AudioTrack track);

} // namespace korvane
