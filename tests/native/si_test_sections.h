#pragma once

#include "channels/channel_list.h"
#include "channels/channel_saver.h"
#include "si/notifier.h"
#include "si/section_check.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace si_test {

using Bytes = std::vector<uint8_t>;

inline void append(Bytes& out, std::initializer_list<uint8_t> bytes) {
    out.insert(out.end(), bytes);
}
inline void append(Bytes& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
inline void appendText(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}
inline void appendU16(Bytes& out, unsigned v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
// A 12-bit length with the reserved high bits set, as broadcasters send them.
inline void appendLength(Bytes& out, std::size_t v) {
    appendU16(out, 0xF000 | unsigned(v));
}

// Sets section_length from the final size and appends the CRC.
inline Bytes finish(Bytes section) {
    const std::size_t sectionLength = section.size() + 4 - 3;
    section[1] = static_cast<uint8_t>(0xB0 | ((sectionLength >> 8) & 0x0F));
    section[2] = static_cast<uint8_t>(sectionLength);
    const uint32_t crc = korvane::crc32Mpeg2(section.data(), section.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        section.push_back(static_cast<uint8_t>(crc >> shift));
    return section;
}

// Table header up to and including last_section_number (8 bytes).
inline Bytes header(uint8_t tableId, unsigned extension) {
    Bytes b{tableId, 0, 0};
    appendU16(b, extension);
    append(b, {0xC1, 0x00, 0x00});
    return b;
}

inline Bytes descriptor(uint8_t tag, const Bytes& body) {
    Bytes d{tag, static_cast<uint8_t>(body.size())};
    append(d, body);
    return d;
}

inline Bytes shortEvent(const std::string& name, const std::string& text,
                        const std::string& lang = "fre") {
    Bytes body;
    appendText(body, lang);
    body.push_back(static_cast<uint8_t>(name.size()));
    appendText(body, name);
    body.push_back(static_cast<uint8_t>(text.size()));
    appendText(body, text);
    return descriptor(0x4D, body);
}

struct EitEvent {
    unsigned mjd = 0xC079;
    uint8_t hour = 0x12, minute = 0x45, second = 0x00;
    uint8_t durationHours = 0x01, durationMinutes = 0x45, durationSeconds = 0x30;
    Bytes descriptors;
};

inline Bytes eit(unsigned sid, const std::vector<EitEvent>& events, uint8_t tableId = 0x4E) {
    Bytes b = header(tableId, sid);
    append(b, {0x00, 0x04, 0x20, 0xFA, 0x00, tableId}); // tsid, onid, segment last, last table
    for (const EitEvent& e : events) {
        append(b, {0x00, 0x01});
        appendU16(b, e.mjd);
        append(b,
               {e.hour, e.minute, e.second, e.durationHours, e.durationMinutes, e.durationSeconds});
        appendLength(b, e.descriptors.size());
        append(b, e.descriptors);
    }
    return finish(b);
}

struct PmtStream {
    uint8_t type;
    unsigned pid;
    Bytes descriptors;
};

inline Bytes pmt(unsigned program, unsigned pcrPid, const std::vector<PmtStream>& streams,
                 const Bytes& programInfo = {}) {
    Bytes b = header(0x02, program);
    appendU16(b, 0xE000 | pcrPid);
    appendLength(b, programInfo.size());
    append(b, programInfo);
    for (const PmtStream& s : streams) {
        b.push_back(s.type);
        appendU16(b, 0xE000 | s.pid);
        appendLength(b, s.descriptors.size());
        append(b, s.descriptors);
    }
    return finish(b);
}

inline Bytes serviceDescriptor(const std::string& provider, const std::string& name,
                               uint8_t type = 0x01) {
    Bytes body{type, static_cast<uint8_t>(provider.size())};
    appendText(body, provider);
    body.push_back(static_cast<uint8_t>(name.size()));
    appendText(body, name);
    return descriptor(0x48, body);
}

struct SdtService {
    unsigned sid;
    Bytes descriptors;
};

inline Bytes sdt(unsigned tsid, unsigned onid, const std::vector<SdtService>& services) {
    Bytes b = header(0x42, tsid);
    appendU16(b, onid);
    b.push_back(0xFF);
    for (const SdtService& s : services) {
        appendU16(b, s.sid);
        b.push_back(0xFC);
        appendU16(b, 0x8000 | unsigned(s.descriptors.size()));
        append(b, s.descriptors);
    }
    return finish(b);
}

inline Bytes pat(unsigned tsid, const std::vector<std::pair<unsigned, unsigned>>& programs) {
    Bytes b = header(0x00, tsid);
    for (auto [program, pid] : programs) {
        appendU16(b, program);
        appendU16(b, 0xE000 | pid);
    }
    return finish(b);
}

struct LcnEntry {
    unsigned sid;
    unsigned number;
    uint8_t flags = 0xFC;
};

inline Bytes lcnDescriptor(const std::vector<LcnEntry>& entries) {
    Bytes body;
    for (const LcnEntry& e : entries) {
        appendU16(body, e.sid);
        body.push_back(static_cast<uint8_t>(e.flags | ((e.number >> 8) & 0x03)));
        body.push_back(static_cast<uint8_t>(e.number));
    }
    return descriptor(0x83, body);
}

struct NitStream {
    unsigned tsid;
    unsigned onid;
    Bytes descriptors;
};

inline Bytes nit(unsigned networkId, const std::vector<NitStream>& streams,
                 const Bytes& networkDescriptors = {}) {
    Bytes b = header(0x40, networkId);
    appendLength(b, networkDescriptors.size());
    append(b, networkDescriptors);
    Bytes loop;
    for (const NitStream& s : streams) {
        appendU16(loop, s.tsid);
        appendU16(loop, s.onid);
        appendLength(loop, s.descriptors.size());
        append(loop, s.descriptors);
    }
    appendLength(b, loop.size());
    append(b, loop);
    return finish(b);
}

inline korvane::ChannelInfo channel(int32_t sid, int32_t tsid = 4, int32_t onid = 0x20FA) {
    korvane::ChannelInfo c;
    c.sid = sid;
    c.tsid = tsid;
    c.onid = onid;
    return c;
}

struct CountingNotifier : korvane::WindowNotifier {
    int guideUpdates = 0;
    int streamChanges = 0;
    void postGuideUpdated() override { ++guideUpdates; }
    void postStreamsChanged() override { ++streamChanges; }
};

struct RecordingSaver : korvane::ChannelFileSaver {
    std::vector<korvane::ChannelRecords> saves;
    void saveChannels(const korvane::ChannelRecords& copy) override { saves.push_back(copy); }
};

} // namespace si_test
