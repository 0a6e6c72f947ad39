#pragma once

#include "si/ts_packet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace korvane {

// Largest PSI/SI section: 3 header bytes and a 12-bit section_length of at most 4093.
inline constexpr std::size_t kMaxSectionSize = 4096;

// Called with one complete section, from table_id to its last byte (the CRC included when
// the table has one). The bytes are valid during the call only. The CRC is not checked here.
using SectionHandler = std::function<void(const uint8_t* section, std::size_t size)>;

// Rebuilds the sections of one PID from its packets: the pointer_field of a packet that
// starts a unit ends the section in progress, several sections may follow one another in a
// packet, 0xFF stuffing ends the packet's sections. A lost, errored or scrambled packet
// drops the section in progress; the next unit start resynchronises. A repeated packet
// (same continuity counter, sent twice on purpose) is ignored.
class SectionAssembler {
  public:
    void push(const TsPacket& packet, const SectionHandler& handler);
    // Forgets the section in progress and the continuity counter.
    void reset();
    // Sections dropped because packets were lost or the section was malformed.
    std::size_t droppedSections() const { return dropped_; }

  private:
    bool continuityBroken(const TsPacket& packet);
    void dropSection();
    // Appends bytes of the section in progress; returns how many were used.
    std::size_t feed(const uint8_t* data, std::size_t size, const SectionHandler& handler);
    void startSections(const uint8_t* data, std::size_t size, const SectionHandler& handler);

    std::vector<uint8_t> section_;
    bool inSection_ = false;
    int lastCounter_ = -1;
    std::size_t dropped_ = 0;
};

// One assembler per PID, for a whole multiplex or a chosen set of PIDs.
class SectionDemux {
  public:
    using Handler = std::function<void(uint16_t pid, const uint8_t* section, std::size_t size)>;

    // Restricts assembly to these PIDs; by default every PID is assembled.
    void onlyPids(std::vector<uint16_t> pids) { only_ = std::move(pids); }
    void push(const TsPacket& packet, const Handler& handler);
    void reset() { assemblers_.clear(); }

  private:
    std::vector<uint16_t> only_;
    std::map<uint16_t, SectionAssembler> assemblers_;
};

// Packs sections into packets of one PID the way a multiplexer does (for tests, tools and
// the testbed): each packet where a section begins carries a unit start and a pointer
// field, sections follow one another without gaps, the last packet is padded with 0xFF.
// counter is the continuity counter of the next packet and is advanced.
void appendSectionPackets(std::vector<uint8_t>& out, uint16_t pid,
                          const std::vector<std::vector<uint8_t>>& sections, uint8_t& counter);

} // namespace korvane
