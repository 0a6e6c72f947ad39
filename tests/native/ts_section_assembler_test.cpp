#include "si/section_assembler.h"
#include "si/ts_packet.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

using namespace korvane;

namespace {

using Bytes = std::vector<uint8_t>;
using Packet = std::array<uint8_t, kTsPacketSize>;

// A section of the given total size: table_id, section_length, then a counting pattern.
Bytes section(uint8_t tableId, std::size_t total, uint8_t seed = 0) {
    Bytes s(total);
    s[0] = tableId;
    s[1] = static_cast<uint8_t>(0xB0 | ((total - 3) >> 8));
    s[2] = static_cast<uint8_t>((total - 3) & 0xFF);
    for (std::size_t i = 3; i < total; ++i)
        s[i] = static_cast<uint8_t>(seed + i);
    return s;
}

Packet packet(uint16_t pid, bool unitStart, uint8_t counter, const Bytes& payload) {
    Packet p;
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((unitStart ? 0x40 : 0) | (pid >> 8));
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x10 | (counter & 0x0F));
    std::copy(payload.begin(), payload.end(), p.begin() + 4);
    return p;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& b : parts)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t count) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(from + count));
}

struct Collector {
    SectionAssembler assembler;
    std::vector<Bytes> sections;
    void push(const Packet& p) {
        auto parsed = parseTsPacket(p.data(), p.size());
        ASSERT_TRUE(parsed);
        assembler.push(
            *parsed, [this](const uint8_t* s, std::size_t n) { sections.emplace_back(s, s + n); });
    }
    void pushStream(const Bytes& stream) {
        for (std::size_t i = 0; i + kTsPacketSize <= stream.size(); i += kTsPacketSize) {
            Packet p;
            std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(i), kTsPacketSize, p.begin());
            push(p);
        }
    }
};

} // namespace

TEST(TsPacket, DecodesHeaderAdaptationFieldAndPcr) {
    Packet p = packet(0x1234 & 0x1FFF, true, 7, {});
    p[1] |= 0x80;
    p[3] = 0x80 | 0x30 | 7; // scrambled, adaptation and payload
    p[4] = 7;
    p[5] = 0x80 | 0x40 | 0x10; // discontinuity, random access, PCR
    // PCR base 0x1FFFFFFFF (33 bits) and extension 0x1FF
    p[6] = 0xFF, p[7] = 0xFF, p[8] = 0xFF, p[9] = 0xFF, p[10] = 0xFF, p[11] = 0xFF;
    auto t = parseTsPacket(p.data(), p.size());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pid, 0x1234);
    EXPECT_TRUE(t->transportError);
    EXPECT_TRUE(t->payloadUnitStart);
    EXPECT_EQ(t->scrambling, 2);
    EXPECT_EQ(t->continuityCounter, 7);
    EXPECT_TRUE(t->discontinuity);
    EXPECT_TRUE(t->randomAccess);
    ASSERT_TRUE(t->pcr);
    EXPECT_EQ(*t->pcr, 0x1FFFFFFFFull * 300 + 0x1FF);
    EXPECT_EQ(t->payloadSize, 188u - 12);
    EXPECT_EQ(t->payload, p.data() + 12);
}

TEST(TsPacket, RefusesBrokenPacketsAndHandlesEdgeLengths) {
    Packet p = packet(0x100, false, 0, {});
    p[0] = 0x46;
    EXPECT_FALSE(parseTsPacket(p.data(), p.size()));
    p[0] = 0x47;
    EXPECT_FALSE(parseTsPacket(p.data(), 187)) << "short buffer";
    p[3] = 0x30;
    p[4] = 184; // adaptation field past the end
    EXPECT_FALSE(parseTsPacket(p.data(), p.size()));
    p[4] = 183; // fills the packet: no payload left
    auto full = parseTsPacket(p.data(), p.size());
    ASSERT_TRUE(full);
    EXPECT_FALSE(full->hasPayload);
    p[3] = 0x20; // adaptation only
    p[4] = 0;
    auto only = parseTsPacket(p.data(), p.size());
    ASSERT_TRUE(only);
    EXPECT_FALSE(only->hasPayload);
    EXPECT_FALSE(only->pcr);
}

TEST(SectionAssembly, SectionsInOneAcrossSeveralAndSharingPackets) {
    Collector c;
    Bytes a = section(0x42, 30, 1);
    Bytes b = section(0x46, 400, 2);
    Bytes d = section(0x4E, 12, 3);
    // a and the start of b share the first packet; b ends in the third one, where d follows
    // and stuffing ends the packet.
    c.push(packet(0x11, true, 0, concat({{0}, a, slice(b, 0, 153)})));
    c.push(packet(0x11, false, 1, slice(b, 153, 184)));
    c.push(packet(0x11, true, 2, concat({{63}, slice(b, 337, 63), d, {0xFF, 0x42, 0x00}})));
    ASSERT_EQ(c.sections.size(), 3u);
    EXPECT_EQ(c.sections[0], a);
    EXPECT_EQ(c.sections[1], b);
    EXPECT_EQ(c.sections[2], d);
    EXPECT_EQ(c.assembler.droppedSections(), 0u);
}

TEST(SectionAssembly, HeaderSplitAcrossPacketsAndEmptyBody) {
    Collector c;
    Bytes a = section(0x02, 182, 4); // leaves one byte of the packet: the next table_id
    Bytes b = section(0x02, 40, 5);
    Bytes e = section(0x70, 3); // section_length 0
    c.push(packet(0x100, true, 0, concat({{0}, a, slice(b, 0, 1)})));
    c.push(packet(0x100, false, 1, concat({slice(b, 1, 39)})));
    c.push(packet(0x100, true, 2, concat({{0}, e})));
    ASSERT_EQ(c.sections.size(), 3u);
    EXPECT_EQ(c.sections[1], b);
    EXPECT_EQ(c.sections[2], e);
}

TEST(SectionAssembly, LossErrorsAndRepeatsDropOnlyTheDamagedSection) {
    Bytes big = section(0x42, 500, 6);
    Bytes small = section(0x42, 20, 7);
    {
        Collector c; // packet 1 of 3 lost: the counter jumps from 0 to 2
        c.push(packet(0x11, true, 0, concat({{0}, slice(big, 0, 183)})));
        c.push(packet(0x11, false, 2, slice(big, 367, 133)));
        c.push(packet(0x11, true, 3, concat({{0}, small})));
        ASSERT_EQ(c.sections.size(), 1u);
        EXPECT_EQ(c.sections[0], small);
        EXPECT_EQ(c.assembler.droppedSections(), 1u);
    }
    {
        Collector c; // the middle packet sent twice on purpose
        c.push(packet(0x11, true, 0, concat({{0}, slice(big, 0, 183)})));
        c.push(packet(0x11, false, 1, slice(big, 183, 184)));
        c.push(packet(0x11, false, 1, slice(big, 183, 184)));
        c.push(packet(0x11, false, 2, slice(big, 367, 133)));
        ASSERT_EQ(c.sections.size(), 1u);
        EXPECT_EQ(c.sections[0], big);
    }
    {
        Collector c; // transport error in the middle
        c.push(packet(0x11, true, 0, concat({{0}, slice(big, 0, 183)})));
        Packet bad = packet(0x11, false, 1, slice(big, 183, 184));
        bad[1] |= 0x80;
        c.push(bad);
        c.push(packet(0x11, false, 2, slice(big, 367, 133)));
        c.push(packet(0x11, true, 3, concat({{0}, small})));
        ASSERT_EQ(c.sections.size(), 1u);
        EXPECT_EQ(c.sections[0], small);
    }
    {
        Collector c; // tail of a section whose start was never seen, then a new one
        c.push(packet(0x11, false, 5, slice(big, 300, 184)));
        c.push(packet(0x11, true, 6, concat({{16}, slice(big, 484, 16), small})));
        ASSERT_EQ(c.sections.size(), 1u);
        EXPECT_EQ(c.sections[0], small);
    }
}

TEST(SectionAssembly, MalformedPointerAndLengthAreSurvived) {
    Collector c;
    c.push(packet(0x11, true, 0, {200}));     // pointer past the payload
    Bytes huge = {0x42, 0xBF, 0xFF, 1, 2, 3}; // section_length 4095 is beyond any section
    c.push(packet(0x11, true, 1, concat({{0}, huge})));
    Bytes ok = section(0x42, 10);
    c.push(packet(0x11, true, 2, concat({{0}, ok})));
    ASSERT_EQ(c.sections.size(), 1u);
    EXPECT_EQ(c.sections[0], ok);
}

TEST(SectionPackets, PackedSectionsComeBackWholeAndInOrder) {
    std::mt19937 rng(42);
    std::vector<Bytes> sections;
    for (int i = 0; i < 60; ++i)
        sections.push_back(
            section(static_cast<uint8_t>(0x40 + i % 8), 3 + rng() % 1200, static_cast<uint8_t>(i)));
    sections.push_back(section(0x42, 185)); // a start on the last byte of a packet
    sections.push_back(section(0x42, 4096));
    Bytes stream;
    uint8_t counter = 9;
    appendSectionPackets(stream, 0x12, sections, counter);
    ASSERT_EQ(stream.size() % kTsPacketSize, 0u);
    Collector c;
    c.pushStream(stream);
    EXPECT_TRUE(c.sections == sections);
    EXPECT_EQ(counter, (9 + stream.size() / kTsPacketSize) % 16);
}

TEST(TsSplitter, RecoversPacketsFromArbitraryCutsAndGarbage) {
    std::vector<Bytes> sections;
    for (int i = 0; i < 20; ++i)
        sections.push_back(
            section(0x42, 50 + 37 * static_cast<std::size_t>(i), static_cast<uint8_t>(i)));
    Bytes clean;
    uint8_t counter = 0;
    appendSectionPackets(clean, 0x11, sections, counter);
    const std::size_t packets = clean.size() / kTsPacketSize;
    const auto at = [&](std::size_t i) {
        return clean.begin() + static_cast<std::ptrdiff_t>(i * kTsPacketSize);
    };

    // Garbage before the stream, and a packet cut short by garbage after packet 5: that
    // packet is lost and the stream is found again at packet 6.
    Bytes stream(77, 0x00);
    stream.insert(stream.end(), at(0), at(5));
    stream.insert(stream.end(), at(5), at(5) + 100);
    stream.insert(stream.end(), 50, 0x11);
    stream.insert(stream.end(), at(6), clean.end());

    Collector reference;
    for (std::size_t i = 0; i < packets; ++i)
        if (i != 5) {
            Packet p;
            std::copy_n(at(i), kTsPacketSize, p.begin());
            reference.push(p);
        }
    ASSERT_LT(reference.sections.size(), sections.size());

    std::mt19937 rng(7);
    for (int round = 0; round < 30; ++round) {
        TsPacketSplitter splitter;
        SectionAssembler assembler;
        std::size_t seen = 0;
        std::vector<Bytes> out;
        auto handle = [&](const TsPacket& p) {
            ++seen;
            assembler.push(
                p, [&](const uint8_t* s, std::size_t len) { out.emplace_back(s, s + len); });
        };
        std::size_t pos = 0;
        while (pos < stream.size()) {
            std::size_t n =
                std::min<std::size_t>(1 + rng() % (round < 10 ? 20 : 600), stream.size() - pos);
            splitter.push(stream.data() + pos, n, handle);
            pos += n;
        }
        splitter.flush(handle);
        EXPECT_EQ(seen, packets - 1) << round;
        EXPECT_TRUE(out == reference.sections) << round;
    }
}

TEST(TsSplitter, FindsSyncOnlyWhereItRepeats) {
    Bytes b(600, 0);
    b[10] = 0x47; // lone sync-looking byte
    b[20] = 0x47;
    b[20 + 188] = 0x47;
    b[20 + 376] = 0x47;
    EXPECT_EQ(findTsSync(b.data(), b.size()), 20u);
    EXPECT_EQ(findTsSync(b.data(), 5), 5u);
}

TEST(SectionDemuxing, KeepsPidsApartAndFiltersThem) {
    Bytes stream;
    uint8_t c1 = 0, c2 = 0;
    Bytes s1 = section(0x00, 300, 1);
    Bytes s2 = section(0x42, 300, 2);
    // Interleave the packets of two PIDs.
    Bytes a, b;
    appendSectionPackets(a, 0x00, {s1}, c1);
    appendSectionPackets(b, 0x11, {s2}, c2);
    for (std::size_t i = 0; i < a.size(); i += kTsPacketSize) {
        stream.insert(stream.end(), a.begin() + static_cast<std::ptrdiff_t>(i),
                      a.begin() + static_cast<std::ptrdiff_t>(i + kTsPacketSize));
        stream.insert(stream.end(), b.begin() + static_cast<std::ptrdiff_t>(i),
                      b.begin() + static_cast<std::ptrdiff_t>(i + kTsPacketSize));
    }
    for (bool filtered : {false, true}) {
        SectionDemux demux;
        if (filtered)
            demux.onlyPids({0x11});
        std::vector<std::pair<uint16_t, Bytes>> got;
        TsPacketSplitter splitter;
        auto handle = [&](const TsPacket& p) {
            demux.push(p, [&](uint16_t pid, const uint8_t* s, std::size_t n) {
                got.emplace_back(pid, Bytes(s, s + n));
            });
        };
        splitter.push(stream.data(), stream.size(), handle);
        splitter.flush(handle);
        if (filtered) {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0], std::make_pair(uint16_t{0x11}, s2));
        } else {
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[0], std::make_pair(uint16_t{0x00}, s1));
            EXPECT_EQ(got[1], std::make_pair(uint16_t{0x11}, s2));
        }
    }
}
