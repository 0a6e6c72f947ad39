#pragma once

#include "channels/channel_list.h"
#include "channels/channel_saver.h"
#include "common/byte_reader.h"
#include "si/notifier.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvane {

// The seven PIDs one PMT gives a channel; 0 means absent.
struct PmtPids {
    int32_t pcrPid = 0;
    int32_t videoPid = 0;
    int32_t videoMpeg4Pid = 0;
    int32_t audio1Pid = 0;
    int32_t audio2Pid = 0;
    int32_t ac3Pid = 0;
    int32_t ac3Pid2 = 0;

    friend bool operator==(const PmtPids&, const PmtPids&) = default;
};

PmtPids pmtPidsOf(const ChannelInfo& channel);
void assignPmtPids(ChannelInfo& channel, const PmtPids& pids);

enum class PmtRead {
    Complete,  // every entry was read
    Truncated, // an entry or descriptor ran past the section's end; the walk stopped there
    NoHeader,  // too short to hold the fixed header: nothing was read
};

// Applies the stream classification to every elementary stream entry of a PMT section, in
// order, on top of the values already in pids (whose pcrPid is set from the header first).
// When audio is given, every audio stream read (MPEG, AC-3, E-AC-3) is appended to it; when
// subtitles is given, every DVB subtitle stream entry.
PmtRead classifyPmtStreams(const uint8_t* section, std::size_t length, PmtPids& pids,
                           std::vector<AudioStream>* audio = nullptr,
                           std::vector<SubtitleStream>* subtitles = nullptr);

// What an entry's descriptor loop (loopLength bytes at start in the section, CRC excluded)
// says of an audio stream: its codec (AC-3 or E-AC-3 on a private PES stream; MPEG by its
// type), its language and its kind. Nothing when the entry is not audio. A descriptor too
// short for a field leaves that field out.
std::optional<AudioStream> audioStreamOf(uint8_t streamType, int32_t pid, const ByteReader& section,
                                         std::size_t start, std::size_t loopLength);

// The DVB subtitle streams an entry's descriptor loop announces, appended to out: one per
// 8-byte entry of every subtitling descriptor, in order, on a private PES stream that is not
// audio (a stream the AC-3 or E-AC-3 descriptor makes audio stays audio only). An entry cut
// short by its descriptor's end is left out.
void appendSubtitleStreams(uint8_t streamType, int32_t pid, const ByteReader& section,
                           std::size_t start, std::size_t loopLength,
                           std::vector<SubtitleStream>& out);

// The PMT of the channel being watched (its program_number is the record's service id, or
// the record has none): when its PIDs or its kept audio or subtitle streams differ from the
// record, stores them, saves the channel
// file from a copy taken under the lock, then posts the streams change.
void decodePmt(ChannelList& list, WindowNotifier& notifier, ChannelFileSaver& saver,
               const uint8_t* section, std::size_t length);

// Gate then decoder, as the PMT filter runs them on each sample. True when decoded.
bool handlePmtSample(ChannelList& list, WindowNotifier& notifier, ChannelFileSaver& saver,
                     const uint8_t* section, std::size_t length);

// The scan's reading of one channel's PMT: writes the PIDs and streams into the record at
// index.
void scanPmt(ChannelList& list, const uint8_t* section, std::size_t length, std::size_t index);

} // namespace korvane
