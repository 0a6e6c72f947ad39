#include "si/section_assembler.h"

#include <algorithm>

namespace korvane {

namespace {

constexpr uint8_t kStuffing = 0xFF;

std::size_t sectionTotal(const std::vector<uint8_t>& s) {
    return 3 + ((static_cast<std::size_t>(s[1] & 0x0F) << 8) | s[2]);
}

} // namespace

void SectionAssembler::reset() {
    section_.clear();
    inSection_ = false;
    lastCounter_ = -1;
}

void SectionAssembler::dropSection() {
    if (inSection_)
        ++dropped_;
    inSection_ = false;
    section_.clear();
}

bool SectionAssembler::continuityBroken(const TsPacket& packet) {
    const int counter = packet.continuityCounter;
    const int last = lastCounter_;
    lastCounter_ = counter;
    if (last < 0 || packet.discontinuity)
        return false;
    return counter != ((last + 1) & 0x0F);
}

std::size_t SectionAssembler::feed(const uint8_t* data, std::size_t size,
                                   const SectionHandler& handler) {
    std::size_t used = 0;
    while (used < size) {
        const std::size_t target = section_.size() < 3 ? 3 : sectionTotal(section_);
        if (target > kMaxSectionSize) {
            dropSection();
            return size;
        }
        const std::size_t n = std::min(target - section_.size(), size - used);
        section_.insert(section_.end(), data + used, data + used + n);
        used += n;
        if (section_.size() >= 3 && section_.size() == sectionTotal(section_)) {
            handler(section_.data(), section_.size());
            inSection_ = false;
            section_.clear();
            return used;
        }
    }
    return used;
}

void SectionAssembler::startSections(const uint8_t* data, std::size_t size,
                                     const SectionHandler& handler) {
    std::size_t pos = 0;
    while (pos < size && data[pos] != kStuffing) {
        inSection_ = true;
        section_.clear();
        pos += feed(data + pos, size - pos, handler);
        if (inSection_)
            return;
    }
}

void SectionAssembler::push(const TsPacket& packet, const SectionHandler& handler) {
    if (packet.transportError || packet.scrambling != 0) {
        // The counter of a damaged packet cannot be trusted either.
        dropSection();
        lastCounter_ = -1;
        return;
    }
    if (!packet.hasPayload || packet.payloadSize == 0)
        return;
    if (lastCounter_ == packet.continuityCounter && !packet.discontinuity)
        return;
    if (continuityBroken(packet))
        dropSection();
    const uint8_t* data = packet.payload;
    const std::size_t size = packet.payloadSize;
    if (!packet.payloadUnitStart) {
        // A section can only begin after a pointer field; whatever follows the end of a
        // section in such a packet is stuffing.
        if (inSection_)
            feed(data, size, handler);
        return;
    }
    const std::size_t pointer = data[0];
    if (1 + pointer > size) {
        dropSection();
        return;
    }
    if (inSection_) {
        feed(data + 1, pointer, handler);
        if (inSection_)
            dropSection();
    }
    startSections(data + 1 + pointer, size - 1 - pointer, handler);
}

void SectionDemux::push(const TsPacket& packet, const Handler& handler) {
    if (!only_.empty() && std::find(only_.begin(), only_.end(), packet.pid) == only_.end())
        return;
    const uint16_t pid = packet.pid;
    assemblers_[pid].push(
        packet, [&](const uint8_t* section, std::size_t size) { handler(pid, section, size); });
}

void appendSectionPackets(std::vector<uint8_t>& out, uint16_t pid,
                          const std::vector<std::vector<uint8_t>>& sections, uint8_t& counter) {
    std::vector<uint8_t> stream;
    std::vector<std::size_t> starts;
    for (const auto& section : sections) {
        starts.push_back(stream.size());
        stream.insert(stream.end(), section.begin(), section.end());
    }
    std::size_t pos = 0;
    std::size_t nextStart = 0; // index into starts
    while (pos < stream.size()) {
        while (nextStart < starts.size() && starts[nextStart] < pos)
            ++nextStart;
        const std::size_t following = nextStart < starts.size() ? starts[nextStart] : stream.size();
        const std::size_t base = out.size();
        out.resize(base + kTsPacketSize, kStuffing);
        uint8_t* p = out.data() + base;
        const bool unitStart = nextStart < starts.size() && following - pos < kTsPacketSize - 5;
        p[0] = kTsSyncByte;
        p[1] = static_cast<uint8_t>((unitStart ? 0x40 : 0) | ((pid >> 8) & 0x1F));
        p[2] = static_cast<uint8_t>(pid & 0xFF);
        p[3] = static_cast<uint8_t>(0x10 | (counter & 0x0F));
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        std::size_t room = kTsPacketSize - 4;
        uint8_t* payload = p + 4;
        if (unitStart) {
            *payload++ = static_cast<uint8_t>(following - pos);
            --room;
        } else {
            // Without a pointer field a section may not begin here: stop before it.
            room = std::min(room, following - pos);
        }
        const std::size_t n = std::min(room, stream.size() - pos);
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                  stream.begin() + static_cast<std::ptrdiff_t>(pos + n), payload);
        pos += n;
    }
}

} // namespace korvane
