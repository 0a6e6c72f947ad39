#include "si/eit.h"
#include "si/nit.h"
#include "si/pat.h"
#include "si/pmt.h"
#include "si/sdt.h"
#include "si/section_check.h"

#include <gtest/gtest.h>

extern "C" {
#include <dvbpsi/descriptor.h>
#include <dvbpsi/dr_48.h>
#include <dvbpsi/dr_4d.h>
#include <dvbpsi/dr_83.h>
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/eit.h>
#include <dvbpsi/nit.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/sdt.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace korvane;

// Sections built by an independent generator from random field values, decoded by ours.
namespace {

struct DvbpsiHandle {
    dvbpsi_t* handle = dvbpsi_new(nullptr, DVBPSI_MSG_NONE);
    ~DvbpsiHandle() { dvbpsi_delete(handle); }
};

using Section = std::vector<uint8_t>;

// Copies every generated section (header to CRC included) and frees the list.
std::vector<Section> take(dvbpsi_psi_section_t* sections) {
    std::vector<Section> out;
    for (dvbpsi_psi_section_t* s = sections; s; s = s->p_next)
        out.emplace_back(s->p_data, s->p_data + s->i_length + 3);
    dvbpsi_DeletePSISections(sections);
    return out;
}

struct Random {
    std::mt19937 engine{20240607};
    unsigned below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(engine); }
    unsigned between(unsigned lo, unsigned hi) {
        return std::uniform_int_distribution<unsigned>(lo, hi)(engine);
    }
    // Text bytes as broadcast: anything but NUL, sometimes led by a 0x05 selector.
    std::string text(unsigned maxLength) {
        std::string s(below(maxLength + 1), '\0');
        for (char& c : s)
            c = static_cast<char>(between(1, 255));
        if (!s.empty() && below(4) == 0)
            s[0] = 0x05;
        return s;
    }
    std::set<unsigned> distinct(unsigned count, unsigned lo, unsigned hi) {
        std::set<unsigned> values;
        while (values.size() < count)
            values.insert(between(lo, hi));
        return values;
    }
};

// Adds a generated descriptor through the table's own add function, then frees it.
template <typename Add> void addGenerated(dvbpsi_descriptor_t* d, Add add) {
    ASSERT_NE(d, nullptr);
    add(d->i_tag, d->i_length, d->p_data);
    dvbpsi_DeleteDescriptors(d);
}

std::string withoutSelector(const std::string& s) {
    return !s.empty() && s[0] == 0x05 ? s.substr(1) : s;
}

uint8_t toBcd(unsigned v) {
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

} // namespace

TEST(DvbpsiCrosscheck, PatProgramsGivePmtPids) {
    DvbpsiHandle dvb;
    Random rnd;
    for (int round = 0; round < 200; ++round) {
        const unsigned tsid = rnd.between(0, 0xFFFF);
        const bool network = rnd.below(2);
        const auto programs = rnd.distinct(rnd.between(1, 40), 1, 0xFFFF);
        dvbpsi_pat_t* table = dvbpsi_pat_new(static_cast<uint16_t>(tsid), rnd.below(32), true);
        if (network)
            dvbpsi_pat_program_add(table, 0, 0x10);
        ChannelList list;
        std::vector<unsigned> pids;
        for (unsigned program : programs) {
            pids.push_back(rnd.between(0x10, 0x1FFE));
            dvbpsi_pat_program_add(table, static_cast<uint16_t>(program),
                                   static_cast<uint16_t>(pids.back()));
            ChannelInfo c;
            c.tsid = static_cast<int32_t>(tsid);
            c.sid = static_cast<int32_t>(program);
            list.append(c);
            c.tsid = static_cast<int32_t>(tsid ^ 1);
            list.append(c);
        }
        auto sections = take(dvbpsi_pat_sections_generate(dvb.handle, table, 253));
        dvbpsi_pat_delete(table);
        ASSERT_EQ(sections.size(), 1u);
        ASSERT_TRUE(checkSectionCrc(sections[0].data(), sections[0].size()));
        decodePat(list, sections[0].data(), sections[0].size());
        const ChannelRecords r = list.snapshot();
        for (std::size_t i = 0; i < pids.size(); ++i) {
            ASSERT_EQ(r[2 * i].pmtPid, static_cast<int32_t>(pids[i])) << round;
            ASSERT_EQ(r[2 * i + 1].pmtPid, 0);
        }
    }
}

TEST(DvbpsiCrosscheck, PmtStreamsGiveTheSevenPids) {
    DvbpsiHandle dvb;
    Random rnd;
    const uint8_t types[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x06, 0x1B, 0x81, 0x0F};
    for (int round = 0; round < 300; ++round) {
        const unsigned pcr = rnd.between(0, 0x1FFF);
        dvbpsi_pmt_t* table = dvbpsi_pmt_new(static_cast<uint16_t>(rnd.between(1, 0xFFFF)), 0, true,
                                             static_cast<uint16_t>(pcr));
        uint8_t caBody[4] = {0x01, 0x00, 0xE1, 0x00};
        if (rnd.below(2))
            dvbpsi_pmt_descriptor_add(table, 0x09, 4, caBody);
        PmtPids expected;
        expected.pcrPid = static_cast<int32_t>(pcr);
        const unsigned streams = rnd.between(0, 12);
        for (unsigned s = 0; s < streams; ++s) {
            const uint8_t type = types[rnd.below(sizeof types)];
            const int32_t pid = static_cast<int32_t>(rnd.between(0x20, 0x1FFE));
            dvbpsi_pmt_es_t* es = dvbpsi_pmt_es_add(table, type, static_cast<uint16_t>(pid));
            uint8_t language[4] = {'f', 'r', 'a', 0};
            uint8_t ac3[1] = {0x00};
            const unsigned descriptors = rnd.below(4);
            for (unsigned d = 0; d < descriptors; ++d) {
                if (rnd.below(2)) {
                    dvbpsi_pmt_es_descriptor_add(es, 0x6A, 1, ac3);
                    if (type == 0x06)
                        (expected.ac3Pid == 0 ? expected.ac3Pid : expected.ac3Pid2) = pid;
                } else {
                    dvbpsi_pmt_es_descriptor_add(es, 0x0A, 4, language);
                }
            }
            if (type == 0x01 || type == 0x02)
                expected.videoPid = pid;
            else if (type == 0x03 || type == 0x04)
                (expected.audio1Pid == 0 ? expected.audio1Pid : expected.audio2Pid) = pid;
            else if (type == 0x1B)
                expected.videoMpeg4Pid = pid;
        }
        auto sections = take(dvbpsi_pmt_sections_generate(dvb.handle, table));
        dvbpsi_pmt_delete(table);
        ASSERT_EQ(sections.size(), 1u);
        const Section& pmt = sections[0];
        ASSERT_TRUE(passesPmtGate(pmt.data(), pmt.size()));

        PmtPids decoded;
        ASSERT_EQ(classifyPmtStreams(pmt.data(), pmt.size(), decoded), PmtRead::Complete);
        ASSERT_EQ(decoded, expected) << round;

        ChannelList list;
        list.append(ChannelInfo{});
        scanPmt(list, pmt.data(), pmt.size(), 0);
        ASSERT_EQ(pmtPidsOf(*list.copyAt(0)), expected);
    }
}

TEST(DvbpsiCrosscheck, SdtServicesBecomeRecords) {
    DvbpsiHandle dvb;
    Random rnd;
    for (int round = 0; round < 200; ++round) {
        const unsigned tsid = rnd.between(0, 0xFFFF);
        const unsigned onid = rnd.between(0, 0xFFFF);
        dvbpsi_sdt_t* table =
            dvbpsi_sdt_new(0x42, static_cast<uint16_t>(tsid), 0, true, static_cast<uint16_t>(onid));
        struct Expected {
            unsigned sid;
            std::string provider, name;
        };
        std::vector<Expected> expected;
        for (unsigned sid : rnd.distinct(rnd.between(1, 8), 1, 0xFFFF)) {
            Expected e{sid, rnd.text(40), rnd.text(60)};
            dvbpsi_sdt_service_t* service =
                dvbpsi_sdt_service_add(table, static_cast<uint16_t>(sid), false, true, 4, false);
            dvbpsi_service_dr_t dr{};
            dr.i_service_type = static_cast<uint8_t>(rnd.between(1, 0x19));
            dr.i_service_provider_name_length = static_cast<uint8_t>(e.provider.size());
            std::memcpy(dr.i_service_provider_name, e.provider.data(), e.provider.size());
            dr.i_service_name_length = static_cast<uint8_t>(e.name.size());
            std::memcpy(dr.i_service_name, e.name.data(), e.name.size());
            addGenerated(dvbpsi_GenServiceDr(&dr, false), [&](uint8_t t, uint8_t l, uint8_t* p) {
                dvbpsi_sdt_service_descriptor_add(service, t, l, p);
            });
            if (rnd.below(2)) {
                uint8_t privateData[4] = {0, 0, 0, 0x28};
                dvbpsi_sdt_service_descriptor_add(service, 0x5F, 4, privateData);
            }
            expected.push_back(e);
        }
        auto sections = take(dvbpsi_sdt_sections_generate(dvb.handle, table));
        dvbpsi_sdt_delete(table);
        ChannelList list;
        for (const Section& s : sections) {
            ASSERT_TRUE(checkSectionCrc(s.data(), s.size()));
            decodeSdt(list, s.data(), s.size(), 474167);
        }
        const ChannelRecords r = list.snapshot();
        ASSERT_EQ(r.size(), expected.size()) << round;
        for (std::size_t i = 0; i < r.size(); ++i) {
            EXPECT_EQ(r[i].sid, static_cast<int32_t>(expected[i].sid));
            EXPECT_EQ(r[i].tsid, static_cast<int32_t>(tsid));
            EXPECT_EQ(r[i].onid, static_cast<int32_t>(onid));
            EXPECT_EQ(r[i].frequency, 474167);
            EXPECT_EQ(r[i].name, expected[i].name);
            EXPECT_EQ(r[i].group, expected[i].provider);
        }
    }
}

TEST(DvbpsiCrosscheck, NitLogicalChannelNumbersReachTheirServices) {
    DvbpsiHandle dvb;
    Random rnd;
    for (int round = 0; round < 200; ++round) {
        dvbpsi_nit_t* table = dvbpsi_nit_new(0x40, 0x20FA, 0x20FA, 0, true);
        uint8_t name[3] = {'T', 'N', 'T'};
        dvbpsi_nit_descriptor_add(table, 0x40, 3, name);
        ChannelRecords records;
        std::vector<int32_t> expected;
        const auto transportIds = rnd.distinct(rnd.between(1, 6), 1, 0xFFFF);
        for (unsigned tsid : transportIds) {
            const unsigned onid = rnd.between(0, 0xFFFF);
            dvbpsi_nit_ts_t* ts =
                dvbpsi_nit_ts_add(table, static_cast<uint16_t>(tsid), static_cast<uint16_t>(onid));
            uint8_t other[2] = {0x00, 0x01};
            dvbpsi_nit_ts_descriptor_add(ts, 0x41, 2, other);
            dvbpsi_lcn_dr_t lcn{};
            for (unsigned sid : rnd.distinct(rnd.between(1, 10), 1, 0xFFFF)) {
                dvbpsi_lcn_entry_t& entry = lcn.p_entries[lcn.i_number_of_entries++];
                entry.i_service_id = static_cast<uint16_t>(sid);
                entry.b_visible_service_flag = static_cast<int>(rnd.below(2));
                entry.i_logical_channel_number = static_cast<uint16_t>(rnd.between(0, 0x3FF));
                ChannelInfo c;
                c.onid = static_cast<int32_t>(onid);
                c.tsid = static_cast<int32_t>(tsid);
                c.sid = static_cast<int32_t>(sid);
                records.push_back(c);
                expected.push_back(entry.i_logical_channel_number);
            }
            addGenerated(dvbpsi_GenLCNDr(&lcn, false), [&](uint8_t t, uint8_t l, uint8_t* p) {
                dvbpsi_nit_ts_descriptor_add(ts, t, l, p);
            });
        }
        auto sections = take(dvbpsi_nit_sections_generate(dvb.handle, table, 0x40));
        dvbpsi_nit_delete(table);
        ASSERT_EQ(sections.size(), 1u);
        ASSERT_TRUE(checkSectionCrc(sections[0].data(), sections[0].size()));
        readLogicalChannelNumbers(records, sections[0].data(), sections[0].size());
        for (std::size_t i = 0; i < records.size(); ++i)
            ASSERT_EQ(records[i].number, expected[i]) << round << " " << i;
    }
}

TEST(DvbpsiCrosscheck, EitEventsFillTheGuideSlots) {
    DvbpsiHandle dvb;
    Random rnd;
    FixedOffsetTimeConverter clock(60);
    const FileTime mjdEpoch = *fileTimeFromDateTime({1858, 11, 17, 0, 0, 0});
    constexpr FileTime kSecond = 10'000'000;
    for (int round = 0; round < 300; ++round) {
        const unsigned sid = rnd.between(1, 0xFFFF);
        dvbpsi_eit_t* table =
            dvbpsi_eit_new(0x4E, static_cast<uint16_t>(sid), 0, true, 4, 0x20FA, 1, 0x4E);
        struct Expected {
            FileTime start, end;
            std::string title, description;
        };
        std::vector<Expected> expected;
        const unsigned count = rnd.between(1, 2);
        std::set<uint64_t> starts;
        for (unsigned n = 0; n < count; ++n) {
            const unsigned mjd = rnd.between(51544, 65535);
            const unsigned h = rnd.below(24), m = rnd.below(60), s = rnd.below(60);
            const unsigned dh = rnd.below(100), dm = rnd.below(60), ds = rnd.below(60);
            const uint64_t startField =
                uint64_t{mjd} << 24 | uint64_t{toBcd(h)} << 16 | uint64_t{toBcd(m)} << 8 | toBcd(s);
            if (!starts.insert(startField).second)
                continue;
            const uint32_t duration =
                uint32_t{toBcd(dh)} << 16 | uint32_t{toBcd(dm)} << 8 | toBcd(ds);

            dvbpsi_short_event_dr_t dr{};
            std::memcpy(dr.i_iso_639_code, "fre", 3);
            const std::string title = rnd.text(80), text = rnd.text(150);
            dr.i_event_name_length = static_cast<int>(title.size());
            std::memcpy(dr.i_event_name, title.data(), title.size());
            dr.i_text_length = static_cast<int>(text.size());
            std::memcpy(dr.i_text, text.data(), text.size());
            dvbpsi_descriptor_t* generated = dvbpsi_GenShortEventDr(&dr, false);
            ASSERT_NE(generated, nullptr);
            dvbpsi_eit_event_t* event =
                dvbpsi_eit_event_add(table, static_cast<uint16_t>(n + 1), startField, duration, 4,
                                     false, static_cast<uint16_t>(2 + generated->i_length));
            dvbpsi_eit_event_descriptor_add(event, generated->i_tag, generated->i_length,
                                            generated->p_data);
            dvbpsi_DeleteDescriptors(generated);

            const FileTime start = mjdEpoch + FileTime{mjd} * 86400 * kSecond +
                                   FileTime{h * 3600 + m * 60 + s} * kSecond;
            const FileTime end = start + FileTime{dh * 3600 + dm * 60 + ds} * kSecond;
            expected.push_back({start, end, withoutSelector(title), withoutSelector(text)});
        }
        auto sections = take(dvbpsi_eit_sections_generate(dvb.handle, table, 0x4E));
        dvbpsi_eit_delete(table);
        ASSERT_EQ(sections.size(), 1u);
        const Section& eit = sections[0];

        ChannelList list;
        ChannelInfo c;
        c.sid = static_cast<int32_t>(sid);
        list.append(c);
        list.setCurrentIndex(0);
        struct : WindowNotifier {
            int posts = 0;
            void postGuideUpdated() override { ++posts; }
            void postStreamsChanged() override {}
        } notifier;
        ASSERT_TRUE(handleEitSample(list, notifier, clock, eit.data(), eit.size()));
        EXPECT_EQ(notifier.posts, static_cast<int>(expected.size()));

        std::sort(expected.begin(), expected.end(),
                  [](const Expected& a, const Expected& b) { return a.start < b.start; });
        const ChannelInfo got = *list.copyAt(0);
        const EpgEvent* slots[2] = {&got.present, &got.following};
        for (std::size_t i = 0; i < 2; ++i) {
            if (i >= expected.size()) {
                EXPECT_TRUE(slots[i]->empty());
                continue;
            }
            const Expected& e = expected[i];
            EXPECT_EQ(slots[i]->startTime, e.start) << round;
            auto localStart = *dateTimeFromFileTime(e.start + 3600 * kSecond);
            auto localEnd = *dateTimeFromFileTime(e.end + 3600 * kSecond);
            char text[32];
            std::snprintf(text, sizeof text, "%02d:%02d:%02d", localStart.hour, localStart.minute,
                          localStart.second);
            EXPECT_EQ(slots[i]->startText, text);
            std::snprintf(text, sizeof text, "%02d:%02d:%02d", localEnd.hour, localEnd.minute,
                          localEnd.second);
            EXPECT_EQ(slots[i]->endText, text);
            EXPECT_EQ(slots[i]->title, e.title);
            EXPECT_EQ(slots[i]->description, e.description);
        }
    }
}
