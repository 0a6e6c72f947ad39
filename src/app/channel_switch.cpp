#include "app/channel_switch.h"

#include <algorithm>
#include <string_view>

namespace korvane {

namespace {

void mapIfPresent(PidMap* map, int32_t pid, PidContent content) {
    if (map && pid != 0)
        map->mapPid(pid, content);
}

void unmap(PidMap* map, int32_t pid) {
    if (map)
        map->unmapPid(pid);
}

bool onFrequency(const ChannelRecords& records, std::size_t index, int32_t frequency) {
    return records[index].frequency == frequency;
}

// While recording: the nearest channel on the current frequency, going down (step -1) or up
// (step +1) from the current one and wrapping; the current channel itself is not a match.
std::optional<std::size_t> nearestOnFrequency(const ChannelRecords& records, std::size_t current,
                                              int step) {
    const std::size_t n = records.size();
    const int32_t frequency = records[current].frequency;
    std::size_t index = current;
    for (std::size_t visited = 1; visited < n; ++visited) {
        index = step < 0 ? (index + n - 1) % n : (index + 1) % n;
        if (onFrequency(records, index, frequency))
            return index;
    }
    return std::nullopt;
}

bool validIndex(const ChannelRecords& records, int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < records.size();
}

PidMap* outputFor(AudioCodec codec, const DemuxOutputs& outputs) {
    switch (codec) {
    case AudioCodec::Ac3:
        return outputs.ac3;
    case AudioCodec::Eac3:
        return outputs.eac3;
    case AudioCodec::Mpeg:
        break;
    }
    return outputs.audio;
}

// The PID a track carries on this channel and the output it goes to.
struct TrackRoute {
    int32_t pid = 0;
    PidMap* output = nullptr;
};

TrackRoute routeOf(const ChannelInfo& channel, AudioTrack track, const DemuxOutputs& outputs) {
    const HeardAudio heard = heardAudio(channel, track);
    return {heard.pid, outputFor(heard.codec, outputs)};
}

// Leaves the heard track for another, whatever the two are.
void moveAudioTrack(const ChannelInfo& channel, AudioTrack& track, AudioTrack target,
                    const DemuxOutputs& outputs) {
    const TrackRoute from = routeOf(channel, track, outputs);
    if (from.pid != 0)
        unmap(from.output, from.pid);
    const TrackRoute to = routeOf(channel, target, outputs);
    mapIfPresent(to.output, to.pid, PidContent::ElementaryStream);
    track = target;
}

bool isLanguage(const AudioStream& stream, const char* code) {
    return std::equal(stream.language.begin(), stream.language.end(), code);
}

bool isFrench(const AudioStream& stream) {
    return isLanguage(stream, "fre") || isLanguage(stream, "fra");
}

// Lower is preferred as the default track.
int defaultRank(const AudioStream& stream) {
    if (stream.kind != AudioKind::Main || isLanguage(stream, "qad"))
        return 3;
    if (isFrench(stream))
        return 0;
    return isLanguage(stream, "qaa") ? 2 : 1;
}

struct LanguageName {
    const char* codes; // ISO 639-2 codes, bibliographic and terminology forms
    const char* name;
};

constexpr LanguageName kLanguageNames[] = {
    {"fre fra", "Français"},
    {"qaa", "Version originale"},
    {"qad", "Audiodescription"},
    {"ger deu", "Allemand"},
    {"eng", "Anglais"},
    {"spa", "Espagnol"},
    {"ita", "Italien"},
    {"por", "Portugais"},
    {"dut nld", "Néerlandais"},
    {"ara", "Arabe"},
    {"pol", "Polonais"},
    {"rus", "Russe"},
    {"chi zho", "Chinois"},
    {"jpn", "Japonais"},
    {"tur", "Turc"},
    {"bre", "Breton"},
    {"cos", "Corse"},
    {"oci", "Occitan"},
    {"baq eus", "Basque"},
    {"cat", "Catalan"},
    {"mul", "Multilingue"},
};

const char* languageName(const AudioStream& stream) {
    for (const LanguageName& entry : kLanguageNames) {
        const std::string_view codes(entry.codes);
        for (std::size_t at = 0; at + 3 <= codes.size(); at += 4)
            if (std::equal(stream.language.begin(), stream.language.end(), codes.begin() + at))
                return entry.name;
    }
    return nullptr;
}

const char* codecName(AudioCodec codec) {
    switch (codec) {
    case AudioCodec::Ac3:
        return "AC3";
    case AudioCodec::Eac3:
        return "E-AC3";
    case AudioCodec::Mpeg:
        break;
    }
    return "MPEG";
}

} // namespace

void unmapAllPids(PidMap* map) {
    if (!map)
        return;
    for (int32_t pid : map->mappedPids(kUnmapBatch))
        map->unmapPid(pid);
}

bool retuneNeeded(std::optional<int32_t> currentFrequency, int32_t newFrequency) {
    return !currentFrequency || *currentFrequency != newFrequency;
}

bool switchChannel(ChannelList& list, std::size_t index, bool preferAc3, AudioTrack& track,
                   const DemuxOutputs& outputs, ScanTuner* tuner) {
    ChannelInfo target;
    std::optional<int32_t> currentFrequency;
    {
        auto access = list.lock();
        if (index >= access.size())
            return false;
        target = access.at(index);
        if (const ChannelInfo* current = access.current())
            currentFrequency = current->frequency;
    }
    const bool retune = retuneNeeded(currentFrequency, target.frequency);

    unmapAllPids(outputs.video);
    unmapAllPids(outputs.audio);
    unmapAllPids(outputs.ac3);
    unmapAllPids(outputs.pmt);
    unmapAllPids(outputs.h264);
    unmapAllPids(outputs.eac3);
    list.setCurrentIndex(static_cast<int32_t>(index));
    if (retune && tuner)
        tuner->tuneFrequency(target.frequency);

    mapIfPresent(outputs.video, target.videoPid, PidContent::ElementaryStream);
    if (target.videoPid == 0)
        mapIfPresent(outputs.h264, target.videoMpeg4Pid, PidContent::ElementaryStream);
    track = defaultAudioTrack(target, preferAc3);
    const TrackRoute heard = routeOf(target, track, outputs);
    mapIfPresent(heard.output, heard.pid, PidContent::ElementaryStream);
    // PID 0 included: the PMT filter then drops the PAT sections it receives.
    if (outputs.pmt)
        outputs.pmt->mapPid(target.pmtPid, PidContent::Psi);
    return true;
}

std::optional<std::size_t> previousChannelIndex(const ChannelRecords& records, int32_t current,
                                                bool recording) {
    if (records.empty())
        return std::nullopt;
    if (recording)
        return validIndex(records, current)
                   ? nearestOnFrequency(records, static_cast<std::size_t>(current), -1)
                   : std::nullopt;
    const int32_t previous = current - 1;
    return validIndex(records, previous) ? static_cast<std::size_t>(previous) : records.size() - 1;
}

std::optional<std::size_t> nextChannelIndex(const ChannelRecords& records, int32_t current,
                                            bool recording) {
    if (records.empty())
        return std::nullopt;
    if (recording)
        return validIndex(records, current)
                   ? nearestOnFrequency(records, static_cast<std::size_t>(current), +1)
                   : std::nullopt;
    const int32_t next = current + 1;
    return validIndex(records, next) ? static_cast<std::size_t>(next) : 0;
}

int32_t appendTypedDigit(int32_t typed, int digit) {
    if (digit < 0 || digit > 9 || typed > 9999999)
        return typed;
    return typed * 10 + digit;
}

std::optional<std::size_t> typedNumberChoice(const ChannelRecords& records, int32_t current,
                                             int32_t number, bool recording) {
    std::optional<std::size_t> first = findChannelByNumber(records, number);
    if (!first || !recording)
        return first;
    if (!validIndex(records, current) ||
        !onFrequency(records, *first, records[static_cast<std::size_t>(current)].frequency))
        return std::nullopt;
    return first;
}

std::optional<AudioStream> defaultEac3Stream(const ChannelInfo& channel) {
    std::optional<AudioStream> best;
    for (const AudioStream& stream : channel.audioStreams) {
        if (stream.codec != AudioCodec::Eac3 || !isFurtherAudioStream(channel, stream))
            continue;
        if (!best || defaultRank(stream) < defaultRank(*best))
            best = stream;
    }
    return best;
}

AudioTrack defaultAudioTrack(const ChannelInfo& channel, bool preferAc3) {
    if (preferAc3 && channel.ac3Pid != 0)
        return AudioTrack::Ac3;
    const std::optional<AudioStream> eac3 = defaultEac3Stream(channel);
    if (eac3 && (preferAc3 || channel.audio1Pid == 0))
        return AudioTrack::of(*eac3);
    return AudioTrack::First;
}

void selectFirstAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                           const DemuxOutputs& outputs) {
    if (track == AudioTrack::First)
        return;
    // Leaving a further track for a first track the channel lacks would leave it silent.
    if (track.slot == AudioTrack::Slot::Stream && channel.audio1Pid == 0)
        return;
    if (track == AudioTrack::Second) {
        unmap(outputs.audio, channel.audio2Pid);
    } else if (track == AudioTrack::Ac3) {
        unmap(outputs.ac3, channel.ac3Pid);
    } else {
        const TrackRoute heard = routeOf(channel, track, outputs);
        unmap(heard.output, heard.pid);
    }
    mapIfPresent(outputs.audio, channel.audio1Pid, PidContent::ElementaryStream);
    track = AudioTrack::First;
}

bool selectSecondAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                            const DemuxOutputs& outputs) {
    if (track != AudioTrack::First || channel.audio1Pid == 0 || channel.audio2Pid == 0)
        return false;
    unmap(outputs.audio, channel.audio1Pid);
    mapIfPresent(outputs.audio, channel.audio2Pid, PidContent::ElementaryStream);
    track = AudioTrack::Second;
    return true;
}

bool selectAc3Track(const ChannelInfo& channel, AudioTrack& track, const DemuxOutputs& outputs) {
    if (track != AudioTrack::First || channel.audio1Pid == 0 || channel.ac3Pid == 0)
        return false;
    unmap(outputs.audio, channel.audio1Pid);
    mapIfPresent(outputs.ac3, channel.ac3Pid, PidContent::ElementaryStream);
    track = AudioTrack::Ac3;
    return true;
}

bool selectAudioStream(const ChannelInfo& channel, int32_t pid, AudioTrack& track,
                       const DemuxOutputs& outputs) {
    for (const AudioStream& stream : channel.audioStreams) {
        if (stream.pid != pid || !isFurtherAudioStream(channel, stream))
            continue;
        const AudioTrack target = AudioTrack::of(stream);
        if (track == target)
            return false;
        moveAudioTrack(channel, track, target, outputs);
        return true;
    }
    return false;
}

std::vector<AudioTrack> audioTracksOf(const ChannelInfo& channel) {
    std::vector<AudioTrack> tracks;
    if (channel.audio1Pid != 0)
        tracks.push_back(AudioTrack::First);
    if (channel.audio1Pid != 0 && channel.audio2Pid != 0)
        tracks.push_back(AudioTrack::Second);
    if (channel.ac3Pid != 0)
        tracks.push_back(AudioTrack::Ac3);
    for (const AudioStream& stream : channel.audioStreams)
        if (isFurtherAudioStream(channel, stream))
            tracks.push_back(AudioTrack::of(stream));
    return tracks;
}

bool selectNextAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                          const DemuxOutputs& outputs) {
    const std::vector<AudioTrack> tracks = audioTracksOf(channel);
    if (tracks.empty())
        return false;
    const auto at = std::find(tracks.begin(), tracks.end(), track);
    const AudioTrack next = at == tracks.end() || at + 1 == tracks.end() ? tracks.front() : at[1];
    if (next == track)
        return false;
    moveAudioTrack(channel, track, next, outputs);
    return true;
}

AudioTrackMenu audioTrackMenu(AudioTrack track, const ChannelInfo& channel) {
    AudioTrackMenu menu;
    switch (track.slot) {
    case AudioTrack::Slot::Ac3:
        menu.second = {false, true};
        menu.ac3 = {true, true};
        break;
    case AudioTrack::Slot::Second:
        menu.second = {true, true};
        menu.ac3 = {false, true};
        break;
    case AudioTrack::Slot::Stream:
        // Left like the second and AC-3 tracks, through the first one when there is one.
        menu.first = {false, channel.audio1Pid == 0};
        menu.second = {false, true};
        menu.ac3 = {false, true};
        break;
    case AudioTrack::Slot::First:
        menu.first = {true, true};
        menu.second = {false, channel.audio2Pid == 0};
        menu.ac3 = {false, channel.ac3Pid == 0};
        break;
    }
    return menu;
}

std::string audioStreamName(const AudioStream& stream, std::size_t place) {
    if (stream.kind == AudioKind::AudioDescription)
        return "Audiodescription";
    std::string name;
    if (const char* known = languageName(stream)) {
        name = known;
    } else if (std::all_of(stream.language.begin(), stream.language.end(),
                           [](char c) { return c >= 'a' && c <= 'z'; })) {
        name.assign(stream.language.begin(), stream.language.end());
    } else {
        name = "Piste " + std::to_string(place);
    }
    if (stream.kind == AudioKind::CleanAudio)
        name += " malentendants";
    else if (stream.kind == AudioKind::SpokenSubtitles)
        name += " sous-titres parlés";
    return name;
}

std::vector<AudioStreamItem> audioStreamItems(AudioTrack track, const ChannelInfo& channel) {
    std::vector<AudioStreamItem> items;
    for (std::size_t i = 0; i < channel.audioStreams.size(); ++i) {
        const AudioStream& stream = channel.audioStreams[i];
        if (!isFurtherAudioStream(channel, stream))
            continue;
        const bool heard = track == AudioTrack::of(stream);
        items.push_back({stream.pid,
                         audioStreamName(stream, i + 1) + " (" + codecName(stream.codec) + ")",
                         {heard, heard}});
    }
    return items;
}

HeardAudio heardAudio(const ChannelInfo& channel, AudioTrack track) {
    switch (track.slot) {
    case AudioTrack::Slot::Second:
        return {channel.audio2Pid, AudioCodec::Mpeg};
    case AudioTrack::Slot::Ac3:
        return {channel.ac3Pid, AudioCodec::Ac3};
    case AudioTrack::Slot::Stream:
        return {track.pid, track.codec};
    case AudioTrack::Slot::First:
        break;
    }
    return {channel.audio1Pid, AudioCodec::Mpeg};
}

} // namespace korvane
