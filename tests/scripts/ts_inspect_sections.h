#pragma once

// Builders of broadcast tables for tests: SDT, PAT, PMT, NIT and EIT present/following
// sections with a correct CRC, laid out as a multiplexer sends them.

#include "si/section_check.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsections {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

inline void putText(Bytes& b, const std::string& text) {
    b.push_back(static_cast<uint8_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
}

// Fills section_length (with the syntax bit set) and appends the CRC.
inline Bytes finish(Bytes b) {
    const std::size_t length = b.size() + 4 - 3;
    b[1] = static_cast<uint8_t>(0xB0 | (length >> 8));
    b[2] = static_cast<uint8_t>(length);
    const uint32_t crc = korvane::crc32Mpeg2(b.data(), b.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<uint8_t>(crc >> shift));
    return b;
}

// Header of a long-form section: table_id, length (filled later), extension, version 0,
// current, section 0 of 0.
inline Bytes header(uint8_t tableId, unsigned extension) {
    Bytes b{tableId, 0, 0};
    put16(b, extension);
    b.push_back(0xC1);
    b.push_back(0);
    b.push_back(0);
    return b;
}

struct Service {
    unsigned sid;
    std::string provider;
    std::string name;
};

inline Bytes sdt(unsigned tsid, unsigned onid, const std::vector<Service>& services) {
    Bytes b = header(0x42, tsid);
    put16(b, onid);
    b.push_back(0xFF);
    for (const Service& s : services) {
        Bytes d{0x48, 0, 0x01};
        putText(d, s.provider);
        putText(d, s.name);
        d[1] = static_cast<uint8_t>(d.size() - 2);
        put16(b, s.sid);
        b.push_back(0xFC);
        put16(b, 0x8000 | static_cast<unsigned>(d.size()));
        b.insert(b.end(), d.begin(), d.end());
    }
    return finish(b);
}

inline Bytes pat(unsigned tsid, const std::vector<std::pair<unsigned, unsigned>>& programs) {
    Bytes b = header(0x00, tsid);
    for (auto [program, pid] : programs) {
        put16(b, program);
        put16(b, 0xE000 | pid);
    }
    return finish(b);
}

struct Stream {
    uint8_t type;
    unsigned pid;
    Bytes descriptors;
};

inline Bytes pmt(unsigned program, unsigned pcrPid, const std::vector<Stream>& streams) {
    Bytes b = header(0x02, program);
    put16(b, 0xE000 | pcrPid);
    put16(b, 0xF000);
    for (const Stream& s : streams) {
        b.push_back(s.type);
        put16(b, 0xE000 | s.pid);
        put16(b, 0xF000 | static_cast<unsigned>(s.descriptors.size()));
        b.insert(b.end(), s.descriptors.begin(), s.descriptors.end());
    }
    return finish(b);
}

struct NitStream {
    unsigned tsid;
    unsigned onid;
    std::vector<std::pair<unsigned, unsigned>> numbers; // service_id, logical channel number
};

inline Bytes nit(unsigned networkId, const std::vector<NitStream>& streams) {
    Bytes b = header(0x40, networkId);
    put16(b, 0xF000);
    Bytes loop;
    for (const NitStream& s : streams) {
        Bytes d{0x83, static_cast<uint8_t>(4 * s.numbers.size())};
        for (auto [sid, number] : s.numbers) {
            put16(d, sid);
            put16(d, 0xFC00 | number);
        }
        put16(loop, s.tsid);
        put16(loop, s.onid);
        put16(loop, 0xF000 | static_cast<unsigned>(d.size()));
        loop.insert(loop.end(), d.begin(), d.end());
    }
    put16(b, 0xF000 | static_cast<unsigned>(loop.size()));
    b.insert(b.end(), loop.begin(), loop.end());
    return finish(b);
}

struct Event {
    unsigned mjd;
    uint8_t start[3]; // BCD hour, minute, second
    uint8_t duration[3];
    std::string title;
    std::string text;
};

inline Bytes eit(uint8_t tableId, unsigned sid, unsigned tsid, unsigned onid, uint8_t number,
                 const std::vector<Event>& events) {
    Bytes b = header(tableId, sid);
    b[6] = number;
    b[7] = 1;
    put16(b, tsid);
    put16(b, onid);
    b.push_back(1);
    b.push_back(tableId);
    unsigned eventId = 1;
    for (const Event& e : events) {
        Bytes d{0x4D, 0, 'f', 'r', 'e'};
        putText(d, e.title);
        putText(d, e.text);
        d[1] = static_cast<uint8_t>(d.size() - 2);
        put16(b, eventId++);
        put16(b, e.mjd);
        b.insert(b.end(), e.start, e.start + 3);
        b.insert(b.end(), e.duration, e.duration + 3);
        put16(b, 0x8000 | static_cast<unsigned>(d.size()));
        b.insert(b.end(), d.begin(), d.end());
    }
    return finish(b);
}

} // namespace testsections
