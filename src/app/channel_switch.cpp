#include "app/channel_switch.h"

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
    list.setCurrentIndex(static_cast<int32_t>(index));
    if (retune && tuner)
        tuner->tuneFrequency(target.frequency);

    mapIfPresent(outputs.video, target.videoPid, PidContent::ElementaryStream);
    if (preferAc3 && target.ac3Pid != 0) {
        mapIfPresent(outputs.ac3, target.ac3Pid, PidContent::ElementaryStream);
        track = AudioTrack::Ac3;
    } else {
        mapIfPresent(outputs.audio, target.audio1Pid, PidContent::ElementaryStream);
        track = AudioTrack::First;
    }
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

void selectFirstAudioTrack(const ChannelInfo& channel, AudioTrack& track,
                           const DemuxOutputs& outputs) {
    if (track == AudioTrack::First)
        return;
    if (track == AudioTrack::Second)
        unmap(outputs.audio, channel.audio2Pid);
    else
        unmap(outputs.ac3, channel.ac3Pid);
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

AudioTrackMenu audioTrackMenu(AudioTrack track, const ChannelInfo& channel) {
    AudioTrackMenu menu;
    switch (track) {
    case AudioTrack::Ac3:
        menu.second = {false, true};
        menu.ac3 = {true, true};
        break;
    case AudioTrack::Second:
        menu.second = {true, true};
        menu.ac3 = {false, true};
        break;
    case AudioTrack::First:
        menu.first = {true, true};
        menu.second = {false, channel.audio2Pid == 0};
        menu.ac3 = {false, channel.ac3Pid == 0};
        break;
    }
    return menu;
}

HeardAudio heardAudio(const ChannelInfo& channel, AudioTrack track) {
    switch (track) {
    case AudioTrack::Second:
        return {channel.audio2Pid, AudioCodec::Mpeg};
    case AudioTrack::Ac3:
        return {channel.ac3Pid, AudioCodec::Ac3};
    case AudioTrack::First:
        break;
    }
    return {channel.audio1Pid, AudioCodec::Mpeg};
}

} // namespace korvane
