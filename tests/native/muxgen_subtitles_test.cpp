// muxgen's DVB subtitles read back: the segments of its display sets, their pixel code
// strings decoded to the bitmap they were made from, and their times in a multiplex.
#include "dvb_subtitles.h"
#include "scenario.h"
#include "si_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using namespace muxgen;

namespace {

class BitReader {
  public:
    BitReader(const std::vector<uint8_t>& data, size_t from, size_t end)
        : data_(data), bit_(from * 8), end_(end * 8) {}
    uint32_t get(int bits) {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i, ++bit_) {
            if (bit_ >= end_)
                throw std::runtime_error("code string runs past its block");
            v = v << 1 | ((data_[bit_ / 8] >> (7 - bit_ % 8)) & 1);
        }
        return v;
    }
    size_t next_byte() {
        bit_ = (bit_ + 7) / 8 * 8;
        return bit_ / 8;
    }

  private:
    const std::vector<uint8_t>& data_;
    size_t bit_;
    size_t end_;
};

// One 2-bit or 4-bit pixel code string, read up to its end code; returns the offset after
// its stuffing bits.
size_t read_code_string(const std::vector<uint8_t>& d, size_t at, size_t end, int bits,
                        std::vector<uint8_t>& line) {
    BitReader r(d, at, end);
    auto run = [&](size_t n, uint32_t code) { line.insert(line.end(), n, uint8_t(code)); };
    for (;;) {
        if (uint32_t c = r.get(bits)) {
            run(1, c);
        } else if (bits == 2) {
            if (r.get(1)) {
                size_t n = r.get(3) + 3;
                run(n, r.get(2));
            } else if (r.get(1)) {
                run(1, 0);
            } else {
                switch (r.get(2)) {
                case 0:
                    return r.next_byte();
                case 1:
                    run(2, 0);
                    break;
                case 2: {
                    size_t n = r.get(4) + 12;
                    run(n, r.get(2));
                    break;
                }
                default: {
                    size_t n = r.get(8) + 29;
                    run(n, r.get(2));
                }
                }
            }
        } else if (!r.get(1)) {
            const uint32_t n = r.get(3);
            if (n == 0)
                return r.next_byte();
            run(n + 2, 0);
        } else if (!r.get(1)) {
            size_t n = r.get(2) + 4;
            run(n, r.get(4));
        } else {
            switch (r.get(2)) {
            case 0:
                run(1, 0);
                break;
            case 1:
                run(2, 0);
                break;
            case 2: {
                size_t n = r.get(4) + 9;
                run(n, r.get(4));
                break;
            }
            default: {
                size_t n = r.get(8) + 25;
                run(n, r.get(4));
            }
            }
        }
    }
}

// The lines of one field's pixel-data sub-block.
std::vector<std::vector<uint8_t>> read_field(const std::vector<uint8_t>& d, size_t at, size_t end) {
    std::vector<std::vector<uint8_t>> lines(1);
    while (at < end) {
        const uint8_t type = d[at++];
        if (type == 0xF0) {
            lines.emplace_back();
        } else if (type == 0x10 || type == 0x11) {
            at = read_code_string(d, at, end, type == 0x10 ? 2 : 4, lines.back());
        } else {
            ADD_FAILURE() << "data type " << int(type);
            break;
        }
    }
    EXPECT_TRUE(lines.back().empty()) << "a field ends with an end of object line";
    lines.pop_back();
    return lines;
}

struct Segment {
    uint8_t type = 0;
    uint16_t page = 0;
    std::vector<uint8_t> body;
};

// The segments of a PES data field, checked for their framing.
std::vector<Segment> segments_of(const std::vector<uint8_t>& field) {
    std::vector<Segment> out;
    EXPECT_GE(field.size(), 3u);
    EXPECT_EQ(field[0], 0x20) << "data identifier";
    EXPECT_EQ(field[1], 0x00) << "subtitle stream id";
    size_t at = 2;
    while (at < field.size() && field[at] == 0x0F) {
        EXPECT_LE(at + 6, field.size());
        Segment s;
        s.type = field[at + 1];
        s.page = uint16_t(field[at + 2] << 8 | field[at + 3]);
        const size_t length = size_t(field[at + 4] << 8 | field[at + 5]);
        EXPECT_LE(at + 6 + length, field.size());
        s.body.assign(field.begin() + long(at + 6), field.begin() + long(at + 6 + length));
        out.push_back(std::move(s));
        at += 6 + length;
    }
    EXPECT_EQ(at + 1, field.size()) << "one end marker after the segments";
    EXPECT_EQ(field.back(), 0xFF);
    return out;
}

uint16_t u16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] << 8 | b[at + 1]);
}

// The object of an object data segment, top field lines interleaved with the bottom's.
std::vector<uint8_t> object_pixels(const Segment& ods, int width, int height) {
    const auto& b = ods.body;
    const size_t top = u16(b, 3);
    const size_t bottom = u16(b, 5);
    EXPECT_EQ((b[2] >> 2) & 3, 0) << "coded as pixels";
    EXPECT_LE(7 + top + bottom, b.size());
    EXPECT_EQ(b.size() % 2, 0u);
    const auto even = read_field(b, 7, 7 + top);
    const auto odd = read_field(b, 7 + top, 7 + top + bottom);
    EXPECT_EQ(even.size(), size_t(height + 1) / 2);
    EXPECT_EQ(odd.size(), size_t(height) / 2);
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y) {
        const auto& line = (y % 2 ? odd : even).at(size_t(y / 2));
        EXPECT_EQ(line.size(), size_t(width)) << "line " << y;
        pixels.insert(pixels.end(), line.begin(), line.end());
    }
    return pixels;
}

} // namespace

TEST(MuxgenSubtitles, PixelRunsDecodeToTheCodesTheyWereMadeOf) {
    const size_t lengths[] = {1,  2,  3,  4,  7,  8,   9,   10,  11, 12,
                              24, 25, 27, 28, 29, 280, 284, 285, 700};
    for (int bits : {2, 4}) {
        for (uint8_t code = 0; code < (bits == 2 ? 4 : 16); code += (bits == 2 ? 1 : 5)) {
            for (size_t n : lengths) {
                // The run between two others, so that the codes around it must end where it begins.
                std::vector<uint8_t> line(3, uint8_t(code ^ 1));
                line.insert(line.end(), n, code);
                line.push_back(uint8_t(code ^ 2));
                std::vector<uint8_t> coded;
                append_pixel_line(line.data(), line.size(), bits, coded);
                ASSERT_EQ(coded.front(), bits == 2 ? 0x10 : 0x11);
                ASSERT_EQ(coded.back(), 0xF0);
                std::vector<uint8_t> back;
                EXPECT_EQ(read_code_string(coded, 1, coded.size(), bits, back) + 1, coded.size())
                    << bits << " bits, " << n << " of " << int(code);
                EXPECT_EQ(back, line) << bits << " bits, " << n << " of " << int(code);
            }
        }
    }
}

TEST(MuxgenSubtitles, DisplaySetsHoldTheirSegmentsInOrder) {
    const SubtitleBitmap sd = render_subtitle_text("Bonjour à tous !", 3);
    const SubtitleBitmap hd = render_subtitle_text("[Rires]\n- Où êtes-vous ?", 7);
    const struct {
        const char* what;
        DisplaySet set;
        std::vector<uint8_t> types;
    } cases[] = {
        {"SD, 2 bits", {1, 720, 576, 3, 10, 2, &sd, 40, 400}, {0x10, 0x11, 0x12, 0x13, 0x80}},
        {"HD, 4 bits",
         {2, 1920, 1080, 15, 1, 4, &hd, 400, 800},
         {0x14, 0x10, 0x11, 0x12, 0x13, 0x80}},
        {"clearing a small picture", {7, 176, 144, 4, 0, 2, nullptr, 0, 0}, {0x14, 0x10, 0x80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DisplaySet& set = c.set;
        const std::vector<Segment> segments = segments_of(build_display_set(set));
        std::vector<uint8_t> types;
        std::map<uint8_t, const Segment*> by_type;
        for (const Segment& s : segments) {
            types.push_back(s.type);
            by_type[s.type] = &s;
            EXPECT_EQ(s.page, set.page);
        }
        ASSERT_EQ(types, c.types);
        if (by_type.count(0x14)) {
            const auto& dds = by_type[0x14]->body;
            EXPECT_EQ(dds[0], set.version << 4 | 0x07) << "no display window";
            EXPECT_EQ(u16(dds, 1) + 1, set.display_width);
            EXPECT_EQ(u16(dds, 3) + 1, set.display_height);
        }
        const auto& pcs = by_type[0x10]->body;
        EXPECT_EQ(pcs[0], set.timeout);
        EXPECT_EQ(pcs[1] >> 4, set.version);
        EXPECT_EQ((pcs[1] >> 2) & 3, set.bitmap ? 2 : 0) << "page state";
        if (!set.bitmap) {
            EXPECT_EQ(pcs.size(), 2u) << "no region shown";
            continue;
        }
        ASSERT_EQ(pcs.size(), 8u);
        EXPECT_EQ(u16(pcs, 4), set.x);
        EXPECT_EQ(u16(pcs, 6), set.y);

        const auto& rcs = by_type[0x11]->body;
        const int depth = set.bits == 4 ? 2 : 1;
        EXPECT_EQ(rcs[0], pcs[2]) << "the region the page shows";
        EXPECT_EQ(u16(rcs, 2), set.bitmap->width);
        EXPECT_EQ(u16(rcs, 4), set.bitmap->height);
        EXPECT_EQ(rcs[6] >> 5, depth) << "compatibility level";
        EXPECT_EQ((rcs[6] >> 2) & 7, depth);
        EXPECT_EQ(rcs.size(), 16u) << "one object";
        EXPECT_EQ(u16(rcs, 10), u16(by_type[0x13]->body, 0)) << "the object the region shows";
        EXPECT_EQ(u16(rcs, 12) & 0x0FFF, 0);
        EXPECT_EQ(u16(rcs, 14) & 0x0FFF, 0);

        const auto& cds = by_type[0x12]->body;
        EXPECT_EQ(cds[0], rcs[7]) << "the region's CLUT";
        ASSERT_EQ(cds.size(), 2u + 4 * 6);
        for (size_t e = 0; e < 4; ++e) {
            EXPECT_EQ(cds[2 + e * 6], e);
            EXPECT_EQ(cds[3 + e * 6], (set.bits == 4 ? 0x40 : 0x80) | 0x1F) << "full range";
        }
        EXPECT_EQ(cds[4], 0) << "code 0 is the transparent entry";
        EXPECT_EQ(cds[7], 0xFF);

        EXPECT_EQ(object_pixels(*by_type[0x13], set.bitmap->width, set.bitmap->height),
                  set.bitmap->pixels);
    }
}

TEST(MuxgenSubtitles, TextIsDrawnInCapitalsWithMarksAndAnOutline) {
    // The bitmap of one line at scale 1: 6 columns a character plus a margin, 11 + 2 rows.
    const SubtitleBitmap e = render_subtitle_text("e", 1);
    ASSERT_EQ(e.width, 8);
    ASSERT_EQ(e.height, 13);
    EXPECT_EQ(render_subtitle_text("E", 1).pixels, e.pixels);
    EXPECT_EQ(render_subtitle_text("é", 1).pixels, render_subtitle_text("É", 1).pixels);
    EXPECT_NE(render_subtitle_text("é", 1).pixels, e.pixels);
    EXPECT_EQ(render_subtitle_text("\x01", 1).pixels, render_subtitle_text("?", 1).pixels);
    EXPECT_EQ(render_subtitle_text("\xE9", 1).pixels, render_subtitle_text("?", 1).pixels)
        << "a byte that is not UTF-8";

    const auto at = [](const SubtitleBitmap& b, int x, int y) {
        return b.pixels[size_t(y * b.width + x)];
    };
    // The E's top bar on row 1 + 2, its marks above, the outline all round.
    for (int x = 1; x <= 5; ++x)
        EXPECT_EQ(at(e, x, 3), kInkText) << x;
    EXPECT_EQ(at(e, 0, 3), kInkOutline);
    EXPECT_EQ(at(e, 6, 3), kInkOutline);
    EXPECT_EQ(at(e, 1, 2), kInkOutline);
    EXPECT_EQ(at(e, 1, 1), kInkClear);
    const SubtitleBitmap acute = render_subtitle_text("É", 1);
    EXPECT_EQ(at(acute, 4, 1), kInkText);
    EXPECT_EQ(at(acute, 3, 2), kInkText);
    const SubtitleBitmap cedilla = render_subtitle_text("ç", 1);
    EXPECT_EQ(at(cedilla, 3, 10), kInkText);

    // Scaled dots; a sound in brackets in the highlight ink; shorter lines centred.
    const SubtitleBitmap big = render_subtitle_text("E", 3);
    ASSERT_EQ(big.width, 24);
    EXPECT_EQ(at(big, 3, 9), kInkText);
    EXPECT_EQ(at(big, 5, 11), kInkText);
    EXPECT_EQ(at(big, 2, 9), kInkOutline);
    const SubtitleBitmap two = render_subtitle_text("[A]\nA", 1);
    ASSERT_EQ(two.width, 20);
    ASSERT_EQ(two.height, 24);
    EXPECT_EQ(at(two, 8, 3), kInkHighlight) << "the A of the first line";
    EXPECT_EQ(at(two, 8, 14), kInkText) << "the centred A of the second line";
}

namespace {

// PES packets of the given PIDs, reassembled: stream id, PTS, data bytes.
struct Pes {
    uint8_t stream_id = 0;
    int64_t pts = -1;
    std::vector<uint8_t> data;
};

std::map<uint16_t, std::vector<Pes>> pes_of(const std::vector<uint8_t>& ts,
                                            const std::set<uint16_t>& pids) {
    std::map<uint16_t, std::vector<std::vector<uint8_t>>> raw;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        const uint8_t* p = &ts[i];
        const uint16_t pid = uint16_t((p[1] & 0x1F) << 8 | p[2]);
        if (!pids.count(pid) || !(p[3] & 0x10))
            continue;
        const size_t start = (p[3] & 0x20) ? 5 + p[4] : 4;
        if (p[1] & 0x40)
            raw[pid].emplace_back();
        if (!raw[pid].empty())
            raw[pid].back().insert(raw[pid].back().end(), p + start, p + 188);
    }
    std::map<uint16_t, std::vector<Pes>> out;
    for (auto& [pid, packets] : raw) {
        for (const auto& b : packets) {
            Pes pes;
            pes.stream_id = b[3];
            const size_t length = size_t(b[4] << 8 | b[5]);
            if (b[7] & 0x80)
                pes.pts = int64_t(b[9] & 0x0E) << 29 | int64_t(b[10]) << 22 |
                          int64_t(b[11] & 0xFE) << 14 | int64_t(b[12]) << 7 | b[13] >> 1;
            const size_t data = 9 + size_t(b[8]);
            const size_t end = length ? std::min(b.size(), 6 + length) : b.size();
            pes.data.assign(b.begin() + long(data), b.begin() + long(end));
            out[pid].push_back(std::move(pes));
        }
    }
    return out;
}

} // namespace

// Each display set goes out as a whole PES packet of private stream 1 whose PTS is that of
// the picture it belongs to: per two-second loop, a text at the first picture, a clear set,
// a second text with a one-second time-out.
TEST(MuxgenSubtitles, DisplaySetsGoOutAtThePresentationTimesOfTheirPictures) {
    const std::string dir = KORVANE_BINARY_DIR "/muxgen-subtitles-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    {
        std::ofstream scenario(dir + "/subtitles.mux");
        scenario << "duration 4\nvideo 352x288\n"
                    "mux R1 frequency 474167 tsid 1 bitrate 2000000\n"
                    "service 1 \"Essai\" pmt 0x100\n"
                    "stream h264 0x120\nstream dvbsub 0x140 deu page 3\n"
                    "stream dvbsub 0x141 fra subtitling 0x20\n";
    }
    const std::string command = std::string(MUXGEN_EXECUTABLE) + " -o " + dir + " --cache " +
                                KORVANE_BINARY_DIR "/muxgen-test/es-cache " + dir +
                                "/subtitles.mux >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(dir + "/474167.ts", std::ios::binary);
    const std::vector<uint8_t> ts((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::filesystem::remove_all(dir);

    auto pes = pes_of(ts, {0x120, 0x140, 0x141});
    std::set<int64_t> pictures;
    for (const Pes& p : pes[0x120])
        pictures.insert(p.pts);
    ASSERT_GT(pictures.size(), 90u);
    for (uint16_t pid : {0x140, 0x141}) {
        SCOPED_TRACE(pid);
        const std::vector<Pes>& sets = pes[pid];
        ASSERT_EQ(sets.size(), 6u) << "three display sets a loop, two loops";
        for (size_t i = 0; i < sets.size(); ++i) {
            EXPECT_EQ(sets[i].stream_id, 0xBD);
            EXPECT_TRUE(pictures.count(sets[i].pts)) << "display set " << i;
            const std::vector<Segment> segments = segments_of(sets[i].data);
            ASSERT_GE(segments.size(), 3u);
            EXPECT_EQ(segments[0].type, 0x14) << "a display of 352 x 288";
            EXPECT_EQ(segments[0].page, pid == 0x140 ? 3 : 1);
            const auto& pcs = segments[1].body;
            EXPECT_EQ(pcs.size(), i % 3 == 1 ? 2u : 8u) << "a text, a clear set, a text";
            EXPECT_EQ(pcs[0], i % 3 == 0 ? 10 : i % 3 == 2 ? 1 : 0) << "time-out";
            if (i > 0) {
                EXPECT_EQ(pcs[1] >> 4, ((segments_of(sets[i - 1].data)[1].body[1] >> 4) + 1) & 15);
                // 0.6 s then 0.2 s then 1.2 s between the sets of a loop of 50 pictures.
                const int64_t gaps[] = {108000, 54000, 18000};
                EXPECT_EQ(sets[i].pts - sets[i - 1].pts, gaps[i % 3]);
            }
        }
        const auto rcs = segments_of(sets[0].data)[2].body;
        EXPECT_EQ((rcs[6] >> 2) & 7, pid == 0x141 ? 2 : 1) << "4 bits for the hard of hearing";
    }
}

TEST(MuxgenSubtitles, ScenarioStreamsAnnounceLanguageTypeAndPages) {
    const struct {
        const char* lines;
        std::vector<uint8_t> loop; // of the PMT's second stream
        const char* error;
    } rows[] = {
        {"stream h264 0x120\nstream dvbsub 0x140 fra\n",
         {0x59, 8, 'f', 'r', 'a', 0x10, 0, 1, 0, 1},
         ""},
        {"stream mpeg2 0x120\nstream dvbsub 0x140 deu subtitling 0x20 page 0x203\n",
         {0x59, 8, 'd', 'e', 'u', 0x20, 2, 3, 2, 3},
         ""},
        {"stream dvbsub 0x140 fra\n", {}, "line 3: subtitles follow a video stream"},
        {"stream h264 0x120\nstream dvbsub 0x140\n", {}, "line 4: subtitles need a language"},
        {"stream h264 0x120\nstream dvbsub 0x140 fra page 65536\n", {}, "bad number"},
        {"stream h264 0x120\nstream dvbsub 0x140 fra subtitling\n", {}, "needs a value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        const ParseResult r = parse_scenario("mux R1 frequency 474167 tsid 1\n"
                                             "service 0x101 \"A\" pmt 0x100\n" +
                                             std::string(row.lines));
        if (*row.error) {
            EXPECT_FALSE(r.scenario);
            EXPECT_NE(r.error.find(row.error), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r.scenario) << r.error;
        const ServiceSpec& service = r.scenario->muxes[0].services[0];
        EXPECT_EQ(service.service_type(),
                  service.phases[0].streams[0].kind == StreamKind::H264Video ? 0x16 : 0x01);
        const Section pmt = build_pmt(service, 0, 0).at(0);
        // The second stream follows the 12-byte header, an empty program loop and the first
        // stream's 5 bytes without descriptors.
        ASSERT_GE(pmt.size(), 22u + 4u);
        EXPECT_EQ(pmt[17], 0x06) << "private PES data";
        const size_t loop = size_t((pmt[20] & 0x0F) << 8 | pmt[21]);
        ASSERT_EQ(22 + loop + 4, pmt.size());
        EXPECT_EQ(std::vector<uint8_t>(pmt.begin() + 22, pmt.begin() + 22 + long(loop)), row.loop);
    }
}
