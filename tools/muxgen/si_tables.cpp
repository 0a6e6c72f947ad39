#include "si_tables.h"

#include "dvb_text.h"

#include "si/psi_ids.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>

extern "C" {
#include <dvbpsi/descriptor.h>
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/eit.h>
#include <dvbpsi/nit.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/sdt.h>
}

namespace muxgen {

// Descriptors of today's audio tracks: enhanced AC-3, and the extension descriptor whose
// supplementary audio form tells an audio description from the main track.
constexpr uint8_t kEnhancedAc3Tag = 0x7A;
constexpr uint8_t kExtensionTag = 0x7F;
constexpr uint8_t kSupplementaryAudioExtension = 0x06;

namespace {

struct HandleDeleter {
    void operator()(dvbpsi_t* h) const { dvbpsi_delete(h); }
};
using Handle = std::unique_ptr<dvbpsi_t, HandleDeleter>;

Handle new_handle() {
    return Handle(dvbpsi_new(nullptr, DVBPSI_MSG_NONE));
}

// Copies a generated section chain and frees it.
std::vector<Section> take_sections(dvbpsi_psi_section_t* first) {
    std::vector<Section> out;
    for (dvbpsi_psi_section_t* s = first; s; s = s->p_next) {
        size_t length = size_t(s->i_length) + 3;
        out.emplace_back(s->p_data, s->p_data + length);
    }
    dvbpsi_DeletePSISections(first);
    return out;
}

std::string text_or_empty(std::string_view utf8, int selector, size_t max) {
    auto t = encode_dvb_text(utf8, selector, max);
    return t ? *t : std::string();
}

uint8_t bcd(int v) {
    return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

// 16-bit Modified Julian Date and 24-bit BCD time, as EIT start times are written.
uint64_t dvb_time(int64_t utc) {
    int64_t days = utc >= 0 ? utc / 86400 : (utc - 86399) / 86400;
    int64_t secs = utc - days * 86400;
    uint64_t mjd = static_cast<uint64_t>(days + 40587) & 0xFFFF;
    int h = int(secs / 3600);
    int m = int(secs % 3600 / 60);
    int s = int(secs % 60);
    return (mjd << 24) | (uint64_t(bcd(h)) << 16) | (uint64_t(bcd(m)) << 8) | bcd(s);
}

uint32_t dvb_duration(int seconds) {
    int h = seconds / 3600;
    if (h > 99)
        h = 99;
    return (uint32_t(bcd(h)) << 16) | (uint32_t(bcd(seconds % 3600 / 60)) << 8) | bcd(seconds % 60);
}

int64_t cycle_length(const ServiceSpec& service) {
    int64_t total = 0;
    for (const EventSpec& e : service.events)
        total += e.duration;
    return total;
}

} // namespace

uint32_t crc32_mpeg2(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

std::vector<Section> build_pat(const MuxSpec& mux) {
    Handle h = new_handle();
    dvbpsi_pat_t* pat = dvbpsi_pat_new(mux.tsid, 0, true);
    // The NIT entry comes first, as receivers expect it there.
    dvbpsi_pat_program_add(pat, 0, korvane::kNitPid);
    for (const ServiceSpec& s : mux.services)
        dvbpsi_pat_program_add(pat, s.sid, s.pmt_pid);
    auto out = take_sections(dvbpsi_pat_sections_generate(h.get(), pat, 253));
    dvbpsi_pat_delete(pat);
    return out;
}

std::vector<Section> build_pmt(const ServiceSpec& service, size_t phase, uint8_t version) {
    Handle h = new_handle();
    const StreamPhase& p = service.phases[phase];
    dvbpsi_pmt_t* pmt = dvbpsi_pmt_new(service.sid, version & 0x1F, true, service.pcr_pid_of(p));
    for (const StreamSpec& st : p.streams) {
        dvbpsi_pmt_es_t* es = dvbpsi_pmt_es_add(pmt, stream_type_of(st.kind), st.pid);
        if (st.kind == StreamKind::DvbSubtitles) {
            // One subtitling descriptor entry: language, type, composition and ancillary page.
            std::array<uint8_t, 8> entry = {uint8_t(st.language[0]), uint8_t(st.language[1]),
                                            uint8_t(st.language[2]), st.subtitling_type,
                                            uint8_t(st.page >> 8),   uint8_t(st.page),
                                            uint8_t(st.page >> 8),   uint8_t(st.page)};
            dvbpsi_pmt_es_descriptor_add(es, korvane::kSubtitlingTag, 8, entry.data());
        } else if (!st.language.empty()) {
            std::array<uint8_t, 4> lang = {uint8_t(st.language[0]), uint8_t(st.language[1]),
                                           uint8_t(st.language[2]), st.audio_type};
            dvbpsi_pmt_es_descriptor_add(es, korvane::kLanguageTag, 4, lang.data());
        }
        if (st.kind == StreamKind::Ac3Audio) {
            uint8_t flags = 0;
            dvbpsi_pmt_es_descriptor_add(es, korvane::kAc3Tag, 1, &flags);
        }
        if (st.kind == StreamKind::Eac3Audio) {
            uint8_t flags = 0; // no optional field
            dvbpsi_pmt_es_descriptor_add(es, kEnhancedAc3Tag, 1, &flags);
        }
        if (st.supplementary >= 0) {
            // Extension 0x06: mix type 1 (complete), the classification, reserved bit 1,
            // then the language when one is given.
            std::vector<uint8_t> body = {
                kSupplementaryAudioExtension,
                uint8_t(0x80 | (st.supplementary << 2) | 0x02 | (st.language.empty() ? 0 : 1))};
            body.insert(body.end(), st.language.begin(), st.language.end());
            dvbpsi_pmt_es_descriptor_add(es, kExtensionTag, uint8_t(body.size()), body.data());
        }
        if (st.kind == StreamKind::Data) {
            std::array<uint8_t, 2> tag = {0x00, 0x01}; // stream identifier, component tag 1
            dvbpsi_pmt_es_descriptor_add(es, korvane::kStreamIdentifierTag, 1, &tag[1]);
        }
    }
    auto out = take_sections(dvbpsi_pmt_sections_generate(h.get(), pmt));
    dvbpsi_pmt_delete(pmt);
    return out;
}

std::vector<Section> build_sdt(const Scenario& scenario, const MuxSpec& mux) {
    Handle h = new_handle();
    dvbpsi_sdt_t* sdt =
        dvbpsi_sdt_new(korvane::kSdtActualTableId, mux.tsid, 0, true, scenario.onid);
    for (const ServiceSpec& s : mux.services) {
        dvbpsi_sdt_service_t* svc = dvbpsi_sdt_service_add(sdt, s.sid, false, true, 4, false);
        std::string provider = text_or_empty(s.provider, s.name_selector, 100);
        std::string name = text_or_empty(s.name, s.name_selector, 100);
        std::vector<uint8_t> body;
        body.push_back(s.service_type());
        body.push_back(uint8_t(provider.size()));
        body.insert(body.end(), provider.begin(), provider.end());
        body.push_back(uint8_t(name.size()));
        body.insert(body.end(), name.begin(), name.end());
        dvbpsi_sdt_service_descriptor_add(svc, korvane::kServiceTag, uint8_t(body.size()),
                                          body.data());
    }
    auto out = take_sections(dvbpsi_sdt_sections_generate(h.get(), sdt));
    dvbpsi_sdt_delete(sdt);
    return out;
}

std::vector<Section> build_nit(const Scenario& scenario, double t) {
    Handle h = new_handle();
    const bool renumbered = scenario.renumber_at && t >= *scenario.renumber_at;
    dvbpsi_nit_t* nit = dvbpsi_nit_new(korvane::kNitActualTableId, scenario.network_id,
                                       scenario.network_id, renumbered ? 1 : 0, true);
    std::string name = text_or_empty(scenario.network_name, 0x05, 60);
    dvbpsi_nit_descriptor_add(nit, korvane::kNetworkNameTag, uint8_t(name.size()),
                              reinterpret_cast<uint8_t*>(name.data()));
    for (const MuxSpec& mux : scenario.muxes) {
        dvbpsi_nit_ts_t* ts = dvbpsi_nit_ts_add(nit, mux.tsid, scenario.onid);
        std::vector<uint8_t> list;
        for (const ServiceSpec& s : mux.services) {
            list.push_back(uint8_t(s.sid >> 8));
            list.push_back(uint8_t(s.sid));
            list.push_back(s.service_type());
        }
        if (!list.empty())
            dvbpsi_nit_ts_descriptor_add(ts, korvane::kServiceListTag, uint8_t(list.size()),
                                         list.data());
        uint32_t f = scenario.nit_frequency_unknown ? 0xFFFFFFFFu
                                                    : mux.frequency_khz * 100; // units of 10 Hz
        std::array<uint8_t, 11> delivery = {uint8_t(f >> 24),
                                            uint8_t(f >> 16),
                                            uint8_t(f >> 8),
                                            uint8_t(f),
                                            0x1F,
                                            0x81,
                                            0x02,
                                            0xFF,
                                            0xFF,
                                            0xFF,
                                            0xFF};
        dvbpsi_nit_ts_descriptor_add(ts, korvane::kTerrestrialDeliveryTag, uint8_t(delivery.size()),
                                     delivery.data());
        // Logical channel numbers are private to the French specifier, announced first.
        std::array<uint8_t, 4> specifier = {0x00, 0x00, 0x23, 0x3D};
        dvbpsi_nit_ts_descriptor_add(ts, korvane::kPrivateDataSpecifierTag, 4, specifier.data());
        std::vector<uint8_t> lcn;
        for (const ServiceSpec& s : mux.services) {
            const uint16_t number =
                renumbered && s.lcn_after_renumbering ? s.lcn_after_renumbering : s.lcn;
            if (number == 0)
                continue;
            lcn.push_back(uint8_t(s.sid >> 8));
            lcn.push_back(uint8_t(s.sid));
            lcn.push_back(uint8_t(0xFC | (number >> 8)));
            lcn.push_back(uint8_t(number));
        }
        if (!lcn.empty())
            dvbpsi_nit_ts_descriptor_add(ts, korvane::kLogicalChannelTag, uint8_t(lcn.size()),
                                         lcn.data());
    }
    auto out =
        take_sections(dvbpsi_nit_sections_generate(h.get(), nit, korvane::kNitActualTableId));
    dvbpsi_nit_delete(nit);
    return out;
}

bool event_at(const Scenario& scenario, const ServiceSpec& service, int64_t utc,
              EventTiming& present, EventTiming& following) {
    int64_t cycle = cycle_length(service);
    if (cycle == 0)
        return false;
    int64_t first = scenario.start_utc - service.elapsed;
    int64_t offset = utc - first;
    int64_t rounds = offset >= 0 ? offset / cycle : (offset - cycle + 1) / cycle;
    int64_t start = first + rounds * cycle;
    size_t n = service.events.size();
    size_t i = 0;
    while (start + service.events[i].duration <= utc) {
        start += service.events[i].duration;
        ++i;
    }
    auto id_of = [&](int64_t round, size_t index) {
        return static_cast<uint16_t>((round * int64_t(n) + int64_t(index)) % 0xFFFE + 1);
    };
    present = {i, start, id_of(rounds, i)};
    size_t next = (i + 1) % n;
    following = {next, start + service.events[i].duration,
                 id_of(next == 0 ? rounds + 1 : rounds, next)};
    return true;
}

std::vector<Section> build_eit_pf(const Scenario& scenario, const MuxSpec& mux,
                                  const ServiceSpec& service, bool actual, int64_t utc,
                                  uint8_t version) {
    EventTiming slots[2];
    if (!event_at(scenario, service, utc, slots[0], slots[1]))
        return {};
    Handle h = new_handle();
    uint8_t table = actual ? korvane::kEitActualTableId : korvane::kEitOtherTableId;
    std::vector<Section> out;
    for (uint8_t number = 0; number < 2; ++number) {
        const EventSpec& e = service.events[slots[number].index];
        dvbpsi_eit_t* eit = dvbpsi_eit_new(table, service.sid, version & 0x1F, true, mux.tsid,
                                           scenario.onid, 1, table);
        dvbpsi_eit_event_t* ev =
            dvbpsi_eit_event_add(eit, slots[number].event_id, dvb_time(slots[number].start),
                                 dvb_duration(e.duration), number == 0 ? 4 : 1, false, 0);
        // Short event: language, title and text; both texts carry the 0x05 selector.
        std::string title = text_or_empty(e.title, 0x05, 120);
        std::string text = text_or_empty(e.description, 0x05, 255 - 5 - title.size());
        std::vector<uint8_t> body = {'f', 'r', 'e', uint8_t(title.size())};
        body.insert(body.end(), title.begin(), title.end());
        body.push_back(uint8_t(text.size()));
        body.insert(body.end(), text.begin(), text.end());
        dvbpsi_eit_event_descriptor_add(ev, korvane::kShortEventTag, uint8_t(body.size()),
                                        body.data());
        dvbpsi_psi_section_t* s = dvbpsi_eit_sections_generate(h.get(), eit, table);
        // Present and following travel in sections 0 and 1 of one table.
        s->i_number = number;
        s->i_last_number = 1;
        s->p_data[6] = number;
        s->p_data[7] = 1;
        s->p_data[12] = 1; // segment_last_section_number
        dvbpsi_BuildPSISection(h.get(), s);
        auto one = take_sections(s);
        out.insert(out.end(), one.begin(), one.end());
        dvbpsi_eit_delete(eit);
    }
    return out;
}

Section build_private_section(uint16_t extension, uint8_t version,
                              const std::vector<uint8_t>& payload) {
    size_t length = 5 + payload.size() + 4;
    const uint8_t header[] = {korvane::kPrivateTableId,
                              uint8_t(0xB0 | (length >> 8)),
                              uint8_t(length),
                              uint8_t(extension >> 8),
                              uint8_t(extension),
                              uint8_t(0xC1 | ((version & 0x1F) << 1)),
                              0,
                              0};
    // Sized once and filled in place: growing a vector made for the header alone made g++ 12
    // warn about the copy that grows it (-Warray-bounds, a false positive).
    Section s(sizeof header + payload.size() + 4);
    std::copy(std::begin(header), std::end(header), s.begin());
    std::copy(payload.begin(), payload.end(), s.begin() + sizeof header);
    const size_t crc_at = s.size() - 4;
    uint32_t crc = crc32_mpeg2(s.data(), crc_at);
    s[crc_at] = uint8_t(crc >> 24);
    s[crc_at + 1] = uint8_t(crc >> 16);
    s[crc_at + 2] = uint8_t(crc >> 8);
    s[crc_at + 3] = uint8_t(crc);
    return s;
}

} // namespace muxgen
