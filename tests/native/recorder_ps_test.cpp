#include "recorder_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace korvane;
using namespace korvane::recorder_test;

namespace {

constexpr int kVideo = 0x100;
constexpr int kAudio = 0x101;

const RecorderSettings kPs = RecorderSettings::channelPs(kVideo, kAudio);

struct PsUnit {
    bool pack;
    std::size_t offset;
    std::size_t size;
};

// Walks a program stream as a reader would: pack headers (with their stuffing) and PES
// packets by their length field. Fails the test on anything else or on a cut unit.
std::vector<PsUnit> walkProgramStream(const Bytes& ps) {
    std::vector<PsUnit> units;
    std::size_t pos = 0;
    while (pos < ps.size()) {
        EXPECT_GE(ps.size() - pos, 6u);
        if (ps.size() - pos < 6 || ps[pos] != 0 || ps[pos + 1] != 0 || ps[pos + 2] != 1) {
            ADD_FAILURE() << "no start code at " << pos;
            break;
        }
        std::size_t size;
        bool pack = ps[pos + 3] == 0xBA;
        if (pack)
            size = 14 + (pos + 13 < ps.size() ? (ps[pos + 13] & 0x07) : 0);
        else
            size = 6 + ((ps[pos + 4] << 8) | ps[pos + 5]);
        if (pos + size > ps.size()) {
            ADD_FAILURE() << "unit cut at " << pos;
            break;
        }
        units.push_back({pack, pos, size});
        pos += size;
    }
    return units;
}

// SCR base and extension as a decoder reads them from a pack header; -1 on a marker error.
int64_t scrOf(const uint8_t* h, int* ext) {
    if ((h[4] & 0xC4) != 0x44 || (h[6] & 0x04) == 0 || (h[8] & 0x04) == 0 || (h[9] & 1) == 0)
        return -1;
    int64_t base = (int64_t{(h[4] >> 3) & 7} << 30) | (int64_t{h[4] & 3} << 28) |
                   (int64_t{h[5]} << 20) | (int64_t{(h[6] >> 3) & 0x1F} << 15) |
                   (int64_t{h[6] & 3} << 13) | (int64_t{h[7]} << 5) | ((h[8] >> 3) & 0x1F);
    *ext = ((h[8] & 3) << 7) | (h[9] >> 1);
    return base;
}

Bytes startPacketWithShortPayload(int pid, uint8_t cc, std::size_t payload) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(0x40 | (pid >> 8));
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x30 | cc);
    p[4] = static_cast<uint8_t>(183 - payload);
    p[5] = 0x00;
    for (std::size_t i = 0; i < payload; ++i)
        p[188 - payload + i] = static_cast<uint8_t>(i == 2 ? 1 : 0);
    return p;
}

// A packet without payload whose adaptation field holds only a PCR.
Bytes pcrOnlyPacket(int pid, uint8_t cc, const Bytes& pcr) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(pid >> 8);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = static_cast<uint8_t>(0x20 | (cc & 0x0F));
    p[4] = 183;
    p[5] = 0x10;
    std::copy(pcr.begin(), pcr.end(), p.begin() + 6);
    return p;
}

// The SCR bases of a program stream's pack headers, in order.
std::vector<int64_t> packScrs(const Bytes& ps) {
    std::vector<int64_t> scrs;
    for (const PsUnit& u : walkProgramStream(ps)) {
        int ext = 0;
        if (u.pack)
            scrs.push_back(scrOf(ps.data() + u.offset, &ext));
    }
    return scrs;
}

// A channel whose PCR rides in payload packets of the video PID, with what the recorder must
// pass over: PCRs on the audio PID and on a PID of no interest, adaptation-only packets
// without a PCR, and one with a PCR followed by a video PES start without one (as in
// multiplexers that also send PCR-only packets), a PCR flag in a too-short adaptation field,
// a continuity break, a video PES longer than one PES packet, null packets.
Bytes payloadPcrStream() {
    uint8_t vcc = 0, acc = 0, occ = 0;
    Bytes ts = packetizePes(kAudio, pesOf(0xC0, 600, 5), acc);
    append(ts, packetizePes(kVideo, pesOf(0xE0, 3000, 1), vcc, pcrBytes(90000, 12)));
    append(ts, packetizePes(kAudio, pesOf(0xC0, 900, 6), acc, pcrBytes(123456, 0)));
    append(ts, pcrOnlyPacket(0x1F0, occ++, pcrBytes(777, 0)));
    append(ts, packetizePes(kVideo, pesOf(0xE0, 70000, 2), vcc, pcrBytes(93600, 0)));
    Bytes noPcr = pcrOnlyPacket(kVideo, vcc, pcrBytes(1, 0));
    noPcr[5] = 0x00;
    append(ts, noPcr);
    Bytes shortField = startPacketWithShortPayload(kVideo, vcc, 100);
    shortField[4] = 3;
    shortField[5] = 0x10;
    std::copy_n(pesOf(0xE0, 180, 3).begin(), 180, shortField.begin() + 8);
    append(ts, shortField);
    vcc = static_cast<uint8_t>((vcc + 1) & 0x0F);
    append(ts, tsPacket(0x1FFF, 0, 0xFF));
    append(ts, packetizePes(kAudio, pesOf(0xC0, 900, 7), acc));
    vcc = static_cast<uint8_t>((vcc + 3) & 0x0F); // continuity break
    append(ts, packetizePes(kVideo, pesOf(0xE0, 5000, 4), vcc, pcrBytes(97200, 299)));
    append(ts, pcrOnlyPacket(kVideo, vcc, pcrBytes(98000, 0)));
    append(ts, packetizePes(kVideo, pesOf(0xE0, 800, 8), vcc));
    append(ts, packetizePes(kAudio, pesOf(0xC0, 300, 9), acc));
    return ts;
}

} // namespace

TEST(RecorderPackHeader, CarriesThePcrAsScrWithMarkerBits) {
    Bytes pcr = {0x91, 0xA2, 0xB3, 0xC4, 0xFE, 0x12};
    uint8_t cc = 0;
    Bytes out = recordWhole(kPs, packetizePes(kVideo, pesOf(0xE0, 100), cc, pcr));
    ASSERT_GE(out.size(), 14u);
    Bytes expected = {0x00, 0x00, 0x01, 0xBA, 0x66, 0x34, 0x57,
                      0x3C, 0x4C, 0x25, 0x00, 0xA0, 0x03, 0xF8};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 14), expected);

    std::mt19937_64 rng(42);
    for (int i = 0; i < 200; ++i) {
        uint64_t base = rng() & ((uint64_t{1} << 33) - 1);
        uint16_t extension = static_cast<uint16_t>(rng() % 300);
        uint8_t c = 0;
        Bytes ps =
            recordWhole(kPs, packetizePes(kVideo, pesOf(0xE0, 50), c, pcrBytes(base, extension)));
        ASSERT_GE(ps.size(), 14u);
        int ext = -1;
        EXPECT_EQ(scrOf(ps.data(), &ext), static_cast<int64_t>(base));
        EXPECT_EQ(ext, extension);
    }
}

// Many multiplexers send the PCR in packets of the video PID that carry no payload: the next
// video PES start gets a pack header from the latest one, so the recording is not left empty.
TEST(RecorderPackHeader, PcrInAdaptationOnlyPacketsOfTheVideoPidGivesPackHeaders) {
    Bytes ts;
    uint8_t cc = 0;
    const Bytes first = pesOf(0xE0, 1000, 1), second = pesOf(0xE0, 1000, 2);
    append(ts, pcrOnlyPacket(kVideo, 0, pcrBytes(900, 7)));
    append(ts, pcrOnlyPacket(kVideo, 0, pcrBytes(1000, 7)));
    append(ts, packetizePes(kVideo, first, cc));
    append(ts, pcrOnlyPacket(kVideo, cc, pcrBytes(4600, 0)));
    append(ts, packetizePes(kVideo, second, cc));
    append(ts, packetizePes(kVideo, pesOf(0xE0, 500, 3), cc));
    for (const RecorderSettings& s : {kPs, RecorderSettings::channelPs(kVideo, kAudio, kVideo),
                                      RecorderSettings::channelPs(kVideo, kAudio, 0x1FFF)}) {
        const Bytes out = recordWhole(s, ts);
        // Each PCR serves once: the third PES, with none since, has no pack header.
        EXPECT_EQ(packScrs(out), (std::vector<int64_t>{1000, 4600}));
        auto units = walkProgramStream(out);
        ASSERT_EQ(units.size(), 5u);
        EXPECT_TRUE(units[0].pack && units[2].pack);
        EXPECT_EQ(units[1].size, first.size());
        EXPECT_EQ(units[3].size, second.size());
    }
}

// When the channel's PCR travels on a PID of its own, the pack headers take it from there,
// in payload packets or not, and a PCR on the video PID no longer counts.
TEST(RecorderPackHeader, PcrOnTheChannelsOwnPcrPid) {
    constexpr int kPcr = 0x1F0;
    uint8_t vcc = 0, acc = 0, pcc = 0;
    const Bytes video = pesOf(0xE0, 3000), audio = pesOf(0xC0, 700);
    Bytes ts = pcrOnlyPacket(kPcr, 0, pcrBytes(500, 0));
    append(ts, packetizePes(kVideo, video, vcc, pcrBytes(99999, 0)));
    append(ts, packetizePes(kPcr, pesOf(0xBD, 10), pcc, pcrBytes(900, 0)));
    append(ts, packetizePes(kAudio, audio, acc));
    append(ts, packetizePes(kVideo, pesOf(0xE0, 200), vcc));
    append(ts, packetizePes(kAudio, pesOf(0xC0, 100), acc));
    const Bytes out = recordWhole(RecorderSettings::channelPs(kVideo, kAudio, kPcr), ts);
    EXPECT_EQ(packScrs(out), (std::vector<int64_t>{500, 900}));
    auto units = walkProgramStream(out);
    ASSERT_EQ(units.size(), 6u); // pack, video, pack, audio, then what finish writes
    EXPECT_EQ(units[1].size, video.size());
    EXPECT_EQ(units[3].size, audio.size());

    // The PCR riding on the audio PID, in its payload packets.
    acc = vcc = 0;
    Bytes onAudio = packetizePes(kAudio, audio, acc, pcrBytes(700, 0));
    append(onAudio, packetizePes(kVideo, pesOf(0xE0, 200), vcc));
    append(onAudio, packetizePes(kAudio, pesOf(0xC0, 100), acc));
    EXPECT_EQ(packScrs(recordWhole(RecorderSettings::channelPs(kVideo, kAudio, kAudio), onAudio)),
              (std::vector<int64_t>{700}));
    EXPECT_TRUE(recordWhole(kPs, onAudio).empty());
}

// Streams whose PCR rides in payload packets of the video PID are written exactly as before
// adaptation-only PCRs and PCR PIDs were taken: the expected file was recorded from this
// stream by the recorder that took the PCR from those packets only.
TEST(RecorderPackHeader, PayloadPcrStreamsKeepTheirBytes) {
    const std::string path =
        std::string(KORVANE_SOURCE_DIR) + "/tests/native/data/recorder_payload_pcr.mpg";
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    const Bytes expected{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const Bytes ts = payloadPcrStream();
    for (const RecorderSettings& s : {kPs, RecorderSettings::channelPs(kVideo, kAudio, kVideo)}) {
        EXPECT_EQ(recordWhole(s, ts), expected);
        EXPECT_EQ(recordSplit(s, ts, 7, 700), expected);
    }
}

TEST(RecorderPackHeader, PcrFlagInATooShortAdaptationFieldIsIgnored) {
    // Adaptation field of 3 bytes claims a PCR: the six PCR bytes would come from the payload.
    Bytes p = startPacketWithShortPayload(kVideo, 0, 100);
    p[4] = 3;
    p[5] = 0x10;
    std::copy_n(pesOf(0xE0, 180).begin(), 180, p.begin() + 8);
    EXPECT_TRUE(recordWhole(kPs, p).empty());
}

TEST(RecorderPes, DataBeforeTheFirstPackHeaderIsDroppedAndTheFileStartsWithOne) {
    uint8_t cc = 0;
    Bytes ts = packetizePes(kVideo, pesOf(0xE0, 900, 3), cc);
    Bytes second = pesOf(0xE0, 700, 9);
    append(ts, packetizePes(kVideo, second, cc, pcrBytes(1000, 0)));
    Bytes out = recordWhole(kPs, ts);
    auto units = walkProgramStream(out);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_TRUE(units[0].pack);
    EXPECT_EQ(units[1].size, second.size());
    EXPECT_TRUE(std::equal(out.begin() + 20, out.end(), second.begin() + 6));
}

TEST(RecorderPes, LongVideoPesLeavesAsPacketsWithContinuationHeaders) {
    Bytes pes = pesOf(0xE0, 200000);
    uint8_t cc = 0;
    Bytes ts = packetizePes(kVideo, pes, cc, pcrBytes(77, 0));
    append(ts, packetizePes(kVideo, pesOf(0xE0, 50), cc)); // ends the long PES
    MemorySink sink;
    auto r = makeRecorder(kPs, sink);
    r->processBuffer(ts.data(), ts.size());
    const Bytes& out = sink.bytes;
    ASSERT_EQ(out.size(), 14u + 200027u);

    const std::size_t sizes[] = {65541, 65541, 65541, 3404};
    std::size_t pos = 14;
    std::size_t source = 9; // bytes of pes already placed, past its 9-byte header
    for (int i = 0; i < 4; ++i) {
        const uint8_t* unit = out.data() + pos;
        EXPECT_EQ(Bytes(unit, unit + 4), Bytes({0x00, 0x00, 0x01, 0xE0})) << i;
        std::size_t length = (unit[4] << 8) | unit[5];
        EXPECT_EQ(length, i < 3 ? 0xFFFFu : 3398u) << i;
        if (i == 0) {
            EXPECT_EQ(Bytes(unit + 6, unit + 9), Bytes(pes.begin() + 6, pes.begin() + 9));
        } else {
            EXPECT_EQ(unit[6], pes[6] & ~0x04) << i;
            EXPECT_EQ(unit[7], 0) << i;
            EXPECT_EQ(unit[8], 0) << i;
        }
        std::size_t data = sizes[i] - 9;
        EXPECT_TRUE(std::equal(unit + 9, unit + sizes[i], pes.begin() + static_cast<long>(source)))
            << i;
        source += data;
        pos += sizes[i];
    }
    EXPECT_EQ(source, pes.size());
}

TEST(RecorderPes, ContinuityBreakEndsThePesAndDropsUntilTheNextStart) {
    uint8_t cc = 0;
    Bytes first = pesOf(0xE0, 1000, 1);
    Bytes ts = packetizePes(kVideo, first, cc, pcrBytes(500, 0));
    cc = static_cast<uint8_t>(cc + 3); // two packets lost
    append(ts, tsPacket(kVideo, cc++, 0x11));
    append(ts, tsPacket(kVideo, cc++, 0x22));
    Bytes second = pesOf(0xE0, 600, 2);
    append(ts, packetizePes(kVideo, second, cc));
    Bytes out = recordWhole(kPs, ts);
    auto units = walkProgramStream(out);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[1].size, first.size());
    EXPECT_EQ(units[2].size, second.size());
    EXPECT_EQ(out.size(), 14 + first.size() + second.size());
}

TEST(RecorderPes, AdaptationOnlyPacketsDoNotBreakContinuity) {
    uint8_t cc = 0;
    Bytes pes = pesOf(0xE0, 2000);
    Bytes ts = packetizePes(kVideo, pes, cc, pcrBytes(9, 0));
    // Repeat, after every payload packet, an adaptation-only packet with the same counter.
    Bytes mixed;
    for (std::size_t i = 0; i < ts.size(); i += 188) {
        Bytes p(ts.begin() + static_cast<long>(i), ts.begin() + static_cast<long>(i + 188));
        append(mixed, p);
        Bytes a(188, 0xFF);
        a[0] = 0x47;
        a[1] = p[1] & 0x1F;
        a[2] = p[2];
        a[3] = static_cast<uint8_t>(0x20 | (p[3] & 0x0F));
        a[4] = 183;
        a[5] = 0;
        append(mixed, a);
    }
    auto units = walkProgramStream(recordWhole(kPs, mixed));
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[1].size, pes.size());
}

TEST(RecorderPes, AudioPesGetsItsLengthAndZeroAudioPidNeverMatchesThePat) {
    uint8_t vcc = 0, acc = 0, pcc = 0;
    Bytes audio = pesOf(0xC0, 1500);
    Bytes ts = packetizePes(kVideo, pesOf(0xE0, 300), vcc, pcrBytes(3, 0));
    append(ts, packetizePes(kAudio, audio, acc));
    append(ts, packetizePes(0, pesOf(0xBD, 100), pcc));
    append(ts, packetizePes(kAudio, pesOf(0xC0, 10), acc));
    Bytes out = recordWhole(kPs, ts);
    auto units = walkProgramStream(out);
    ASSERT_EQ(units.size(), 4u); // pack, audio, audio, then the video at the end
    EXPECT_EQ(units[1].size, audio.size());
    EXPECT_EQ(out[units[1].offset + 3], 0xC0);

    Bytes noAudio = recordWhole(RecorderSettings::channelPs(kVideo, 0), ts);
    for (auto& u : walkProgramStream(noAudio))
        EXPECT_TRUE(u.pack || noAudio[u.offset + 3] == 0xE0);
}

TEST(RecorderPes, PesShorterThanItsFixedHeaderIsDropped) {
    uint8_t cc = 0;
    Bytes ts = packetizePes(kVideo, pesOf(0xE0, 400), cc, pcrBytes(3, 0));
    append(ts, startPacketWithShortPayload(kVideo, cc, 3));
    cc = static_cast<uint8_t>((cc + 1) & 0x0F);
    append(ts, startPacketWithShortPayload(kAudio, 0, 4));
    append(ts, packetizePes(kVideo, pesOf(0xE0, 300), cc));
    append(ts, packetizePes(kAudio, pesOf(0xC0, 200), cc));
    auto units = walkProgramStream(recordWhole(kPs, ts));
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[1].size, 400u);
}

TEST(RecorderPes, AdaptationLengthsReachingPastThePacketCarryNoPayload) {
    uint8_t cc = 0;
    Bytes ts = packetizePes(kVideo, pesOf(0xE0, 400), cc, pcrBytes(3, 0));
    for (int a : {183, 184, 200, 255}) {
        Bytes p = tsPacket(kVideo, cc, 0x5A);
        cc = static_cast<uint8_t>((cc + 1) & 0x0F);
        p[3] |= 0x20;
        p[4] = static_cast<uint8_t>(a);
        append(ts, p);
    }
    Bytes out = recordWhole(kPs, ts);
    auto units = walkProgramStream(out);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[1].size, 400u);
    EXPECT_EQ(out.size(), 14u + 400u);
}

TEST(RecorderPes, VideoPesLargerThanTheBufferIsKeptWhole) {
    uint8_t cc = 0;
    Bytes ts = packetizePes(kVideo, pesOf(0xE0, 270000), cc, pcrBytes(3, 0));
    Bytes out = recordWhole(kPs, ts);
    // All 270000 bytes, as one full PES packet and three more with continuation headers, then
    // the 7863-byte rest behind its own.
    EXPECT_EQ(out.size(), 14u + 270000u + 36u);
    EXPECT_EQ(walkProgramStream(out).size(), 6u);
}

TEST(RecorderPes, FinishWritesWhatIsStillCollectedOnce) {
    uint8_t vcc = 0, acc = 0;
    Bytes ts = packetizePes(kVideo, pesOf(0xE0, 5000), vcc, pcrBytes(3, 0));
    append(ts, packetizePes(kAudio, pesOf(0xC0, 800), acc));
    MemorySink sink;
    auto r = makeRecorder(kPs, sink);
    r->processBuffer(ts.data(), ts.size());
    EXPECT_EQ(sink.bytes.size(), 14u);
    EXPECT_TRUE(r->finish());
    auto units = walkProgramStream(sink.bytes);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[1].size, 5000u);
    EXPECT_EQ(units[2].size, 800u);
    std::size_t written = sink.bytes.size();
    EXPECT_TRUE(r->finish());
    r.reset();
    EXPECT_EQ(sink.bytes.size(), written);
}
