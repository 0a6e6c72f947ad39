// Multiplexes one scenario multiplex into a constant-bit-rate transport stream: tables at
// their repetition rates, PES with PTS/DTS paced by the clock, PCR, null packets, faults.
#pragma once

#include "elementary.h"
#include "scenario.h"
#include "si_tables.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace muxgen {

using Packet = std::array<uint8_t, 188>;

// Cuts sections into packets of one PID, several sections per packet where they fit, the
// payload unit start and pointer field marking the first section that begins in a packet.
std::vector<Packet> packetize_sections(uint16_t pid, const std::vector<Section>& sections,
                                       uint8_t& continuity);

// Cuts one PES packet into transport packets; the last one is filled up with adaptation
// field stuffing, never with payload bytes.
std::vector<Packet> packetize_pes(uint16_t pid, const std::vector<uint8_t>& pes,
                                  uint8_t& continuity);

// A PES packet header and payload; dts < 0 writes PTS alone.
std::vector<uint8_t> build_pes(uint8_t stream_id, int64_t pts, int64_t dts, const uint8_t* data,
                               size_t size);

// A packet without payload whose adaptation field carries only a PCR (27 MHz units).
Packet pcr_packet(uint16_t pid, uint8_t continuity, uint64_t pcr);
Packet null_packet();

struct MuxStats {
    uint64_t packets = 0;
    uint64_t null_packets = 0;
    uint64_t late_units = 0; // access units whose last byte left after their decoding time
};

// Writes the multiplex to `path` (through a temporary file). False with `error` set when an
// elementary stream cannot be made, the file cannot be written, or the bit rate is too low
// for what the multiplex carries.
bool write_multiplex(const Scenario& scenario, const MuxSpec& mux, ElementaryLibrary& library,
                     const std::string& path, MuxStats& stats, std::string& error);

// Seconds between the start of the file and the PCR origin; PCR = (t + offset) * 27 MHz.
constexpr double kClockOffset = 1.0;

} // namespace muxgen
