#pragma once

// Moving from one channel to another: the retune decision, the demultiplexer's PID maps,
// previous/next and typed numbers with the recording rule, and the three audio tracks.
//
// Lock order: the channel list's lock is never held while a PID map or the tuner is
// called. The PMT decoder takes that lock on a streaming thread while the demultiplexer
// holds its own locks, so holding it here across a call into the graph could deadlock.
// Everything below copies what it needs under the lock, releases it, then calls out.

#include "channels/channel_list.h"
#include "si/scan.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvane {

enum class PidContent { ElementaryStream, Psi };

// One demultiplexer output's PID map. Results are not reported: a PID that cannot be
// mapped simply gives no picture or sound.
class PidMap {
  public:
    virtual ~PidMap() = default;
    virtual void mapPid(int32_t pid, PidContent content) = 0;
    virtual void unmapPid(int32_t pid) = 0;
    // The PIDs mapped now, at most `max` of them.
    virtual std::vector<int32_t> mappedPids(std::size_t max) = 0;
};

// The outputs a channel switch drives; an output the graph does not have is null.
struct DemuxOutputs {
    PidMap* video = nullptr;
    PidMap* audio = nullptr;
    PidMap* ac3 = nullptr;
    PidMap* pmt = nullptr;
    PidMap* h264 = nullptr;
    PidMap* eac3 = nullptr;
};

// Which audio track is mapped.
enum class AudioTrack { First, Second, Ac3 };

// At most this many PIDs are fetched, and unmapped, per output in one go.
inline constexpr std::size_t kUnmapBatch = 8;

// Unmaps what the output carries (up to kUnmapBatch PIDs).
void unmapAllPids(PidMap* map);

// The first selection always retunes; later ones only for another frequency.
bool retuneNeeded(std::optional<int32_t> currentFrequency, int32_t newFrequency);

// Switches to the channel at index: unmaps the four outputs, makes it current, retunes when
// needed, maps its video, its first audio (or its AC-3 when preferred and present) and its
// PMT whatever its value. The track becomes the first one, or AC-3. False (nothing done)
// when the index names no channel.
bool switchChannel(ChannelList& list, std::size_t index, bool preferAc3, AudioTrack& track,
                   const DemuxOutputs& outputs, ScanTuner* tuner);

// Previous and next channel, wrapping. While recording only channels on the current
// frequency count, searched outwards from the current one with wrap-around; none gives
// nothing.
std::optional<std::size_t> previousChannelIndex(const ChannelRecords& records, int32_t current,
                                                bool recording);
std::optional<std::size_t> nextChannelIndex(const ChannelRecords& records, int32_t current,
                                            bool recording);

// The number typed so far with one more digit. It stops growing past eight digits, so a
// key held down cannot overflow it; no channel has such a number.
int32_t appendTypedDigit(int32_t typed, int digit);

// The channel a typed number selects: the first with that number; while recording, only
// when that first one is on the current frequency.
std::optional<std::size_t> typedNumberChoice(const ChannelRecords& records, int32_t current,
                                             int32_t number, bool recording);

// "Première piste audio": back from the second track or from AC-3 to the first.
void selectFirstAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                           const DemuxOutputs& outputs);
// "Seconde piste audio" and "Piste AC3": from the first track only, and only when the
// channel has both the first track and the one asked for. False when nothing was done.
bool selectSecondAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                            const DemuxOutputs& outputs);
bool selectAc3Track(const ChannelInfo& channel, AudioTrack& track, const DemuxOutputs& outputs);

struct MenuItemState {
    bool checked = false;
    bool disabled = false; // disabled and grayed
    friend bool operator==(const MenuItemState&, const MenuItemState&) = default;
};

// States of "Première piste audio", "Seconde piste audio" and "Piste AC3".
struct AudioTrackMenu {
    MenuItemState first;
    MenuItemState second;
    MenuItemState ac3;
    friend bool operator==(const AudioTrackMenu&, const AudioTrackMenu&) = default;
};

AudioTrackMenu audioTrackMenu(AudioTrack track, const ChannelInfo& channel);

// The audio being heard, as a recording keeps it: its PID (0 when none) and codec.
struct HeardAudio {
    int32_t pid = 0;
    AudioCodec codec = AudioCodec::Mpeg;
    friend bool operator==(const HeardAudio&, const HeardAudio&) = default;
};

HeardAudio heardAudio(const ChannelInfo& channel, AudioTrack track);

} // namespace korvane
