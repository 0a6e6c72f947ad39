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
#include <string>
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

// Which audio track is mapped: one of the three the PID fields name, or one of the
// channel's further audio streams (see isFurtherAudioStream), named by its PID and codec.
struct AudioTrack {
    enum class Slot : uint8_t { First, Second, Ac3, Stream };
    Slot slot = Slot::First;
    int32_t pid = 0; // the stream's, for Slot::Stream only
    AudioCodec codec = AudioCodec::Mpeg;

    static const AudioTrack First;
    static const AudioTrack Second;
    static const AudioTrack Ac3;
    static constexpr AudioTrack of(const AudioStream& stream) {
        return AudioTrack{Slot::Stream, stream.pid, stream.codec};
    }
    friend bool operator==(const AudioTrack&, const AudioTrack&) = default;
};

inline constexpr AudioTrack AudioTrack::First{AudioTrack::Slot::First};
inline constexpr AudioTrack AudioTrack::Second{AudioTrack::Slot::Second};
inline constexpr AudioTrack AudioTrack::Ac3{AudioTrack::Slot::Ac3, 0, AudioCodec::Ac3};

// At most this many PIDs are fetched, and unmapped, per output in one go.
inline constexpr std::size_t kUnmapBatch = 8;

// Unmaps what the output carries (up to kUnmapBatch PIDs).
void unmapAllPids(PidMap* map);

// The first selection always retunes; later ones only for another frequency.
bool retuneNeeded(std::optional<int32_t> currentFrequency, int32_t newFrequency);

// The channel's E-AC-3 track heard by default: the French main track ("fre" or "fra", not
// a description), else the first main track in another language, else the original
// version ("qaa"), else the first one; the PMT's order breaks ties. Nothing without E-AC-3.
std::optional<AudioStream> defaultEac3Stream(const ChannelInfo& channel);

// The track a channel starts with: AC-3 when preferred and present; else, under the same
// preference, its default E-AC-3 track; else the first track when it has one; else its
// default E-AC-3 track; else the first track (which maps nothing).
AudioTrack defaultAudioTrack(const ChannelInfo& channel, bool preferAc3);

// Switches to the channel at index: unmaps every output, makes it current, retunes when
// needed, maps its video (its H.264 video on the H.264 output when it has no MPEG video),
// its default audio track and its PMT whatever its value. False (nothing done) when the
// index names no channel.
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

// "Première piste audio": back from the second track, from AC-3 or from a further track
// to the first; a further track stays when the channel has no first track.
void selectFirstAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                           const DemuxOutputs& outputs);
// "Seconde piste audio" and "Piste AC3": from the first track only, and only when the
// channel has both the first track and the one asked for. False when nothing was done.
bool selectSecondAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                            const DemuxOutputs& outputs);
bool selectAc3Track(const ChannelInfo& channel, AudioTrack& track, const DemuxOutputs& outputs);

// One of the channel's further audio streams, chosen from the menu: the heard track's PID
// leaves its output and the stream's PID goes to its own. False when the PID names no
// further stream of the channel or it is already heard.
bool selectAudioStream(const ChannelInfo& channel, int32_t pid, AudioTrack& track,
                       const DemuxOutputs& outputs);

// Every track the channel offers, in menu order: the first, second and AC-3 tracks it has,
// then its further streams in the PMT's order.
std::vector<AudioTrack> audioTracksOf(const ChannelInfo& channel);

// The keyboard's step through audioTracksOf, wrapping; from a track not in the list it goes
// to the list's first. False when there is no other track.
bool selectNextAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                          const DemuxOutputs& outputs);

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

// A menu item for each further audio stream, below the three above: its French name (UTF-8)
// with the codec in brackets, checked (and, like the three, disabled) while heard.
struct AudioStreamItem {
    int32_t pid = 0;
    std::string text;
    MenuItemState state;
    friend bool operator==(const AudioStreamItem&, const AudioStreamItem&) = default;
};

std::vector<AudioStreamItem> audioStreamItems(AudioTrack track, const ChannelInfo& channel);

// The French name of a track by its language and kind: "Français", "Audiodescription",
// "Version originale", "Allemand"...; a language without a name shows its code, and a
// stream without a usable code "Piste" and its place in the PMT (from 1).
std::string audioStreamName(const AudioStream& stream, std::size_t place);

// The audio being heard, as a recording keeps it: its PID (0 when none) and codec.
struct HeardAudio {
    int32_t pid = 0;
    AudioCodec codec = AudioCodec::Mpeg;
    friend bool operator==(const HeardAudio&, const HeardAudio&) = default;
};

HeardAudio heardAudio(const ChannelInfo& channel, AudioTrack track);

} // namespace korvane
