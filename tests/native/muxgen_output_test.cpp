// The multiplexes muxgen writes, read back packet by packet and through libdvbpsi's decoders.
#include "scenario.h"
#include "si/nit.h"
#include "si/nit_version.h"
#include "si_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <dvbpsi/dvbpsi.h>
// demux.h needs the types of dvbpsi.h and psi.h before it.
#include <dvbpsi/demux.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/eit.h>
#include <dvbpsi/nit.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/sdt.h>
}

namespace {

namespace fs = std::filesystem;

// Generates the multiplexes of one scenario into a folder of this process and reads one.
std::vector<uint8_t> generate(const std::string& scenario, uint32_t frequency) {
    std::string bin = KORVANE_BINARY_DIR "/muxgen-test";
    std::string out = bin + "/run-" + std::to_string(getpid());
    std::string command = std::string(MUXGEN_EXECUTABLE) + " -o " + out + " --cache " + bin +
                          "/es-cache " + MUXGEN_SCENARIO_DIR "/" + scenario + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out + "/" + std::to_string(frequency) + ".ts", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    std::error_code ec;
    fs::remove_all(out, ec);
    return bytes;
}

uint16_t pid_of(const uint8_t* p) {
    return uint16_t(((p[1] & 0x1F) << 8) | p[2]);
}
bool has_payload(const uint8_t* p) {
    return (p[3] & 0x10) != 0;
}
size_t payload_offset(const uint8_t* p) {
    return (p[3] & 0x20) ? 5 + p[4] : 4;
}

struct SeenSection {
    uint16_t pid;
    size_t packet; // index of the packet that completed it
    std::vector<uint8_t> bytes;
};

// A minimal section reassembler of the test's own, to time repetitions and check CRCs.
std::vector<SeenSection> sections_of(const std::vector<uint8_t>& ts, std::set<uint16_t> pids) {
    std::vector<SeenSection> out;
    std::map<uint16_t, std::vector<uint8_t>> partial;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        const uint8_t* p = &ts[i];
        uint16_t pid = pid_of(p);
        if (p[0] != 0x47 || !pids.count(pid) || !has_payload(p))
            continue;
        size_t at = payload_offset(p);
        std::vector<uint8_t>& buf = partial[pid];
        if (p[1] & 0x40) {
            size_t pointer = p[at++];
            buf.insert(buf.end(), p + at, p + at + pointer);
            at += pointer;
            auto flush = [&] {
                if (buf.size() >= 3) {
                    size_t len = size_t(((buf[1] & 0x0F) << 8) | buf[2]) + 3;
                    if (buf.size() >= len)
                        out.push_back({pid, i / 188, {buf.begin(), buf.begin() + long(len)}});
                }
            };
            flush();
            buf.clear();
            // Sections that start and end within this packet.
            while (at < 188 && p[at] != 0xFF) {
                if (at + 3 > 188) {
                    buf.assign(p + at, p + 188);
                    at = 188;
                    break;
                }
                size_t len = size_t(((p[at + 1] & 0x0F) << 8) | p[at + 2]) + 3;
                if (at + len <= 188) {
                    out.push_back({pid, i / 188, {p + at, p + at + len}});
                    at += len;
                } else {
                    buf.assign(p + at, p + 188);
                    at = 188;
                }
            }
        } else if (!buf.empty()) {
            buf.insert(buf.end(), p + at, p + 188);
            size_t len = size_t(((buf[1] & 0x0F) << 8) | buf[2]) + 3;
            if (buf.size() >= len) {
                out.push_back({pid, i / 188, {buf.begin(), buf.begin() + long(len)}});
                buf.clear();
            }
        }
    }
    return out;
}

bool crc_ok(const std::vector<uint8_t>& s) {
    return muxgen::crc32_mpeg2(s.data(), s.size()) == 0;
}

double seconds_at(size_t packet, double bitrate) {
    return double(packet) * 1504.0 / bitrate;
}

// The longest gap between two sections of one table on one PID, in seconds, and the first.
struct Repetition {
    double first = -1;
    double longest = 0;
};
Repetition repetition(const std::vector<SeenSection>& all, uint16_t pid, uint8_t table,
                      int extension, double bitrate) {
    Repetition r;
    double last = -1;
    for (const SeenSection& s : all) {
        if (s.pid != pid || s.bytes[0] != table)
            continue;
        if (extension >= 0 && ((s.bytes[3] << 8) | s.bytes[4]) != extension)
            continue;
        if (s.bytes.size() > 6 && s.bytes[6] != 0)
            continue; // time the first section of a table only
        double t = seconds_at(s.packet, bitrate);
        if (last < 0)
            r.first = t;
        else
            r.longest = std::max(r.longest, t - last);
        last = t;
    }
    return r;
}

// libdvbpsi's view of the tables, copied out of its structures.
struct Decoded {
    std::vector<std::pair<uint16_t, uint16_t>> pat; // program, PID
    std::map<uint16_t, std::vector<std::pair<uint8_t, uint16_t>>> pmt_streams;
    std::map<uint16_t, std::vector<std::vector<uint8_t>>> pmt_tags; // per program, per stream
    std::map<uint16_t, uint8_t> pmt_version;
    std::map<uint16_t, std::string> sdt_names;     // service id -> name bytes
    std::map<uint16_t, std::string> sdt_providers; // service id -> provider bytes
    std::map<uint16_t, uint8_t> sdt_types;
    std::vector<uint8_t> nit_ts_tags; // descriptor tags of the first transport stream, in order
    std::map<uint16_t, uint16_t> lcn; // service id -> number
    std::map<std::pair<uint8_t, uint16_t>, std::vector<std::string>> eit_titles; // (table, sid)
};

std::string short_event_title(const dvbpsi_descriptor_t* d) {
    if (d->i_tag != 0x4D || d->i_length < 4)
        return {};
    size_t n = d->p_data[3];
    return std::string(reinterpret_cast<const char*>(d->p_data) + 4, n);
}

struct DvbpsiDeleter {
    void operator()(dvbpsi_t* h) const { dvbpsi_delete(h); }
};

Decoded decode_with_dvbpsi(const std::vector<uint8_t>& ts) {
    Decoded out;
    auto pat_cb = [](void* data, dvbpsi_pat_t* pat) {
        auto* d = static_cast<Decoded*>(data);
        for (auto* p = pat->p_first_program; p; p = p->p_next)
            d->pat.emplace_back(p->i_number, p->i_pid);
        dvbpsi_pat_delete(pat);
    };
    std::unique_ptr<dvbpsi_t, DvbpsiDeleter> pat_h(dvbpsi_new(nullptr, DVBPSI_MSG_NONE));
    dvbpsi_pat_attach(pat_h.get(), pat_cb, &out);

    auto si_cb = [](dvbpsi_t* h, uint8_t table, uint16_t extension, void* data) {
        if (table == 0x42) {
            dvbpsi_sdt_attach(
                h, table, extension,
                [](void* data, dvbpsi_sdt_t* sdt) {
                    auto* d = static_cast<Decoded*>(data);
                    for (auto* s = sdt->p_first_service; s; s = s->p_next) {
                        const dvbpsi_descriptor_t* desc = s->p_first_descriptor;
                        if (!desc || desc->i_tag != 0x48)
                            continue;
                        const uint8_t* b = desc->p_data;
                        size_t pl = b[1];
                        d->sdt_types[s->i_service_id] = b[0];
                        d->sdt_providers[s->i_service_id] =
                            std::string(reinterpret_cast<const char*>(b) + 2, pl);
                        d->sdt_names[s->i_service_id] =
                            std::string(reinterpret_cast<const char*>(b) + 3 + pl, b[2 + pl]);
                    }
                    dvbpsi_sdt_delete(sdt);
                },
                data);
        } else if (table == 0x40) {
            dvbpsi_nit_attach(
                h, table, extension,
                [](void* data, dvbpsi_nit_t* nit) {
                    auto* d = static_cast<Decoded*>(data);
                    for (auto* ts = nit->p_first_ts; ts; ts = ts->p_next) {
                        for (auto* desc = ts->p_first_descriptor; desc; desc = desc->p_next) {
                            if (ts == nit->p_first_ts)
                                d->nit_ts_tags.push_back(desc->i_tag);
                            if (desc->i_tag != 0x83)
                                continue;
                            for (size_t i = 0; i + 4 <= desc->i_length; i += 4) {
                                const uint8_t* e = desc->p_data + i;
                                d->lcn[uint16_t((e[0] << 8) | e[1])] =
                                    uint16_t(((e[2] & 0x03) << 8) | e[3]);
                            }
                        }
                    }
                    dvbpsi_nit_delete(nit);
                },
                data);
        } else if (table == 0x4E || table == 0x4F) {
            dvbpsi_eit_attach(
                h, table, extension,
                [](void* data, dvbpsi_eit_t* eit) {
                    auto* d = static_cast<Decoded*>(data);
                    auto& titles = d->eit_titles[{eit->i_table_id, eit->i_extension}];
                    for (auto* ev = eit->p_first_event; ev; ev = ev->p_next) {
                        for (auto* desc = ev->p_first_descriptor; desc; desc = desc->p_next) {
                            std::string t = short_event_title(desc);
                            if (!t.empty() && (titles.empty() || titles.back() != t))
                                titles.push_back(t);
                        }
                    }
                    dvbpsi_eit_delete(eit);
                },
                data);
        }
    };
    // One handle per PID: libdvbpsi follows each PID's continuity counter.
    std::unique_ptr<dvbpsi_t, DvbpsiDeleter> nit_h(dvbpsi_new(nullptr, DVBPSI_MSG_NONE));
    std::unique_ptr<dvbpsi_t, DvbpsiDeleter> sdt_h(dvbpsi_new(nullptr, DVBPSI_MSG_NONE));
    std::unique_ptr<dvbpsi_t, DvbpsiDeleter> eit_h(dvbpsi_new(nullptr, DVBPSI_MSG_NONE));
    for (dvbpsi_t* h : {nit_h.get(), sdt_h.get(), eit_h.get()})
        dvbpsi_AttachDemux(h, si_cb, &out);

    std::vector<uint8_t> copy(ts.begin(), ts.end());
    for (size_t i = 0; i + 188 <= copy.size(); i += 188) {
        uint8_t* p = &copy[i];
        uint16_t pid = pid_of(p);
        if (pid == 0)
            dvbpsi_packet_push(pat_h.get(), p);
        else if (pid == 0x10)
            dvbpsi_packet_push(nit_h.get(), p);
        else if (pid == 0x11)
            dvbpsi_packet_push(sdt_h.get(), p);
        else if (pid == 0x12)
            dvbpsi_packet_push(eit_h.get(), p);
    }
    dvbpsi_pat_detach(pat_h.get());
    for (dvbpsi_t* h : {nit_h.get(), sdt_h.get(), eit_h.get()})
        dvbpsi_DetachDemux(h);

    // One PMT decoder per program of the PAT.
    for (auto [program, pmt_pid] : out.pat) {
        if (program == 0)
            continue;
        struct Ctx {
            Decoded* d;
            uint16_t program;
        } ctx{&out, program};
        std::unique_ptr<dvbpsi_t, DvbpsiDeleter> h(dvbpsi_new(nullptr, DVBPSI_MSG_NONE));
        dvbpsi_pmt_attach(
            h.get(), program,
            [](void* data, dvbpsi_pmt_t* pmt) {
                auto* c = static_cast<Ctx*>(data);
                auto& streams = c->d->pmt_streams[c->program];
                auto& tags = c->d->pmt_tags[c->program];
                streams.clear();
                tags.clear();
                c->d->pmt_version[c->program] = pmt->i_version;
                for (auto* es = pmt->p_first_es; es; es = es->p_next) {
                    streams.emplace_back(es->i_type, es->i_pid);
                    tags.emplace_back();
                    for (auto* desc = es->p_first_descriptor; desc; desc = desc->p_next)
                        tags.back().push_back(desc->i_tag);
                }
                dvbpsi_pmt_delete(pmt);
            },
            &ctx);
        for (size_t i = 0; i + 188 <= copy.size(); i += 188) {
            if (pid_of(&copy[i]) == pmt_pid)
                dvbpsi_packet_push(h.get(), &copy[i]);
        }
        dvbpsi_pmt_detach(h.get());
    }
    return out;
}

class SmallMultiplex : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        r1_ = new std::vector<uint8_t>(generate("small.mux", 474167));
        r2_ = new std::vector<uint8_t>(generate("small.mux", 522167));
    }
    static void TearDownTestSuite() {
        delete r1_;
        delete r2_;
    }
    static std::vector<uint8_t>* r1_;
    static std::vector<uint8_t>* r2_;
};
std::vector<uint8_t>* SmallMultiplex::r1_ = nullptr;
std::vector<uint8_t>* SmallMultiplex::r2_ = nullptr;

TEST_F(SmallMultiplex, PacketsAreAlignedAndContinuityCountersRunWithoutGaps) {
    for (const auto* ts : {r1_, r2_}) {
        ASSERT_GT(ts->size(), 188u * 1000);
        ASSERT_EQ(ts->size() % 188, 0u);
        std::map<uint16_t, int> last;
        for (size_t i = 0; i < ts->size(); i += 188) {
            const uint8_t* p = &(*ts)[i];
            ASSERT_EQ(p[0], 0x47) << "packet " << i / 188;
            uint16_t pid = pid_of(p);
            if (pid == 0x1FFF || !has_payload(p))
                continue;
            int cc = p[3] & 0x0F;
            if (last.count(pid))
                ASSERT_EQ(cc, (last[pid] + 1) & 0x0F) << "PID " << pid << " packet " << i / 188;
            last[pid] = cc;
        }
    }
}

TEST_F(SmallMultiplex, TablesDecodeWithAnIndependentLibrary) {
    Decoded d = decode_with_dvbpsi(*r1_);
    ASSERT_GE(d.pat.size(), 4u);
    // Program 0 (the NIT) comes first, where receivers skip it.
    EXPECT_EQ(d.pat[0], std::make_pair(uint16_t(0), uint16_t(0x10)));
    EXPECT_EQ(d.pat[1], std::make_pair(uint16_t(0x0101), uint16_t(0x0100)));
    EXPECT_EQ(d.pat[3], std::make_pair(uint16_t(0x0103), uint16_t(0x0300)));

    // MPEG-2 video, two MPEG-1 audio tracks and AC-3 as type 6 with its descriptor 0x6A.
    using S = std::vector<std::pair<uint8_t, uint16_t>>;
    EXPECT_EQ(d.pmt_streams[0x0101], (S{{2, 0x120}, {3, 0x130}, {3, 0x131}, {6, 0x133}}));
    EXPECT_EQ(d.pmt_tags[0x0101][3], (std::vector<uint8_t>{0x0A, 0x6A}));
    EXPECT_EQ(d.pmt_streams[0x0102], (S{{0x1B, 0x220}, {3, 0x230}, {6, 0x240}, {6, 0x241}}));
    // Subtitles carry their language in the subtitling descriptor alone.
    EXPECT_EQ(d.pmt_tags[0x0102][2], (std::vector<uint8_t>{0x59}));
    EXPECT_EQ(d.pmt_streams[0x0103], (S{{3, 0x330}}));

    // Names as broadcast: the selector byte stays in front of names that need one.
    EXPECT_EQ(d.sdt_names[0x0101], "\x05T\xE9l\xE9 Une");
    EXPECT_EQ(d.sdt_names[0x0102], "Canal Deux HD");
    EXPECT_EQ(d.sdt_providers[0x0102], "Groupe Un");
    EXPECT_EQ(d.sdt_types[0x0101], 0x01);
    EXPECT_EQ(d.sdt_types[0x0102], 0x16);
    EXPECT_EQ(d.sdt_types[0x0103], 0x02);

    // The NIT numbers every multiplex's services, the specifier before the numbers.
    EXPECT_EQ(d.lcn[0x0101], 1);
    EXPECT_EQ(d.lcn[0x0103], 91);
    EXPECT_EQ(d.lcn[0x0201], 3);
    EXPECT_EQ(d.lcn.count(0x0202), 0u);
    auto pds = std::find(d.nit_ts_tags.begin(), d.nit_ts_tags.end(), 0x5F);
    auto lcn = std::find(d.nit_ts_tags.begin(), d.nit_ts_tags.end(), 0x83);
    ASSERT_NE(lcn, d.nit_ts_tags.end());
    EXPECT_LT(pds, lcn);
}

// Title of the one event of an EIT p/f section, read by hand.
std::string event_title(const std::vector<uint8_t>& s) {
    if (s.size() < 14 + 12 + 4)
        return {};
    size_t loop = 26;
    size_t end = std::min(s.size() - 4, loop + (((s[24] & 0x0F) << 8) | s[25]));
    while (loop + 2 <= end) {
        if (s[loop] == 0x4D && loop + 6 <= end)
            return std::string(reinterpret_cast<const char*>(&s[loop + 6]), s[loop + 5]);
        loop += 2 + s[loop + 1];
    }
    return {};
}

TEST_F(SmallMultiplex, GuideFollowsTheClockInFrenchWithTheSelector) {
    Decoded d = decode_with_dvbpsi(*r1_);
    using Key = std::pair<uint8_t, uint16_t>;
    auto& first = d.eit_titles[Key(0x4E, 0x0101)];
    ASSERT_EQ(first.size(), 2u) << "present and following of the first table";
    EXPECT_EQ(first[0], "\x05Le Journal de l'\xE9t\xE9");
    EXPECT_EQ(first[1], "\x05M\xE9t\xE9o \xE0 la une");
    // The other multiplex's services come as EIT other.
    EXPECT_FALSE(d.eit_titles[Key(0x4F, 0x0201)].empty());
    EXPECT_TRUE(d.eit_titles[Key(0x4E, 0x0201)].empty());
    Decoded d2 = decode_with_dvbpsi(*r2_);
    ASSERT_FALSE(d2.eit_titles[Key(0x4E, 0x0201)].empty());
    EXPECT_EQ(d2.eit_titles[Key(0x4E, 0x0201)].front(), "\x05Le Direct");

    // Three-second events: the present event changes while the four-second file plays, and
    // the new present goes out at once with the next version.
    std::vector<std::pair<double, std::string>> present;
    int version = -1;
    for (const SeenSection& s : sections_of(*r1_, {0x12})) {
        if (s.bytes[0] != 0x4E || ((s.bytes[3] << 8) | s.bytes[4]) != 0x0101 || s.bytes[6] != 0)
            continue;
        std::string title = event_title(s.bytes);
        if (present.empty() || present.back().second != title) {
            int v = (s.bytes[5] >> 1) & 0x1F;
            EXPECT_EQ(v, version + 1);
            version = v;
            present.emplace_back(seconds_at(s.packet, 3000000), title);
        }
    }
    ASSERT_EQ(present.size(), 2u);
    EXPECT_EQ(present[1].second, "\x05M\xE9t\xE9o \xE0 la une");
    EXPECT_NEAR(present[1].first, 3.0, 0.01);
}

TEST_F(SmallMultiplex, TablesRepeatAtBroadcastRatesWithValidCrcs) {
    const double rate = 3000000;
    auto all = sections_of(*r1_, {0x00, 0x10, 0x11, 0x12, 0x100, 0x200, 0x300});
    ASSERT_FALSE(all.empty());
    for (const SeenSection& s : all)
        ASSERT_TRUE(crc_ok(s.bytes)) << "table " << int(s.bytes[0]) << " on PID " << s.pid;
    Repetition pat = repetition(all, 0x00, 0x00, -1, rate);
    EXPECT_LT(pat.first, 0.05);
    EXPECT_LE(pat.longest, 0.12);
    EXPECT_LE(repetition(all, 0x100, 0x02, -1, rate).longest, 0.12);
    EXPECT_LE(repetition(all, 0x300, 0x02, -1, rate).longest, 0.12);
    Repetition sdt = repetition(all, 0x11, 0x42, -1, rate);
    EXPECT_LT(sdt.first, 0.1);
    EXPECT_GT(sdt.longest, 1.5);
    EXPECT_LE(sdt.longest, 2.1);
    EXPECT_LT(repetition(all, 0x10, 0x40, -1, rate).first, 0.1);
    Repetition eit = repetition(all, 0x12, 0x4E, 0x0101, rate);
    EXPECT_LT(eit.first, 0.2);
    EXPECT_LE(eit.longest, 2.1);
    EXPECT_LE(repetition(all, 0x12, 0x4F, 0x0201, rate).longest, 2.1);
}

TEST_F(SmallMultiplex, PcrTracksThePacketClockAndTimestampsLeadIt) {
    const double rate = 3000000;
    std::map<uint16_t, double> last_pcr_at;
    double pcr_now = -1; // seconds, from the latest PCR of the first service
    size_t pes_checked = 0;
    for (size_t i = 0; i < r1_->size(); i += 188) {
        const uint8_t* p = &(*r1_)[i];
        uint16_t pid = pid_of(p);
        double t = seconds_at(i / 188, rate);
        if ((p[3] & 0x20) && p[4] >= 7 && (p[5] & 0x10)) {
            uint64_t base = (uint64_t(p[6]) << 25) | (uint64_t(p[7]) << 17) | (p[8] << 9) |
                            (p[9] << 1) | (p[10] >> 7);
            uint64_t ext = ((p[10] & 1) << 8) | p[11];
            double pcr = double(base * 300 + ext) / 27e6;
            EXPECT_NEAR(pcr - 1.0, t, 0.001) << "PCR on PID " << pid;
            if (last_pcr_at.count(pid))
                EXPECT_LE(t - last_pcr_at[pid], 0.04) << "PCR gap on PID " << pid;
            last_pcr_at[pid] = t;
            if (pid == 0x120)
                pcr_now = pcr;
        }
        if (pid == 0x120 && (p[1] & 0x40) && pcr_now >= 0) {
            const uint8_t* pes = p + payload_offset(p);
            ASSERT_EQ(pes[0] | pes[1], 0);
            ASSERT_EQ(pes[2], 1);
            ASSERT_EQ(pes[7] & 0xC0, 0xC0) << "video PES carries PTS and DTS";
            auto ts_of = [](const uint8_t* b) {
                return double((uint64_t(b[0] & 0x0E) << 29) | (b[1] << 22) | ((b[2] & 0xFE) << 14) |
                              (b[3] << 7) | (b[4] >> 1)) /
                       90000.0;
            };
            double pts = ts_of(pes + 9);
            double dts = ts_of(pes + 14);
            EXPECT_NEAR(pts - dts, 0.04, 1e-6);
            EXPECT_GT(dts, pcr_now);
            EXPECT_LT(dts - pcr_now, 1.0);
            ++pes_checked;
        }
    }
    EXPECT_EQ(last_pcr_at.count(0x120), 1u);
    EXPECT_EQ(last_pcr_at.count(0x220), 1u);
    EXPECT_EQ(last_pcr_at.count(0x330), 1u) << "the radio service's PCR rides on its audio";
    EXPECT_GT(pes_checked, 80u); // 25 pictures a second for about four seconds
}

TEST(MuxgenPmtChange, NewVersionAndPidsFromTheChangeOn) {
    std::vector<uint8_t> ts = generate("pmt_change.mux", 490167);
    ASSERT_FALSE(ts.empty());
    const double rate = 2000000;
    auto all = sections_of(ts, {0x100});
    int version = 0;
    double change_seen = -1;
    for (const SeenSection& s : all) {
        int v = (s.bytes[5] >> 1) & 0x1F;
        if (v != version) {
            EXPECT_EQ(v, version + 1);
            version = v;
            change_seen = seconds_at(s.packet, rate);
        }
    }
    EXPECT_EQ(version, 1);
    EXPECT_NEAR(change_seen, 2.0, 0.11);
    double last_old = -1;
    double first_new = -1;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        uint16_t pid = pid_of(&ts[i]);
        double t = seconds_at(i / 188, rate);
        if (pid == 0x120 && has_payload(&ts[i]))
            last_old = t;
        if (pid == 0x121 && first_new < 0)
            first_new = t;
    }
    EXPECT_LT(last_old, 2.2);
    EXPECT_GE(first_new, 2.0);
    Decoded d = decode_with_dvbpsi(ts);
    EXPECT_EQ(d.pmt_version[0x1001], 1);
    EXPECT_EQ(d.pmt_streams[0x1001].size(), 3u);
    EXPECT_EQ(d.pmt_version[0x1002], 0);
}

// The renumbering scenario: NIT version 0 with the old numbers, then version 1 with the new
// ones from the third second on; the watch of the running program tells it once, and every
// delivery descriptor gives an all-ones frequency.
TEST(MuxgenRenumber, NitVersionAndNumbersChangeAtTheRenumbering) {
    std::vector<uint8_t> ts = generate("renumber.mux", 610167);
    ASSERT_FALSE(ts.empty());
    korvane::NitVersionWatch watch;
    int told = 0;
    double told_at = -1;
    std::map<int, std::map<int, int>> numbers_by_version; // version -> sid -> number
    int unknown_frequencies = 0;
    for (const SeenSection& s : sections_of(ts, {0x10})) {
        ASSERT_EQ(s.bytes[0], 0x40);
        ASSERT_TRUE(crc_ok(s.bytes));
        if (watch.versionChanged(s.bytes.data(), s.bytes.size())) {
            ++told;
            told_at = seconds_at(s.packet, 3000000);
        }
        const int version = (s.bytes[5] >> 1) & 0x1F;
        for (const korvane::LogicalChannelNumber& n :
             korvane::parseNit(s.bytes.data(), s.bytes.size()).numbers)
            numbers_by_version[version][n.sid] = n.number;
        for (size_t i = 0; i + 6 <= s.bytes.size(); ++i)
            if (s.bytes[i] == 0x5A && s.bytes[i + 1] == 11 &&
                std::all_of(&s.bytes[i + 2], &s.bytes[i + 6], [](uint8_t b) { return b == 0xFF; }))
                ++unknown_frequencies;
    }
    EXPECT_EQ(told, 1);
    EXPECT_NEAR(told_at, 3.0, 0.11);
    EXPECT_EQ(numbers_by_version[0], (std::map<int, int>{{0x3001, 3}, {0x3002, 3}, {0x3003, 1}}));
    EXPECT_EQ(numbers_by_version[1], (std::map<int, int>{{0x3001, 30}, {0x3002, 31}, {0x3003, 1}}));
    EXPECT_GE(unknown_frequencies, 2);
}

TEST(MuxgenFaults, EachFaultHappensOnceWhereAsked) {
    std::vector<uint8_t> ts = generate("faults.mux", 506167);
    ASSERT_FALSE(ts.empty());
    // The sync loss leaves 97 stray bytes: the file is no longer a packet multiple.
    EXPECT_EQ(ts.size() % 188, 97u);
    size_t garbage = 0;
    while (garbage < ts.size() && ts[garbage] == 0x47)
        garbage += 188;
    size_t resync = garbage;
    while (resync + 376 < ts.size() &&
           !(ts[resync] == 0x47 && ts[resync + 188] == 0x47 && ts[resync + 376] == 0x47))
        ++resync;
    EXPECT_EQ(resync - garbage, 97u);
    EXPECT_NEAR(seconds_at(garbage / 188, 1500000), 1.5, 0.01);
    std::vector<uint8_t> before(ts.begin(), ts.begin() + long(garbage));
    std::vector<uint8_t> after(ts.begin() + long(resync), ts.end());

    int bad_crc = 0;
    for (const auto* part : {&before, &after}) {
        for (const SeenSection& s : sections_of(*part, {0x11}))
            bad_crc += crc_ok(s.bytes) ? 0 : 1;
    }
    EXPECT_EQ(bad_crc, 1);

    int gaps = 0;
    for (const auto* part : {&before, &after}) {
        int last = -1;
        for (size_t i = 0; i + 188 <= part->size(); i += 188) {
            const uint8_t* p = &(*part)[i];
            if (pid_of(p) != 0x120 || !has_payload(p))
                continue;
            int cc = p[3] & 0x0F;
            if (last >= 0 && cc != ((last + 1) & 0x0F))
                ++gaps;
            last = cc;
        }
    }
    EXPECT_EQ(gaps, 1);
}

TEST(MuxgenGeneration, RefusesABitRateTooLowForItsStreams) {
    std::string dir = KORVANE_BINARY_DIR "/muxgen-test/low-" + std::to_string(getpid());
    fs::create_directories(dir);
    std::ofstream(dir + "/low.mux") << "video 176x144\n"
                                       "mux R1 frequency 474167 tsid 1 bitrate 200000\n"
                                       "service 1 \"A\" pmt 0x100\n"
                                       "stream mpeg2 0x120\n";
    std::string command = std::string(MUXGEN_EXECUTABLE) + " -o " + dir + " --cache " +
                          KORVANE_BINARY_DIR "/muxgen-test/es-cache " + dir +
                          "/low.mux >/dev/null 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_FALSE(fs::exists(dir + "/474167.ts"));
    fs::remove_all(dir);
}

} // namespace
