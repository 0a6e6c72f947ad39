#include "si/pmt.h"

#include "common/byte_reader.h"
#include "si/descriptor_loop.h"
#include "si/psi_ids.h"
#include "si/section_check.h"

#include <array>
#include <optional>
#include <utility>

namespace korvane {

namespace {

constexpr std::size_t kProgramInfoLength = 10;
constexpr std::size_t kEntryHeader = 5;
// ISO 639 code, subtitling_type, composition_page_id, ancillary_page_id.
constexpr std::size_t kSubtitlingEntry = 8;

// ISO 639 audio_type and the supplementary audio descriptor's editorial classification.
constexpr uint8_t kHearingImpairedAudio = 2;
constexpr uint8_t kVisualImpairedCommentary = 3;

AudioKind kindOfEditorialClassification(uint8_t classification) {
    switch (classification) {
    case 1:
        return AudioKind::AudioDescription;
    case 2:
        return AudioKind::CleanAudio;
    case 3:
        return AudioKind::SpokenSubtitles;
    default:
        return AudioKind::Main;
    }
}

AudioKind kindOfAudioType(uint8_t audioType) {
    switch (audioType) {
    case kVisualImpairedCommentary:
        return AudioKind::AudioDescription;
    case kHearingImpairedAudio:
        return AudioKind::CleanAudio;
    default:
        return AudioKind::Main;
    }
}

std::optional<std::array<char, 3>> languageAt(const ByteReader& body, std::size_t offset) {
    const uint8_t* code = body.bytes(offset, 3);
    if (!code)
        return std::nullopt;
    return std::array<char, 3>{static_cast<char>(code[0]), static_cast<char>(code[1]),
                               static_cast<char>(code[2])};
}

// One elementary stream entry whose descriptor loop of loopLength bytes starts at loop; false
// when a descriptor reaches past the section, in which case nothing of the entry is taken.
bool classifyEntry(uint8_t type, int32_t pid, const ByteReader& section, std::size_t loop,
                   std::size_t loopLength, PmtPids& pids, std::vector<AudioStream>* audio,
                   std::vector<SubtitleStream>* subtitles) {
    int ac3Descriptors = 0;
    if (!walkDescriptors(section, loop, loopLength, [&](uint8_t tag, const ByteReader&) {
            if (tag == kAc3Tag && type == kPrivatePesStream)
                ++ac3Descriptors;
            return true;
        }))
        return false;
    switch (type) {
    case kMpeg1VideoStream:
    case kMpeg2VideoStream:
        pids.videoPid = pid;
        break;
    case kMpeg1AudioStream:
    case kMpeg2AudioStream:
        (pids.audio1Pid == 0 ? pids.audio1Pid : pids.audio2Pid) = pid;
        break;
    case kH264VideoStream:
        pids.videoMpeg4Pid = pid;
        break;
    default:
        break;
    }
    for (int i = 0; i < ac3Descriptors; ++i)
        (pids.ac3Pid == 0 ? pids.ac3Pid : pids.ac3Pid2) = pid;
    if (audio) {
        if (auto stream = audioStreamOf(type, pid, section, loop, loopLength))
            audio->push_back(*stream);
    }
    if (subtitles)
        appendSubtitleStreams(type, pid, section, loop, loopLength, *subtitles);
    return true;
}

} // namespace

std::optional<AudioStream> audioStreamOf(uint8_t type, int32_t pid, const ByteReader& section,
                                         std::size_t start, std::size_t loopLength) {
    bool ac3 = false;
    bool eac3 = false;
    std::optional<std::array<char, 3>> language;
    std::optional<std::array<char, 3>> supplementaryLanguage;
    std::optional<AudioKind> typeKind;
    std::optional<AudioKind> supplementaryKind;
    walkDescriptors(section, start, loopLength, [&](uint8_t tag, const ByteReader& body) {
        if (tag == kAc3Tag) {
            ac3 = true;
        } else if (tag == kEnhancedAc3Tag) {
            eac3 = true;
        } else if (tag == kLanguageTag && !language) {
            // The first code of the loop names the stream; audio_type follows it.
            language = languageAt(body, 0);
            if (auto audioType = body.u8(3))
                typeKind = kindOfAudioType(*audioType);
        } else if (tag == kExtensionTag && body.u8(0) == kSupplementaryAudioExtension) {
            if (auto flags = body.u8(1)) {
                supplementaryKind = kindOfEditorialClassification((*flags >> 2) & 0x1F);
                if (*flags & 0x01)
                    supplementaryLanguage = languageAt(body, 2);
            }
        }
        return true;
    });
    AudioStream stream;
    stream.pid = pid;
    if (type == kMpeg1AudioStream || type == kMpeg2AudioStream)
        stream.codec = AudioCodec::Mpeg;
    else if (type == kPrivatePesStream && ac3)
        stream.codec = AudioCodec::Ac3; // as the AC-3 PIDs count it, whatever else it carries
    else if (type == kPrivatePesStream && eac3)
        stream.codec = AudioCodec::Eac3;
    else
        return std::nullopt;
    if (supplementaryLanguage)
        stream.language = *supplementaryLanguage;
    else if (language)
        stream.language = *language;
    stream.kind = supplementaryKind.value_or(typeKind.value_or(AudioKind::Main));
    if (stream.language == std::array<char, 3>{'q', 'a', 'd'})
        stream.kind = AudioKind::AudioDescription;
    return stream;
}

void appendSubtitleStreams(uint8_t type, int32_t pid, const ByteReader& section, std::size_t start,
                           std::size_t loopLength, std::vector<SubtitleStream>& out) {
    if (type != kPrivatePesStream || audioStreamOf(type, pid, section, start, loopLength))
        return;
    walkDescriptors(section, start, loopLength, [&](uint8_t tag, const ByteReader& body) {
        if (tag != kSubtitlingTag)
            return true;
        for (std::size_t at = 0; body.contains(at, kSubtitlingEntry); at += kSubtitlingEntry) {
            SubtitleStream stream;
            stream.pid = pid;
            stream.language = *languageAt(body, at);
            stream.type = *body.u8(at + 3);
            stream.compositionPage = *body.u16(at + 4);
            stream.ancillaryPage = *body.u16(at + 6);
            out.push_back(stream);
        }
        return true;
    });
}

PmtPids pmtPidsOf(const ChannelInfo& c) {
    return PmtPids{c.pcrPid,    c.videoPid, c.videoMpeg4Pid, c.audio1Pid,
                   c.audio2Pid, c.ac3Pid,   c.ac3Pid2};
}

void assignPmtPids(ChannelInfo& c, const PmtPids& p) {
    c.pcrPid = p.pcrPid;
    c.videoPid = p.videoPid;
    c.videoMpeg4Pid = p.videoMpeg4Pid;
    c.audio1Pid = p.audio1Pid;
    c.audio2Pid = p.audio2Pid;
    c.ac3Pid = p.ac3Pid;
    c.ac3Pid2 = p.ac3Pid2;
}

PmtRead classifyPmtStreams(const uint8_t* section, std::size_t length, PmtPids& pids,
                           std::vector<AudioStream>* audio,
                           std::vector<SubtitleStream>* subtitles) {
    const ByteReader in(section, length);
    // The stream loop ends where the CRC begins.
    if (length < 4 || !in.contains(0, kProgramInfoLength + 2) ||
        length - 4 < kProgramInfoLength + 2)
        return PmtRead::NoHeader;
    const std::size_t end = length - 4;
    const ByteReader body = in.sub(0, end);
    pids.pcrPid = *in.pid(8);
    std::size_t p = kProgramInfoLength + 2 + *in.length12(kProgramInfoLength);
    if (p > end)
        return PmtRead::Truncated;
    while (p < end) {
        if (end - p < kEntryHeader)
            return PmtRead::Truncated;
        const uint8_t type = *in.u8(p);
        const int32_t pid = *in.pid(p + 1);
        const std::size_t infoLength = *in.length12(p + 3);
        if (infoLength > end - p - kEntryHeader)
            return PmtRead::Truncated;
        if (!classifyEntry(type, pid, body, p + kEntryHeader, infoLength, pids, audio, subtitles))
            return PmtRead::Truncated;
        p += kEntryHeader + infoLength;
    }
    return PmtRead::Complete;
}

void decodePmt(ChannelList& list, WindowNotifier& notifier, ChannelFileSaver& saver,
               const uint8_t* section, std::size_t length) {
    PmtPids pids;
    std::vector<AudioStream> audio;
    std::vector<SubtitleStream> subtitles;
    // A PMT that lies about its lengths is not applied: storing the part read so far would
    // drop streams from the record and from the channel file.
    if (classifyPmtStreams(section, length, pids, &audio, &subtitles) != PmtRead::Complete)
        return;
    const std::optional<uint16_t> program = ByteReader(section, length).u16(3);
    ChannelRecords copy;
    {
        auto access = list.lock();
        ChannelInfo* current = access.current();
        if (!current || !program)
            return;
        // Another program's PMT (two programs sharing one PMT PID, or a section of the
        // channel left behind by a zap still in delivery) must not rewrite this record. A
        // record without a service id takes any PMT.
        if (current->sid != 0 && current->sid != *program)
            return;
        ChannelInfo updated = *current;
        assignPmtPids(updated, pids);
        updated.audioStreams = std::move(audio);
        updated.subtitleStreams = std::move(subtitles);
        // Languages of streams the PID fields already carry are not in the channel file:
        // they are taken in silently, so that the first PMT after a start does not rewrite
        // the file and reselect the channel.
        const bool changed = pmtPidsOf(*current) != pids ||
                             keptAudioStreams(*current) != keptAudioStreams(updated) ||
                             current->subtitleStreams != updated.subtitleStreams;
        current->audioStreams = updated.audioStreams;
        if (!changed)
            return;
        *current = std::move(updated);
        copy = access.records();
    }
    saver.saveChannels(copy);
    notifier.postStreamsChanged();
}

bool handlePmtSample(ChannelList& list, WindowNotifier& notifier, ChannelFileSaver& saver,
                     const uint8_t* section, std::size_t length) {
    if (!passesPmtGate(section, length))
        return false;
    decodePmt(list, notifier, saver, section, length);
    return true;
}

void scanPmt(ChannelList& list, const uint8_t* section, std::size_t length, std::size_t index) {
    auto access = list.lock();
    if (index >= access.size())
        return;
    ChannelInfo& channel = access.at(index);
    // Starting from the record's own values makes this the same as writing as the entries
    // are read: the first-audio and first-AC-3 tests look at what the record holds.
    PmtPids pids = pmtPidsOf(channel);
    std::vector<AudioStream> audio;
    std::vector<SubtitleStream> subtitles;
    if (classifyPmtStreams(section, length, pids, &audio, &subtitles) != PmtRead::NoHeader) {
        assignPmtPids(channel, pids);
        channel.audioStreams = std::move(audio);
        channel.subtitleStreams = std::move(subtitles);
    }
}

} // namespace korvane
