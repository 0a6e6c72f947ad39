#pragma once

#include "si/scan.h"
#include "si/section_assembler.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// The whole content of a file; nothing when it cannot be read.
std::optional<std::string> readWholeFile(const char* path);

// Calls handler(pid, section, size) for every complete section of the given PIDs (all PIDs
// when empty) in a transport stream held in memory.
template <typename Handler>
void forEachSection(const std::string& stream, std::vector<uint16_t> pids, Handler&& handler);

// Answers the scan's table reads from a recorded multiplex: the first complete section of
// that PID and table (and table id extension, when asked) whose CRC is correct; a table
// absent from the file is a time-out.
class FileSectionReader : public korvane::SectionReader {
  public:
    explicit FileSectionReader(const std::string& stream);
    std::optional<korvane::Section> getSection(const korvane::SectionRequest& request) override;

  private:
    std::map<std::pair<uint16_t, uint8_t>, korvane::Section> first_;
    // The first section of each PID, table and table id extension.
    std::map<std::tuple<uint16_t, uint8_t, uint16_t>, korvane::Section> firstOfExtension_;
};

template <typename Handler>
void forEachSection(const std::string& stream, std::vector<uint16_t> pids, Handler&& handler) {
    korvane::TsPacketSplitter splitter;
    korvane::SectionDemux demux;
    demux.onlyPids(std::move(pids));
    auto onPacket = [&](const korvane::TsPacket& packet) { demux.push(packet, handler); };
    splitter.push(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), onPacket);
    splitter.flush(onPacket);
}
