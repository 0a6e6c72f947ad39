// What a test multiplex carries: networks, multiplexes, services, their streams, guide events,
// mid-stream changes and injected faults, read from a small line-based scenario file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace muxgen {

enum class StreamKind { Mpeg2Video, H264Video, Mp2Audio, Ac3Audio, Eac3Audio, Data, DvbSubtitles };

struct StreamSpec {
    StreamKind kind = StreamKind::Data;
    uint16_t pid = 0;
    std::string language;   // ISO 639, three letters, empty for none
    uint8_t audio_type = 0; // of the ISO 639 descriptor: 3 for an audio description
    // Editorial classification of a supplementary audio descriptor (1: audio description),
    // -1 for none.
    int supplementary = -1;
    // A DVB subtitle stream's subtitling_type and composition page (its ancillary page too).
    uint8_t subtitling_type = 0x10;
    uint16_t page = 1;
    // Pictures of a video stream: the `video` statement in force where the stream is listed.
    int width = 352;
    int height = 288;
    std::string aspect; // display aspect ratio, "16:9"; empty for square samples
};

// The stream set a service broadcasts from `start` (seconds into the file) on; every change
// after the first phase is announced by a new PMT version.
struct StreamPhase {
    double start = 0;
    std::vector<StreamSpec> streams;
};

struct EventSpec {
    int duration = 0; // seconds
    std::string title;
    std::string description;
};

struct ServiceSpec {
    uint16_t sid = 0;
    std::string name;     // UTF-8
    std::string provider; // UTF-8
    std::optional<uint8_t> type;
    uint16_t lcn = 0;
    uint16_t lcn_after_renumbering = 0; // 0: lcn is kept
    uint16_t pmt_pid = 0;
    std::optional<uint16_t> pcr_pid;
    int name_selector = -1; // character-table byte put before the names, -1 for none
    int elapsed = 0;        // seconds of the first event already gone when the file starts
    std::vector<StreamPhase> phases;
    std::vector<EventSpec> events;

    uint8_t service_type() const;
    // PCR PID of a phase: the explicit one, else its first video, else its first stream.
    uint16_t pcr_pid_of(const StreamPhase& phase) const;
};

enum class FaultKind { Crc, Continuity, Sync };

struct FaultSpec {
    FaultKind kind = FaultKind::Crc;
    double at = 0;
    uint16_t pid = 0;
    int bytes = 97; // garbage written for a sync loss
};

struct MuxSpec {
    std::string label;
    uint32_t frequency_khz = 0;
    uint16_t tsid = 0;
    uint32_t bitrate = 6000000;
    std::vector<ServiceSpec> services;
    std::vector<FaultSpec> faults;
};

struct Scenario {
    uint16_t network_id = 0x20FA;
    uint16_t onid = 0x20FA;
    std::string network_name = "TNT";
    int64_t start_utc = 1796673600; // seconds since 1970
    double duration = 4;
    int width = 352;
    int height = 288;
    std::string aspect;
    std::vector<MuxSpec> muxes;
    // Seconds into the file from which the NIT carries version 1 and the services' numbers
    // after the renumbering; none: version 0 throughout.
    std::optional<double> renumber_at;
    // The NIT's terrestrial delivery descriptors give no frequency (all ones), as the French
    // networks send them.
    bool nit_frequency_unknown = false;
};

struct ParseResult {
    std::optional<Scenario> scenario;
    std::string error; // "line N: ..." when scenario is empty
};

ParseResult parse_scenario(const std::string& text);
std::optional<int64_t> parse_utc(const std::string& text); // 2026-12-07T20:00:00Z

const char* stream_kind_name(StreamKind kind);
uint8_t stream_type_of(StreamKind kind);

} // namespace muxgen
