// The pieces of muxgen: scenario reading, broadcast text, packetizing and stream cutting.
#include "dvb_text.h"
#include "elementary.h"
#include "scenario.h"
#include "si_tables.h"
#include "ts_mux.h"

#include <gtest/gtest.h>

namespace {

using namespace muxgen;

const char* kMinimal = "mux R1 frequency 474167 tsid 1\n"
                       "service 0x101 \"A\" pmt 0x100\n"
                       "stream mpeg2 0x120\n";

std::string error_of(const std::string& text) {
    ParseResult r = parse_scenario(text);
    EXPECT_FALSE(r.scenario) << text;
    return r.error;
}

TEST(MuxgenScenario, ReadsServicesStreamsChangesAndFaults) {
    ParseResult r = parse_scenario("network 0x20FA \"Réseau\"\n"
                                   "start 2026-12-07T20:00:00Z # comment\n"
                                   "mux R1 frequency 474167 tsid 0x0001 bitrate 3000000\n"
                                   "service 0x0101 \"Télé \\\"Une\\\"\" provider \"G\" lcn 1 "
                                   "pmt 0x0100 selector 0x05 elapsed 30\n"
                                   "stream mpeg2 0x0120\n"
                                   "stream ac3 0x0133 fra\n"
                                   "event 60 \"Titre\" \"Texte\"\n"
                                   "change 2.5\n"
                                   "stream h264 0x0121\n"
                                   "fault sync 1.5 97\n"
                                   "fault crc 0.5 0x11\n");
    ASSERT_TRUE(r.scenario) << r.error;
    const Scenario& s = *r.scenario;
    EXPECT_EQ(s.network_name, "Réseau");
    EXPECT_EQ(s.start_utc, 1796673600);
    ASSERT_EQ(s.muxes.size(), 1u);
    const ServiceSpec& svc = s.muxes[0].services.at(0);
    EXPECT_EQ(svc.name, "Télé \"Une\"");
    EXPECT_EQ(svc.name_selector, 0x05);
    EXPECT_EQ(svc.elapsed, 30);
    ASSERT_EQ(svc.phases.size(), 2u);
    EXPECT_EQ(svc.phases[0].streams.size(), 2u);
    EXPECT_EQ(svc.phases[1].start, 2.5);
    EXPECT_EQ(svc.phases[1].streams.at(0).kind, StreamKind::H264Video);
    EXPECT_EQ(svc.pcr_pid_of(svc.phases[0]), 0x120);
    EXPECT_EQ(svc.pcr_pid_of(svc.phases[1]), 0x121);
    EXPECT_EQ(svc.service_type(), 0x01);
    ASSERT_EQ(s.muxes[0].faults.size(), 2u);
    EXPECT_EQ(s.muxes[0].faults[0].kind, FaultKind::Sync);
    EXPECT_EQ(s.muxes[0].faults[1].pid, 0x11);
}

TEST(MuxgenScenario, VideoStatementAppliesToTheStreamsAfterIt) {
    ParseResult r = parse_scenario("video 176x144\n"
                                   "mux R1 frequency 474167 tsid 1\n"
                                   "service 0x101 \"A\" pmt 0x100\n"
                                   "stream mpeg2 0x120\n"
                                   "video 352x288 16:9\n"
                                   "stream h264 0x121\n");
    ASSERT_TRUE(r.scenario) << r.error;
    const auto& streams = r.scenario->muxes.at(0).services.at(0).phases.at(0).streams;
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].width, 176);
    EXPECT_EQ(streams[0].aspect, "");
    EXPECT_EQ(streams[1].height, 288);
    EXPECT_EQ(streams[1].aspect, "16:9");
    EXPECT_EQ(error_of("video 352x288 wide\n"),
              "line 1: bad aspect ratio 'wide', expected for example 16:9");
}

TEST(MuxgenScenario, ReportsMistakesWithTheirLine) {
    EXPECT_EQ(error_of("stream mpeg2 0x120\n"), "line 1: 'stream' before any mux");
    EXPECT_EQ(error_of(std::string(kMinimal) + "stream mp2 0x120\n"),
              "line 4: PID used twice in one service");
    EXPECT_EQ(error_of("mux R1 frequency 474167 tsid 1\nservice 1 \"Télé\" pmt 0x100\n"),
              "line 2: names with accents need a selector (0x05 or 0x0B)");
    EXPECT_EQ(error_of(std::string(kMinimal) + "change 2\nchange 1\n"),
              "line 5: changes come in time order, after the start");
    EXPECT_EQ(error_of(std::string(kMinimal) + "fault sync 1 376\n"),
              "line 4: a sync loss needs a byte count that is not a packet multiple");
    EXPECT_EQ(error_of(std::string(kMinimal) + "stream mp2 0x11\n"),
              "line 4: PID 0x11 is reserved for tables");
    EXPECT_EQ(error_of("mux R1 frequency 1 tsid 1\nmux R2 frequency 1 tsid 2\n"),
              "line 2: two multiplexes on 1 kHz");
    EXPECT_EQ(error_of("event 10 \"unterminated\n"), "line 1: unterminated quoted text");
    EXPECT_EQ(error_of(""), "line 0: no multiplex");
    EXPECT_FALSE(parse_utc("2026-13-01T00:00:00Z"));
    EXPECT_FALSE(parse_utc("2026-12-01 00:00:00"));
    EXPECT_EQ(parse_utc("1970-01-02T00:00:01Z"), 86401);
}

TEST(MuxgenText, EncodesFrenchForTheSelectedTable) {
    EXPECT_EQ(encode_dvb_text("Été à Noël", 0x05, 255), "\x05\xC9t\xE9 \xE0 No\xEBl");
    EXPECT_EQ(encode_dvb_text("œuvre 5 €", 0x05, 255), "\x05oeuvre 5 EUR");
    EXPECT_EQ(encode_dvb_text("œuvre 5 €", 0x0B, 255), "\x0B\xBDuvre 5 \xA4");
    EXPECT_EQ(encode_dvb_text("plain", -1, 255), "plain");
    EXPECT_FALSE(encode_dvb_text("é", -1, 255)) << "the default table is not Latin-1";
    EXPECT_FALSE(encode_dvb_text("\xC3", 0x05, 255)) << "cut UTF-8 sequence";
    EXPECT_FALSE(encode_dvb_text("\xC0\xA9", 0x05, 255)) << "overlong UTF-8";
    EXPECT_EQ(encode_dvb_text("abcdef", 0x05, 4), "\x05"
                                                  "abc");
    EXPECT_EQ(encode_dvb_text("abcdef", 0x05, 0), "\x05");
}

// Rebuilds the sections of one PID from packets made by packetize_sections.
std::vector<Section> reassemble(const std::vector<Packet>& packets) {
    std::vector<uint8_t> bytes;
    for (const Packet& p : packets) {
        size_t at = 4 + ((p[1] & 0x40) ? 1 : 0);
        bytes.insert(bytes.end(), p.begin() + long(at), p.end());
    }
    std::vector<Section> out;
    size_t pos = packets.empty() ? 0 : packets[0][4];
    while (pos + 3 <= bytes.size() && bytes[pos] != 0xFF) {
        size_t len = size_t(((bytes[pos + 1] & 0x0F) << 8) | bytes[pos + 2]) + 3;
        out.emplace_back(bytes.begin() + long(pos), bytes.begin() + long(pos + len));
        pos += len;
    }
    return out;
}

TEST(MuxgenPacketizer, PacksSectionsBackToBackWithPointerFields) {
    std::vector<Section> sections;
    for (size_t size : {40u, 150u, 400u, 20u})
        sections.push_back(build_private_section(1, 0, std::vector<uint8_t>(size, 0xAB)));
    uint8_t cc = 14;
    std::vector<Packet> packets = packetize_sections(0x55, sections, cc);
    size_t total = 0;
    for (const Section& s : sections)
        total += s.size();
    EXPECT_EQ(packets.size(), (total + 183) / 183);
    EXPECT_EQ(cc, uint8_t((14 + packets.size()) & 0x0F));
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i][0], 0x47);
        EXPECT_EQ(((packets[i][1] & 0x1F) << 8) | packets[i][2], 0x55);
        EXPECT_EQ(packets[i][3] & 0x0F, (14 + i) & 0x0F);
    }
    EXPECT_EQ(reassemble(packets), sections);
}

TEST(MuxgenPacketizer, PesEndsWithAdaptationStuffingAndKeepsItsTimestamps) {
    for (size_t size : {1u, 160u, 161u, 170u, 500u}) {
        std::vector<uint8_t> data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = uint8_t(i * 7);
        std::vector<uint8_t> pes = build_pes(0xE0, 0x1FFFFFFFF, 12345, data.data(), data.size());
        ASSERT_EQ(pes.size(), 19 + size);
        EXPECT_EQ(pes[7], 0xC0);
        EXPECT_EQ(((pes[4] << 8) | pes[5]), int(pes.size() - 6));
        uint8_t cc = 0;
        std::vector<Packet> packets = packetize_pes(0x120, pes, cc);
        std::vector<uint8_t> back;
        for (const Packet& p : packets) {
            size_t at = (p[3] & 0x20) ? 5 + p[4] : 4;
            back.insert(back.end(), p.begin() + long(at), p.end());
        }
        EXPECT_EQ(back, pes) << size;
        EXPECT_EQ(packets.front()[1] & 0x40, 0x40);
    }
    std::vector<uint8_t> audio = build_pes(0xC0, 90000, -1, nullptr, 0);
    EXPECT_EQ(audio[7], 0x80);
    EXPECT_EQ(audio[9] >> 4, 2);
    Packet pcr = pcr_packet(0x120, 3, 27000000ULL * 5 + 299);
    uint64_t base =
        (uint64_t(pcr[6]) << 25) | (pcr[7] << 17) | (pcr[8] << 9) | (pcr[9] << 1) | (pcr[10] >> 7);
    EXPECT_EQ(base * 300 + (((pcr[10] & 1) << 8) | pcr[11]), 27000000ULL * 5 + 299);
    EXPECT_EQ(pcr[3], 0x23) << "no payload, continuity counter repeated";
}

TEST(MuxgenElementary, CutsStreamsIntoAccessUnits) {
    Elementary mp2;
    // Two 384-byte frames (128 kbit/s at 48 kHz) with junk before and between them.
    mp2.data = {1, 2, 3};
    for (int f = 0; f < 2; ++f) {
        std::vector<uint8_t> frame(384, 0);
        frame[0] = 0xFF;
        frame[1] = 0xFD;
        frame[2] = 0x84;
        mp2.data.insert(mp2.data.end(), frame.begin(), frame.end());
        mp2.data.push_back(9);
    }
    ASSERT_TRUE(split_mpeg_audio(mp2));
    ASSERT_EQ(mp2.units.size(), 2u);
    EXPECT_EQ(mp2.units[0].offset, 3u);
    EXPECT_EQ(mp2.units[1].offset, 388u);
    EXPECT_EQ(mp2.period_90k, 2160u);

    Elementary ac3;
    ac3.data.assign(768 * 2 + 100, 0); // 192 kbit/s frames, then a cut one
    for (size_t at : {0u, 768u, 1536u}) {
        ac3.data[at] = 0x0B;
        ac3.data[at + 1] = 0x77;
        ac3.data[at + 4] = 0x14;
    }
    ASSERT_TRUE(split_ac3(ac3));
    EXPECT_EQ(ac3.units.size(), 2u);

    Elementary m2v;
    auto code = [&](uint8_t c) { m2v.data.insert(m2v.data.end(), {0, 0, 1, c, 0x55, 0x55}); };
    code(0xB3), code(0xB5), code(0xB8), code(0x00), code(0x01), code(0x00), code(0x01), code(0xB8),
        code(0x00), code(0x01);
    m2v.data.insert(m2v.data.end(), {0, 0, 1, 0xB7});
    ASSERT_TRUE(split_mpeg2_video(m2v));
    ASSERT_EQ(m2v.units.size(), 3u);
    EXPECT_EQ(m2v.units[0].offset, 0u);
    EXPECT_EQ(m2v.units[1].offset, 30u);
    EXPECT_EQ(m2v.units[2].offset, 42u);
    EXPECT_EQ(m2v.units[2].size, 18u) << "the sequence end code is dropped";

    Elementary avc;
    avc.data = {0,    0, 0, 1, 0x09, 0xF0, 0,    0,    1, 0x67, 1, 0,    0, 1,
                0x65, 2, 0, 0, 0,    1,    0x09, 0xF0, 0, 0,    1, 0x41, 3};
    ASSERT_TRUE(split_h264(avc));
    ASSERT_EQ(avc.units.size(), 2u);
    EXPECT_EQ(avc.units[1].offset, 16u);
}

// Today's audio tracks: E-AC-3 with its descriptor, the ISO 639 audio type and the
// supplementary audio descriptor, as the PMT carries them.
TEST(MuxgenScenario, TodaysAudioTracksCarryTheirDescriptors) {
    struct Row {
        const char* line;
        StreamKind kind;
        std::vector<std::vector<uint8_t>> descriptors; // tag, length, body
        const char* error;
    };
    const Row rows[] = {
        {"stream eac3 0x130 fre",
         StreamKind::Eac3Audio,
         {{0x0A, 4, 'f', 'r', 'e', 0}, {0x7A, 1, 0}},
         ""},
        {"stream eac3 0x130 qad audiotype 3",
         StreamKind::Eac3Audio,
         {{0x0A, 4, 'q', 'a', 'd', 3}, {0x7A, 1, 0}},
         ""},
        {"stream eac3 0x130 qad supplementary 1",
         StreamKind::Eac3Audio,
         {{0x0A, 4, 'q', 'a', 'd', 0}, {0x7A, 1, 0}, {0x7F, 5, 0x06, 0x87, 'q', 'a', 'd'}},
         ""},
        {"stream mp2 0x130 fre", StreamKind::Mp2Audio, {{0x0A, 4, 'f', 'r', 'e', 0}}, ""},
        {"stream eac3 0x130 fre loud 1", StreamKind::Eac3Audio, {}, "unknown stream option"},
        {"stream eac3 0x130 fre audiotype", StreamKind::Eac3Audio, {}, "needs a value"},
        {"stream eac3 0x130 fre supplementary 8", StreamKind::Eac3Audio, {}, "line 3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const std::string text = "mux R1 frequency 474167 tsid 1\n"
                                 "service 0x101 \"A\" pmt 0x100\n" +
                                 std::string(row.line) + "\n";
        ParseResult r = parse_scenario(text);
        if (*row.error) {
            EXPECT_FALSE(r.scenario);
            EXPECT_NE(r.error.find(row.error), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r.scenario) << r.error;
        const ServiceSpec& service = r.scenario->muxes[0].services[0];
        EXPECT_EQ(service.phases[0].streams[0].kind, row.kind);
        EXPECT_EQ(service.service_type(), 0x02) << "sound only";
        const Section pmt = build_pmt(service, 0, 0).at(0);
        // The one stream's loop: after the 12-byte header and an empty program loop.
        ASSERT_GE(pmt.size(), 17u + 4u);
        EXPECT_EQ(pmt[12], stream_type_of(row.kind));
        const size_t loop = size_t((pmt[15] & 0x0F) << 8 | pmt[16]);
        ASSERT_EQ(17 + loop + 4, pmt.size());
        std::vector<uint8_t> expected;
        for (const auto& d : row.descriptors)
            expected.insert(expected.end(), d.begin(), d.end());
        EXPECT_EQ(std::vector<uint8_t>(pmt.begin() + 17, pmt.begin() + 17 + long(loop)), expected);
    }
}

TEST(MuxgenElementary, CutsEnhancedAc3FramesBySizeField) {
    // A frame header: sync, strmtyp 0 / substream 0 / frmsiz, fscod 0 numblkscod 3 (six
    // blocks), then bsid 16.
    auto frame = [](size_t words, uint8_t blocksCode, uint8_t bsid) {
        std::vector<uint8_t> f(words * 2, 0x55);
        const size_t field = words - 1;
        f[0] = 0x0B;
        f[1] = 0x77;
        f[2] = uint8_t(field >> 8 & 0x07);
        f[3] = uint8_t(field & 0xFF);
        f[4] = uint8_t(blocksCode << 4);
        f[5] = uint8_t(bsid << 3);
        return f;
    };
    struct Row {
        const char* what;
        std::vector<std::vector<uint8_t>> pieces;
        std::vector<AccessUnit> units;
        uint32_t period;
    };
    const std::vector<uint8_t> junk = {0x00, 0x0B, 0x12};
    const Row rows[] = {
        {"two frames of six blocks",
         {frame(100, 3, 16), frame(120, 3, 16)},
         {{0, 200}, {200, 240}},
         2880},
        {"leading junk and a frame of one block", {junk, frame(64, 0, 16)}, {{3, 128}}, 480},
        {"an AC-3 frame (bsid 8) is not E-AC-3", {frame(64, 3, 8)}, {}, 2880},
        {"a frame cut short ends the stream",
         {frame(64, 3, 16), frame(400, 3, 16)},
         {{0, 128}},
         2880},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Elementary es;
        for (const auto& piece : row.pieces)
            es.data.insert(es.data.end(), piece.begin(), piece.end());
        if (std::string(row.what).find("cut short") != std::string::npos)
            es.data.resize(128 + 300);
        EXPECT_EQ(split_eac3(es), !row.units.empty());
        ASSERT_EQ(es.units.size(), row.units.size());
        for (size_t i = 0; i < row.units.size(); ++i) {
            EXPECT_EQ(es.units[i].offset, row.units[i].offset);
            EXPECT_EQ(es.units[i].size, row.units[i].size);
        }
        EXPECT_EQ(es.period_90k, row.period);
    }
}

TEST(MuxgenGuide, EventsChainFromTheStartAndCycle) {
    Scenario sc;
    ServiceSpec s;
    s.elapsed = 10;
    s.events = {{30, "A", ""}, {20, "B", ""}};
    EventTiming present, following;
    ASSERT_TRUE(event_at(sc, s, sc.start_utc, present, following));
    EXPECT_EQ(present.index, 0u);
    EXPECT_EQ(present.start, sc.start_utc - 10);
    EXPECT_EQ(following.start, sc.start_utc + 20);
    ASSERT_TRUE(event_at(sc, s, sc.start_utc + 20, present, following));
    EXPECT_EQ(present.index, 1u);
    EXPECT_EQ(following.index, 0u);
    uint16_t first_round = following.event_id;
    ASSERT_TRUE(event_at(sc, s, sc.start_utc + 40, present, following));
    EXPECT_EQ(present.index, 0u);
    EXPECT_EQ(present.event_id, first_round) << "the next round has new event ids";
    EXPECT_NE(present.event_id, 1);
    ASSERT_TRUE(event_at(sc, s, sc.start_utc - 100, present, following));
    EXPECT_LE(present.start, sc.start_utc - 100);
    EXPECT_GT(present.start + s.events[present.index].duration, sc.start_utc - 100);
    s.events.clear();
    EXPECT_FALSE(event_at(sc, s, sc.start_utc, present, following));
}

} // namespace
