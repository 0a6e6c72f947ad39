// The subtitle decoder's side of the comparison with ffmpeg's own decoding:
//   subtitle_checks_tool write OUT.ts     a multiplex with two DVB subtitle streams
//   subtitle_checks_tool seeds DIR        the same display sets as the PES fuzzer's seeds
//   subtitle_checks_tool dump IN.ts PID COMPOSITION ANCILLARY
//     one line per display set the decoder gives: PTS, time-out (ms), display width and
//     height, region count, and the Adler-32 (started at 0) of the set drawn on a transparent
//     canvas of the display's size in 32-bit B, G, R, A, regions clipped to the canvas.

#include "si/section_assembler.h"
#include "subtitles/subtitle_decoder.h"
#include "support/dvb_subtitle_writer.h"
#include "ts_inspect_sections.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

using namespace korvane;
using namespace korvane::dvbsub;

namespace {

constexpr uint16_t kPmtPid = 0x100;
struct StreamSpec {
    uint16_t pid;
    uint16_t composition;
    uint16_t ancillary;
};
constexpr StreamSpec kStreams[] = {{0x130, 1, 1}, {0x131, 2, 3}};

// Glyph-like strokes: a few bars and dots over a background, different per seed.
Bytes textBitmap(int width, int height, int seed, int colours) {
    Bytes pixels(static_cast<std::size_t>(width) * height, 0);
    unsigned state = 2463534242u + static_cast<unsigned>(seed) * 977u;
    for (int x = 2; x + 6 < width; x += 7) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        const int top = 2 + static_cast<int>(state % 5);
        const uint8_t colour = static_cast<uint8_t>(1 + state % static_cast<unsigned>(colours - 1));
        for (int y = top; y < height - 2; ++y)
            for (int dx = 0; dx < 3 + static_cast<int>(state >> 8) % 3; ++dx)
                pixels[static_cast<std::size_t>(y) * width + x + dx] = colour;
        // An outline pixel in the last colour on either side of the stroke.
        pixels[static_cast<std::size_t>(top) * width + x + 5] = static_cast<uint8_t>(colours - 1);
    }
    return pixels;
}

std::vector<ClutEntry> palette(uint8_t depths, uint8_t shade) {
    return {{1, depths, 235, 128, 128, 0},
            {2, depths, 16, 128, 128, 64},
            {3, depths, shade, 100, 160, 0},
            {4, depths, 81, 240, 90, 0},
            {5, depths, 145, 54, 34, 32}};
}

struct TimedPes {
    int64_t pts;
    Bytes pes;
};

// Display sets of one stream: lines of text in 4-bit and 2-bit regions, CLUT changes, a
// clear set, page time-outs, and for the second stream an HD display definition and its CLUT
// on the ancillary page.
std::vector<TimedPes> displaySets(const StreamSpec& s, bool hd) {
    std::vector<TimedPes> out;
    const uint16_t page = s.composition;
    const int width = hd ? 1920 : 720;
    const int height = hd ? 1080 : 576;
    int64_t pts = 900000 + (hd ? 45000 : 0);
    uint8_t version = 0;
    auto add = [&](std::vector<Bytes> segments) {
        if (hd)
            segments.insert(segments.begin(), displayDefinition(page, 0, width, height));
        out.push_back({pts, pesPacket(dataField(segments), pts)});
        pts += 180000;
        ++version;
    };
    for (int set = 0; set < 6; ++set) {
        const int lineWidth = 160 + set * 40;
        const int bits = set == 3 ? 2 : 4;
        const uint8_t depths = bits == 2 ? 0x80 : 0x40;
        const int colours = bits == 2 ? 4 : 6;
        const int x = (width - lineWidth) / 2;
        const int y = height - (hd ? 200 : 110);
        if (set == 2) {
            add({pageComposition(page, 0, version, 0, {}), endOfDisplaySet(page)});
            continue;
        }
        std::vector<Bytes> segments;
        std::vector<RegionPlacement> regions{{1, x, y}};
        if (set == 4)
            regions.push_back({2, x + 20, y + 40});
        segments.push_back(pageComposition(page, static_cast<uint8_t>(set + 2), version,
                                           set == 0 ? 2 : 0, regions));
        for (const RegionPlacement& r : regions) {
            const uint16_t object = static_cast<uint16_t>(r.regionId * 10 + set);
            segments.push_back(regionComposition(page, r.regionId, version, lineWidth, 32, bits, 1,
                                                 {{object, 0, 0}}));
            segments.push_back(
                objectData(page, object, version, bits, lineWidth,
                           textBitmap(lineWidth, 32, set * 3 + r.regionId, colours)));
        }
        segments.insert(segments.begin() + 1,
                        clutDefinition(s.ancillary, 1, version,
                                       palette(depths, static_cast<uint8_t>(100 + set * 20))));
        segments.push_back(endOfDisplaySet(page));
        add(segments);
    }
    return out;
}

Bytes subtitlingDescriptor(const StreamSpec& s) {
    Bytes d{0x59, 8, 'f', 'r', 'a', 0x10};
    testsections::put16(d, s.composition);
    testsections::put16(d, s.ancillary);
    return d;
}

// One PES packet in transport packets, the last one padded by its adaptation field.
void appendPes(Bytes& ts, uint16_t pid, const Bytes& pes, uint8_t& counter) {
    for (std::size_t done = 0; done < pes.size();) {
        const std::size_t left = pes.size() - done;
        const std::size_t take = left < 184 ? left : 184;
        Bytes packet{0x47, static_cast<uint8_t>((done == 0 ? 0x40 : 0) | pid >> 8),
                     static_cast<uint8_t>(pid), static_cast<uint8_t>(0x10 | (counter++ & 0x0F))};
        if (take < 184) {
            packet[3] |= 0x20;
            const std::size_t field = 183 - take;
            packet.push_back(static_cast<uint8_t>(field));
            if (field > 0) {
                packet.push_back(0x00);
                packet.insert(packet.end(), field - 1, 0xFF);
            }
        }
        packet.insert(packet.end(), pes.begin() + static_cast<std::ptrdiff_t>(done),
                      pes.begin() + static_cast<std::ptrdiff_t>(done + take));
        ts.insert(ts.end(), packet.begin(), packet.end());
        done += take;
    }
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

int writeStream(const std::string& path) {
    std::vector<testsections::Stream> streams;
    for (const StreamSpec& s : kStreams)
        streams.push_back({0x06, s.pid, subtitlingDescriptor(s)});
    const Bytes pat = testsections::pat(1, {{1, kPmtPid}});
    const Bytes pmt = testsections::pmt(1, 0x1FFF, streams);
    std::map<int64_t, std::vector<std::pair<uint16_t, Bytes>>> byTime;
    for (int i = 0; i < 2; ++i)
        for (TimedPes& p : displaySets(kStreams[i], i == 1))
            byTime[p.pts].push_back({kStreams[i].pid, std::move(p.pes)});
    Bytes ts;
    uint8_t counters[0x2000] = {};
    for (const auto& [pts, packets] : byTime) {
        appendSectionPackets(ts, 0, {pat}, counters[0]);
        appendSectionPackets(ts, kPmtPid, {pmt}, counters[kPmtPid]);
        for (const auto& [pid, pes] : packets)
            appendPes(ts, pid, pes, counters[pid]);
    }
    return writeFile(path, ts) ? 0 : 1;
}

// Fuzzer input: the pages, then each packet with its 16-bit length.
int writeSeeds(const std::string& dir) {
    for (int i = 0; i < 2; ++i) {
        const StreamSpec& s = kStreams[i];
        Bytes seed{static_cast<uint8_t>(s.composition >> 8), static_cast<uint8_t>(s.composition),
                   static_cast<uint8_t>(s.ancillary >> 8), static_cast<uint8_t>(s.ancillary)};
        for (const TimedPes& p : displaySets(s, i == 1)) {
            testsections::put16(seed, static_cast<unsigned>(p.pes.size()));
            seed.insert(seed.end(), p.pes.begin(), p.pes.end());
        }
        if (!writeFile(dir + "/stream" + std::to_string(i + 1), seed))
            return 1;
    }
    // An 8-bit object and a payload without its PES header, as a demultiplexer gives it.
    Bytes seed{0, 1, 0, 1};
    const Bytes payload = dataField(
        {pageComposition(1, 3, 0, 2, {{1, 10, 10}}), clutDefinition(1, 1, 0, palette(0x20, 120)),
         regionComposition(1, 1, 0, 24, 8, 8, 1, {{1, 0, 0}}),
         objectData(1, 1, 0, 8, 20, textBitmap(20, 8, 5, 6)), endOfDisplaySet(1)});
    testsections::put16(seed, static_cast<unsigned>(payload.size()));
    seed.insert(seed.end(), payload.begin(), payload.end());
    return writeFile(dir + "/payload_8bit", seed) ? 0 : 1;
}

uint32_t adler32(uint32_t adler, const uint8_t* data, std::size_t size) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

void printPicture(const SubtitlePicture& p) {
    const auto w = static_cast<std::size_t>(p.displayWidth);
    Bytes canvas(w * static_cast<std::size_t>(p.displayHeight) * 4, 0);
    for (const SubtitleRegion& r : p.regions)
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x) {
                const int cx = r.x + x, cy = r.y + y;
                if (cx < 0 || cy < 0 || cx >= p.displayWidth || cy >= p.displayHeight)
                    continue;
                const uint32_t argb =
                    r.palette[r.pixels[static_cast<std::size_t>(y) * r.width + x]];
                uint8_t* out = &canvas[(static_cast<std::size_t>(cy) * w + cx) * 4];
                out[0] = static_cast<uint8_t>(argb), out[1] = static_cast<uint8_t>(argb >> 8);
                out[2] = static_cast<uint8_t>(argb >> 16),
                out[3] = static_cast<uint8_t>(argb >> 24);
            }
    std::printf("%lld %u %d %d %zu %08X\n", static_cast<long long>(p.pts), p.timeoutMs,
                p.displayWidth, p.displayHeight, p.regions.size(),
                adler32(0, canvas.data(), canvas.size()));
}

// Gathers the PES packets of one PID from their unit starts and decodes each.
int dump(const std::string& path, uint16_t pid, uint16_t composition, uint16_t ancillary) {
    std::ifstream f(path, std::ios::binary);
    const Bytes ts((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    SubtitleDecoder decoder(composition, ancillary);
    Bytes pes;
    auto flush = [&] {
        for (const SubtitlePicture& p : decoder.decodePes(pes))
            printPicture(p);
        pes.clear();
    };
    for (std::size_t at = 0; at + 188 <= ts.size(); at += 188) {
        const uint8_t* packet = &ts[at];
        if (packet[0] != 0x47 || ((packet[1] & 0x1F) << 8 | packet[2]) != pid)
            continue;
        std::size_t start = 4;
        if (packet[3] & 0x20)
            start += 1 + std::size_t{packet[4]};
        if (!(packet[3] & 0x10) || start >= 188)
            continue;
        if (packet[1] & 0x40)
            flush();
        pes.insert(pes.end(), packet + start, packet + 188);
    }
    flush();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "write" && argc == 3)
        return writeStream(argv[2]);
    if (command == "seeds" && argc == 3)
        return writeSeeds(argv[2]);
    if (command == "dump" && argc == 6)
        return dump(argv[2], static_cast<uint16_t>(std::strtoul(argv[3], nullptr, 0)),
                    static_cast<uint16_t>(std::strtoul(argv[4], nullptr, 0)),
                    static_cast<uint16_t>(std::strtoul(argv[5], nullptr, 0)));
    std::fprintf(stderr, "usage: subtitle_checks_tool write OUT.ts | seeds DIR | "
                         "dump IN.ts PID COMPOSITION ANCILLARY\n");
    return 2;
}
