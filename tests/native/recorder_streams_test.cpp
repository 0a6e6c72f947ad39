#include "app/recorded_streams.h"
#include "recorder_test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace korvane;
using namespace korvane::recorder_test;

namespace {

constexpr int kVideo = 0x100;
constexpr int kAudio = 0x101;
constexpr int kPmt = 0x80;

struct Unit {
    uint8_t id; // 0xBA for a pack header
    std::size_t offset;
    std::size_t size;
};

// A program stream cut into its units by their length fields; a cut or unknown unit ends the
// walk with a test failure.
std::vector<Unit> unitsOf(const Bytes& ps) {
    std::vector<Unit> units;
    std::size_t pos = 0;
    while (pos + 6 <= ps.size() && ps[pos] == 0 && ps[pos + 1] == 0 && ps[pos + 2] == 1) {
        const uint8_t id = ps[pos + 3];
        const std::size_t size = id == 0xBA ? 14 : 6 + ((ps[pos + 4] << 8) | ps[pos + 5]);
        if (pos + size > ps.size())
            break;
        units.push_back({id, pos, size});
        pos += size;
    }
    EXPECT_EQ(pos, ps.size()) << "unreadable unit at " << pos;
    return units;
}

// The video elementary bytes of a program stream: every 0xE0 packet past its PES header.
Bytes videoPayload(const Bytes& ps) {
    Bytes es;
    for (const Unit& u : unitsOf(ps)) {
        if (u.id != 0xE0)
            continue;
        const std::size_t header = 9 + ps[u.offset + 8];
        es.insert(es.end(), ps.begin() + static_cast<long>(u.offset + header),
                  ps.begin() + static_cast<long>(u.offset + u.size));
    }
    return es;
}

uint32_t crcOf(const uint8_t* data, std::size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i)
        for (int bit = 7; bit >= 0; --bit)
            crc = ((crc >> 31) ^ ((data[i] >> bit) & 1)) != 0 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    return crc;
}

// The (stream type, stream id) entries of every program stream map, checking each one's
// lengths and CRC.
std::vector<std::vector<std::pair<int, int>>> streamMaps(const Bytes& ps) {
    std::vector<std::vector<std::pair<int, int>>> maps;
    for (const Unit& u : unitsOf(ps)) {
        if (u.id != 0xBC)
            continue;
        const uint8_t* m = ps.data() + u.offset;
        EXPECT_EQ(crcOf(m, u.size), 0u) << "stream map CRC";
        EXPECT_EQ(m[6] & 0x80, 0x80) << "current_next_indicator";
        const std::size_t info = (m[8] << 8) | m[9];
        const std::size_t entries = (m[10 + info] << 8) | m[11 + info];
        EXPECT_EQ(u.size, 16 + info + entries);
        std::vector<std::pair<int, int>> entry;
        for (std::size_t i = 12 + info; i + 4 <= 12 + info + entries; i += 4)
            entry.emplace_back(m[i], m[i + 1]);
        maps.push_back(entry);
    }
    return maps;
}

using Map = std::vector<std::pair<int, int>>;

} // namespace

TEST(RecorderLargeFrames, VideoPesOfAnySizeIsWrittenWhole) {
    struct Case {
        std::size_t size;
        bool pcrFirst; // false: no pack header yet, the PES is dropped whole
    };
    for (const Case c : {Case{270000, true}, Case{600000, true}, Case{1100000, true},
                         Case{262144, true}, Case{400000, false}}) {
        SCOPED_TRACE(c.size);
        uint8_t cc = 0;
        const Bytes big = pesOf(0xE0, c.size, 3);
        Bytes ts = packetizePes(kVideo, big, cc, c.pcrFirst ? pcrBytes(100, 0) : Bytes{});
        const Bytes next = pesOf(0xE0, 500, 4);
        append(ts, packetizePes(kVideo, next, cc, pcrBytes(4000, 0)));
        const RecorderSettings settings = RecorderSettings::channelPs(kVideo, kAudio);
        const Bytes whole = recordWhole(settings, ts);
        // pesOf's headers carry 5 bytes of PTS after the fixed 9.
        Bytes expected;
        if (c.pcrFirst)
            expected.assign(big.begin() + 14, big.end());
        expected.insert(expected.end(), next.begin() + 14, next.end());
        EXPECT_EQ(videoPayload(whole), expected);
        for (const Unit& u : unitsOf(whole))
            EXPECT_TRUE(u.id == 0xBA || u.id == 0xE0);
        EXPECT_EQ(recordSplit(settings, ts, static_cast<uint32_t>(c.size), 5000), whole);
    }
}

TEST(RecorderStreamMap, H264PicturesGetAMapNamingEachStream) {
    struct Case {
        VideoCodec video;
        AudioCodec audio;
        int audioPid;
        uint8_t audioId;
        std::vector<Map> maps;
    };
    const Case cases[] = {
        {VideoCodec::Mpeg2, AudioCodec::Mpeg, kAudio, 0xC0, {}},
        {VideoCodec::Mpeg2, AudioCodec::Ac3, kAudio, 0xBD, {}},
        {VideoCodec::H264, AudioCodec::Eac3, kAudio, 0xBD, {{{0x1B, 0xE0}, {0x06, 0xBD}}}},
        {VideoCodec::H264, AudioCodec::Ac3, kAudio, 0xBD, {{{0x1B, 0xE0}, {0x06, 0xBD}}}},
        {VideoCodec::H264, AudioCodec::Mpeg, kAudio, 0xC1, {{{0x1B, 0xE0}, {0x03, 0xC1}}}},
        {VideoCodec::H264, AudioCodec::Eac3, 0, 0xBD, {{{0x1B, 0xE0}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.video) * 10 + static_cast<int>(c.audio));
        uint8_t vcc = 0, acc = 0;
        Bytes ts = packetizePes(kAudio, pesOf(c.audioId, 300, 1), acc);
        append(ts, packetizePes(kVideo, pesOf(0xE0, 2000, 2), vcc, pcrBytes(900, 0)));
        append(ts, packetizePes(kAudio, pesOf(c.audioId, 300, 1), acc));
        append(ts, packetizePes(kVideo, pesOf(0xE0, 1000, 2), vcc, pcrBytes(4500, 0)));
        const Bytes out =
            recordWhole(RecorderSettings::channelPs(kVideo, c.audioPid, 0, c.video, c.audio), ts);
        EXPECT_EQ(streamMaps(out), c.maps);
        const auto units = unitsOf(out);
        ASSERT_GE(units.size(), 2u);
        EXPECT_EQ(units[0].id, 0xBA);
        // The map comes before any stream it names, right after the first pack header.
        EXPECT_EQ(units[1].id, c.maps.empty() ? (c.audioPid ? c.audioId : 0xE0) : 0xBC);
        // Without H.264 the output is what it always was: the MPEG-2 settings' bytes.
        if (c.maps.empty())
            EXPECT_EQ(out, recordWhole(RecorderSettings::channelPs(kVideo, c.audioPid), ts));
    }
}

namespace {

// Old PIDs until the change, new ones after it; both sets go on all along, as when a PMT
// moves a channel's streams while the old PIDs still carry something.
struct SwitchRun {
    Bytes before;
    Bytes after;
};

SwitchRun switchingStream() {
    uint8_t cc[0x400] = {};
    auto pes = [&](int pid, uint8_t id, std::size_t size, uint64_t pcr) {
        return packetizePes(pid, pesOf(id, size, static_cast<uint8_t>(pid)), cc[pid],
                            pcr ? pcrBytes(pcr, 0) : Bytes{});
    };
    SwitchRun run;
    for (Bytes* part : {&run.before, &run.after}) {
        for (int i = 0; i < 3; ++i) {
            append(*part, tsPacket(0, cc[0]++ & 0x0F, 0x00, true));
            append(*part, tsPacket(kPmt, cc[kPmt]++ & 0x0F, 0x02, true));
            append(*part, pes(kVideo, 0xE0, 1500, 900 + 3600 * i));
            append(*part, pes(kAudio, 0xC0, 400, 0));
            append(*part, pes(0x200, 0xE0, 1200, 900 + 3600 * i));
            append(*part, pes(0x201, 0xBD, 300, 0));
        }
    }
    return run;
}

} // namespace

TEST(RecorderStreamChange, FollowsTheNewPidsFromTheNextBuffer) {
    struct Case {
        const char* name;
        RecorderSettings first;
        RecorderSettings next;
        std::vector<int> pidsAfter;    // channel TS
        std::vector<uint8_t> idsAfter; // channel PS: stream ids after the change
        std::vector<Map> maps;         // channel PS
    };
    const Case cases[] = {
        {"ts",
         RecorderSettings::channelTs(kPmt, kVideo, kAudio),
         RecorderSettings::channelTs(kPmt, 0x200, 0x201),
         {0, kPmt, 0x200, 0x201},
         {},
         {}},
        {"ts, audio only",
         RecorderSettings::channelTs(kPmt, kVideo, kAudio),
         RecorderSettings::channelTs(kPmt, kVideo, 0x201),
         {0, kPmt, kVideo, 0x201},
         {},
         {}},
        {"ps to h264",
         RecorderSettings::channelPs(kVideo, kAudio),
         RecorderSettings::channelPs(0x200, 0x201, 0, VideoCodec::H264, AudioCodec::Eac3),
         {},
         {0xBD, 0xE0},
         {{{0x1B, 0xE0}, {0x06, 0xBD}}}},
        {"ps from h264",
         RecorderSettings::channelPs(kVideo, kAudio, 0, VideoCodec::H264),
         RecorderSettings::channelPs(0x200, 0x201, 0, VideoCodec::Mpeg2, AudioCodec::Ac3),
         {},
         {0xBD, 0xE0},
         {{{0x1B, 0xE0}, {0x03, 0xC0}}, {{0x02, 0xE0}, {0x06, 0xBD}}}},
        {"ps, same streams",
         RecorderSettings::channelPs(kVideo, kAudio),
         RecorderSettings::channelPs(kVideo, kAudio),
         {},
         {0xC0, 0xE0},
         {}},
    };
    const SwitchRun run = switchingStream();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySink sink;
        auto recorder = makeRecorder(c.first, sink);
        recorder->processBuffer(run.before.data(), run.before.size());
        const std::size_t atChange = sink.bytes.size();
        recorder->changeStreams(c.next);
        recorder->processBuffer(run.after.data(), run.after.size());
        recorder->finish();
        const Bytes before(sink.bytes.begin(), sink.bytes.begin() + static_cast<long>(atChange));
        const Bytes after(sink.bytes.begin() + static_cast<long>(atChange), sink.bytes.end());
        if (c.first.mode == RecorderMode::ChannelTs) {
            EXPECT_EQ(before, recordWhole(c.first, run.before));
            EXPECT_EQ(after, recordWhole(c.next, run.after));
            std::vector<int> pids = pidsOf(after);
            std::sort(pids.begin(), pids.end());
            pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
            EXPECT_EQ(pids, c.pidsAfter);
            continue;
        }
        EXPECT_EQ(streamMaps(sink.bytes), c.maps);
        // What is under way is closed at the change, whole; from the next pack header on
        // the new streams go on as a recording of them alone would.
        const auto units = unitsOf(after);
        auto pack =
            std::find_if(units.begin(), units.end(), [](const Unit& u) { return u.id == 0xBA; });
        ASSERT_NE(pack, units.end());
        std::vector<uint8_t> ids;
        for (auto u = pack; u != units.end(); ++u)
            if (u->id != 0xBA && u->id != 0xBC)
                ids.push_back(u->id);
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        EXPECT_EQ(ids, c.idsAfter);
        const Bytes fromPack(after.begin() + static_cast<long>(pack->offset), after.end());
        const Bytes alone = recordWhole(c.next, run.after);
        EXPECT_EQ(videoPayload(fromPack), videoPayload(alone));
    }
}

TEST(RecordedStreams, ChannelRecordingsKeepThePictureAndTheTrackHeard) {
    ChannelInfo mpeg2;
    mpeg2.pmtPid = 0x100;
    mpeg2.pcrPid = 0x120;
    mpeg2.videoPid = 0x120;
    mpeg2.audio1Pid = 0x130;
    mpeg2.audio2Pid = 0x131;
    mpeg2.ac3Pid = 0x133;
    ChannelInfo h264 = mpeg2;
    h264.videoPid = 0;
    h264.videoMpeg4Pid = 0x220;
    h264.pcrPid = 0x1FFF;
    struct Case {
        RecorderMode mode;
        const ChannelInfo* channel;
        AudioTrack track;
        RecorderSettings expected;
    };
    const Case cases[] = {
        {RecorderMode::ChannelTs, &mpeg2, AudioTrack::First,
         RecorderSettings::channelTs(0x100, 0x120, 0x130)},
        {RecorderMode::ChannelTs, &h264, AudioTrack::Ac3,
         RecorderSettings::channelTs(0x100, 0x220, 0x133)},
        {RecorderMode::ChannelPs, &mpeg2, AudioTrack::Second,
         RecorderSettings::channelPs(0x120, 0x131, 0x120)},
        {RecorderMode::ChannelPs, &mpeg2, AudioTrack::Ac3,
         RecorderSettings::channelPs(0x120, 0x133, 0x120, VideoCodec::Mpeg2, AudioCodec::Ac3)},
        {RecorderMode::ChannelPs, &h264, AudioTrack::First,
         RecorderSettings::channelPs(0x220, 0x130, 0x1FFF, VideoCodec::H264, AudioCodec::Mpeg)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        EXPECT_EQ(channelRecordingSettings(c.mode, *c.channel, c.track), c.expected);
    }
}
