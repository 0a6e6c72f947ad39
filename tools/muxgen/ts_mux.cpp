#include "ts_mux.h"

#include "dvb_subtitles.h"

#include "si/psi_ids.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>

namespace muxgen {

namespace {

Packet header(uint16_t pid, bool unit_start, uint8_t adaptation_control, uint8_t continuity) {
    Packet p;
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = uint8_t((unit_start ? 0x40 : 0) | ((pid >> 8) & 0x1F));
    p[2] = uint8_t(pid);
    p[3] = uint8_t((adaptation_control << 4) | (continuity & 0x0F));
    return p;
}

void put_timestamp(std::vector<uint8_t>& out, uint8_t prefix, int64_t ts) {
    uint64_t v = uint64_t(ts) & 0x1FFFFFFFFULL;
    out.push_back(uint8_t((prefix << 4) | ((v >> 29) & 0x0E) | 1));
    out.push_back(uint8_t(v >> 22));
    out.push_back(uint8_t(((v >> 14) & 0xFE) | 1));
    out.push_back(uint8_t(v >> 7));
    out.push_back(uint8_t(((v << 1) & 0xFE) | 1));
}

struct Queued {
    Packet packet;
    double ready = 0;
    double deadline = -1; // set on the last packet of an access unit
};

struct PidQueue {
    uint16_t pid = 0;
    uint8_t continuity = 0;     // next value to assign
    uint8_t last_emitted = 0xF; // what a packet without payload repeats
    std::deque<Queued> packets;
};

struct TableJob {
    uint16_t pid = 0;
    double period = 0;
    double next = 0;
    std::function<std::vector<Section>(double)> build;
    // When the table's content next changes after a time; a changed table goes out at once.
    std::function<double(double)> next_change;
};

struct EsJob {
    const ServiceSpec* service = nullptr;
    StreamSpec stream;
    const Elementary* es = nullptr;
    double from = 0;
    double until = 0;
    int64_t next_unit = 0;
    double lead = 0;
    uint8_t stream_id = 0;

    double period() const { return es->period_90k / 90000.0; }
    double send_time(int64_t k) const { return double(k) * period(); }
};

// Seconds between a video access unit's sending and its decoding time.
constexpr double kVideoLead = 0.4;

// A DVB subtitle stream: per loop of its service's video, a display set at the first
// picture (taken down by a clear set), then another at four tenths of the loop that
// disappears by its time-out before the loop ends.
struct SubtitleJob {
    StreamSpec stream;
    const Elementary* video = nullptr;
    double from = 0;
    double until = 0;
    std::vector<SubtitleBitmap> bitmaps; // the two texts
    std::vector<std::pair<int, int>> places;
    int64_t next_event = 0;
    uint8_t version = 0;

    static constexpr int kEventsPerLoop = 3;
    int64_t picture_of(int64_t event) const {
        const auto pictures = int64_t(video->units.size());
        static constexpr int64_t kTenths[kEventsPerLoop] = {0, 3, 4};
        return event / kEventsPerLoop * pictures + pictures * kTenths[event % kEventsPerLoop] / 10;
    }
    double send_time(int64_t event) const {
        return double(picture_of(event)) * video->period_90k / 90000.0;
    }
    // The presentation time of the picture the event belongs to, as the video job stamps it.
    int64_t pts(int64_t event) const {
        return int64_t(std::llround((send_time(event) + kVideoLead + kClockOffset) * 90000)) +
               video->period_90k;
    }
};

struct PcrJob {
    uint16_t pid = 0;
    double from = 0;
    double until = 0;
    double next = 0;
};

struct FaultState {
    FaultSpec spec;
    bool done = false;
};

class Multiplexer {
  public:
    Multiplexer(const Scenario& sc, const MuxSpec& mux, ElementaryLibrary& lib)
        : sc_(sc), mux_(mux), lib_(lib) {}

    bool run(std::vector<uint8_t>& out, MuxStats& stats, std::string& error) {
        if (!plan(error))
            return false;
        uint64_t total = uint64_t(std::ceil(sc_.duration * mux_.bitrate / 1504.0));
        out.reserve(total * 188 + 4096);
        for (uint64_t i = 0; i < total; ++i) {
            double t = double(i) * 1504.0 / mux_.bitrate;
            step(t, out, stats);
        }
        if (stats.late_units > 0) {
            error = "multiplex " + mux_.label + " needs more than " + std::to_string(mux_.bitrate) +
                    " bit/s (" + std::to_string(stats.late_units) + " late access units)";
            return false;
        }
        return true;
    }

  private:
    PidQueue& queue(uint16_t pid) {
        for (auto& q : queues_) {
            if (q->pid == pid)
                return *q;
        }
        queues_.push_back(std::make_unique<PidQueue>());
        queues_.back()->pid = pid;
        return *queues_.back();
    }

    bool plan(std::string& error) {
        for (const FaultSpec& f : mux_.faults)
            faults_.push_back({f, false});
        add_table(korvane::kPatPid, 0.1, 0.0, [this](double) { return build_pat(mux_); });
        add_table(korvane::kSdtPid, 2.0, 0.02, [this](double) { return build_sdt(sc_, mux_); });
        add_table(korvane::kNitPid, 10.0, 0.03, [this](double t) { return build_nit(sc_, t); });
        // The new version goes out at the renumbering, as a broadcaster sends a changed table.
        if (sc_.renumber_at)
            tables_.back().next_change = [at = *sc_.renumber_at](double t) {
                return at > t ? at : 1e18;
            };
        double stagger = 0.005;
        for (const ServiceSpec& s : mux_.services) {
            add_table(s.pmt_pid, 0.1, stagger, [&s](double t) {
                size_t phase = 0;
                while (phase + 1 < s.phases.size() && s.phases[phase + 1].start <= t)
                    ++phase;
                return build_pmt(s, phase, uint8_t(phase));
            });
            tables_.back().next_change = [&s](double t) {
                for (const StreamPhase& p : s.phases) {
                    if (p.start > t)
                        return p.start;
                }
                return 1e18;
            };
            stagger += 0.003;
        }
        // EIT present/following of this multiplex's services, then of the others.
        double eit_at = 0.05;
        for (const MuxSpec& m : sc_.muxes) {
            bool actual = m.frequency_khz == mux_.frequency_khz;
            for (const ServiceSpec& s : m.services) {
                if (s.events.empty())
                    continue;
                add_table(korvane::kEitPid, 2.0, eit_at, [this, &m, &s, actual](double t) {
                    int64_t utc = sc_.start_utc + int64_t(std::floor(t));
                    EventTiming present, following;
                    event_at(sc_, s, utc, present, following);
                    return build_eit_pf(sc_, m, s, actual, utc,
                                        uint8_t((present.event_id - 1) % 32));
                });
                tables_.back().next_change = [this, &s](double t) {
                    EventTiming present, following;
                    event_at(sc_, s, sc_.start_utc + int64_t(std::floor(t)), present, following);
                    return double(following.start - sc_.start_utc);
                };
                eit_at += 0.01;
            }
        }
        for (const ServiceSpec& s : mux_.services) {
            for (size_t p = 0; p < s.phases.size(); ++p) {
                double from = s.phases[p].start;
                double until = p + 1 < s.phases.size() ? s.phases[p + 1].start : 1e18;
                uint16_t pcr = s.pcr_pid_of(s.phases[p]);
                if (pcr != 0x1FFF)
                    pcrs_.push_back({pcr, from, until, from});
                for (const StreamSpec& st : s.phases[p].streams) {
                    if (st.kind == StreamKind::DvbSubtitles) {
                        if (!plan_subtitles(s, s.phases[p], st, from, until, error))
                            return false;
                        continue;
                    }
                    if (!plan_stream(s, st, from, until, error))
                        return false;
                }
            }
        }
        return true;
    }

    static ElementaryRequest request_for(const ServiceSpec& s, const StreamSpec& st) {
        ElementaryRequest req;
        req.kind = st.kind;
        req.label = s.name;
        req.tone_hz = 300 + int(st.pid % 20) * 40;
        req.width = st.width;
        req.height = st.height;
        req.aspect = st.aspect;
        return req;
    }

    bool plan_subtitles(const ServiceSpec& s, const StreamPhase& phase, const StreamSpec& st,
                        double from, double until, std::string& error) {
        auto video = std::find_if(phase.streams.begin(), phase.streams.end(), [](auto& v) {
            return v.kind == StreamKind::Mpeg2Video || v.kind == StreamKind::H264Video;
        });
        if (video == phase.streams.end()) {
            error = "subtitles on PID " + std::to_string(st.pid) + " without a video stream";
            return false;
        }
        SubtitleJob job;
        job.stream = st;
        job.video = lib_.get(request_for(s, *video), error);
        if (!job.video)
            return false;
        job.from = from;
        job.until = until;
        for (const std::string& text : subtitle_texts(st.language, st.subtitling_type)) {
            // Dots of a fifth of a line of 720; narrower when the text would not fit.
            int scale = std::max(1, st.height / 144);
            SubtitleBitmap probe = render_subtitle_text(text, 1);
            scale = std::max(1, std::min(scale, st.width * 9 / 10 / std::max(1, probe.width)));
            SubtitleBitmap bitmap = render_subtitle_text(text, scale);
            job.places.push_back({std::max(0, (st.width - bitmap.width) / 2),
                                  std::max(0, st.height * 3 / 4 - bitmap.height)});
            job.bitmaps.push_back(std::move(bitmap));
        }
        while (job.send_time(job.next_event) < from - 1e-9)
            ++job.next_event;
        subtitles_.push_back(std::move(job));
        return true;
    }

    bool plan_stream(const ServiceSpec& s, const StreamSpec& st, double from, double until,
                     std::string& error) {
        if (st.kind == StreamKind::Data) {
            uint16_t extension = st.pid;
            add_table(st.pid, 0.5, from, [extension](double t) {
                std::vector<uint8_t> payload(64);
                auto tick = uint32_t(t * 2);
                for (size_t i = 0; i < payload.size(); ++i)
                    payload[i] = uint8_t(tick + i);
                return std::vector<Section>{
                    build_private_section(extension, uint8_t(tick % 32), payload)};
            });
            data_until_.push_back({st.pid, until});
            return true;
        }
        const Elementary* es = lib_.get(request_for(s, st), error);
        if (!es)
            return false;
        EsJob job;
        job.service = &s;
        job.stream = st;
        job.es = es;
        job.from = from;
        job.until = until;
        job.next_unit = int64_t(std::ceil(from / job.period() - 1e-9));
        bool video = st.kind == StreamKind::Mpeg2Video || st.kind == StreamKind::H264Video;
        job.lead = video ? kVideoLead : 0.3;
        job.stream_id =
            video ? 0xE0
                  : (st.kind == StreamKind::Ac3Audio || st.kind == StreamKind::Eac3Audio ? 0xBD
                                                                                         : 0xC0);
        es_.push_back(job);
        return true;
    }

    void add_table(uint16_t pid, double period, double first,
                   std::function<std::vector<Section>(double)> build) {
        tables_.push_back({pid, period, first, std::move(build), {}});
    }

    bool data_active(uint16_t pid, double t) const {
        for (const auto& [p, until] : data_until_) {
            if (p == pid)
                return t < until;
        }
        return true;
    }

    void corrupt_crc(uint16_t pid, double t, std::vector<Section>& sections) {
        for (FaultState& f : faults_) {
            if (f.done || f.spec.kind != FaultKind::Crc || f.spec.pid != pid || f.spec.at > t)
                continue;
            if (!sections.empty() && !sections.front().empty()) {
                sections.front().back() ^= 0x5A;
                f.done = true;
            }
        }
    }

    void refill(double t) {
        for (TableJob& job : tables_) {
            while (job.next <= t) {
                if (data_active(job.pid, job.next)) {
                    std::vector<Section> sections = job.build(job.next);
                    corrupt_crc(job.pid, t, sections);
                    PidQueue& q = queue(job.pid);
                    for (Packet& p : packetize_sections(job.pid, sections, q.continuity))
                        q.packets.push_back({p, job.next, -1});
                    psi_pids_.insert(job.pid);
                }
                double at = job.next;
                job.next += job.period;
                if (job.next_change)
                    job.next = std::min(job.next, std::max(job.next_change(at), at + 0.001));
            }
        }
        for (EsJob& job : es_) {
            while (job.send_time(job.next_unit) <= t && job.send_time(job.next_unit) < job.until) {
                int64_t k = job.next_unit++;
                const AccessUnit& au = job.es->units[size_t(k % int64_t(job.es->units.size()))];
                int64_t dts =
                    int64_t(std::llround((job.send_time(k) + job.lead + kClockOffset) * 90000));
                bool video = job.stream_id == 0xE0;
                std::vector<uint8_t> pes =
                    video ? build_pes(job.stream_id, dts + job.es->period_90k, dts,
                                      job.es->data.data() + au.offset, au.size)
                          : build_pes(job.stream_id, dts, -1, job.es->data.data() + au.offset,
                                      au.size);
                PidQueue& q = queue(job.stream.pid);
                auto packets = packetize_pes(job.stream.pid, pes, q.continuity);
                for (size_t i = 0; i < packets.size(); ++i) {
                    double deadline = i + 1 == packets.size() ? job.send_time(k) + job.lead : -1;
                    q.packets.push_back({packets[i], job.send_time(k), deadline});
                }
            }
        }
    }

    void refill_subtitles(double t) {
        for (SubtitleJob& job : subtitles_) {
            while (job.send_time(job.next_event) <= t &&
                   job.send_time(job.next_event) < job.until) {
                const int64_t e = job.next_event++;
                const int step = int(e % SubtitleJob::kEventsPerLoop);
                DisplaySet set;
                set.page = job.stream.page;
                set.display_width = job.stream.width;
                set.display_height = job.stream.height;
                set.version = job.version++;
                set.bits = job.stream.subtitling_type >= 0x20 ? 4 : 2;
                if (step != 1) {
                    const size_t text = step == 0 ? 0 : 1;
                    set.bitmap = &job.bitmaps[text];
                    set.x = job.places[text].first;
                    set.y = job.places[text].second;
                    set.timeout = step == 0 ? 10 : 1;
                }
                const std::vector<uint8_t> data = build_display_set(set);
                std::vector<uint8_t> pes =
                    build_pes(0xBD, job.pts(e), -1, data.data(), data.size());
                PidQueue& q = queue(job.stream.pid);
                auto packets = packetize_pes(job.stream.pid, pes, q.continuity);
                const double sent = job.send_time(e);
                for (size_t i = 0; i < packets.size(); ++i)
                    q.packets.push_back(
                        {packets[i], sent, i + 1 == packets.size() ? sent + kVideoLead : -1});
            }
        }
    }

    bool drop_for_continuity(uint16_t pid, double t) {
        for (FaultState& f : faults_) {
            if (!f.done && f.spec.kind == FaultKind::Continuity && f.spec.pid == pid &&
                f.spec.at <= t) {
                f.done = true;
                return true;
            }
        }
        return false;
    }

    void emit(const Packet& p, std::vector<uint8_t>& out, MuxStats& stats) {
        out.insert(out.end(), p.begin(), p.end());
        ++stats.packets;
    }

    void step(double t, std::vector<uint8_t>& out, MuxStats& stats) {
        for (FaultState& f : faults_) {
            if (!f.done && f.spec.kind == FaultKind::Sync && f.spec.at <= t) {
                for (int i = 0; i < f.spec.bytes; ++i)
                    out.push_back(uint8_t(0x47 ^ (i * 37 + 11)));
                f.done = true;
            }
        }
        refill(t);
        refill_subtitles(t);
        for (PcrJob& job : pcrs_) {
            if (job.next <= t && t < job.until) {
                auto pcr = uint64_t(std::llround((t + kClockOffset) * 27000000.0));
                emit(pcr_packet(job.pid, queue(job.pid).last_emitted, pcr), out, stats);
                job.next = t + 0.03;
                return;
            }
        }
        PidQueue* chosen = nullptr;
        // Tables first, in turn; then the elementary stream whose deadline is nearest.
        for (size_t n = 0; n < queues_.size() && !chosen; ++n) {
            PidQueue& q = *queues_[(psi_turn_ + n) % queues_.size()];
            if (psi_pids_.count(q.pid) && !q.packets.empty() && q.packets.front().ready <= t) {
                chosen = &q;
                psi_turn_ = (psi_turn_ + n + 1) % queues_.size();
            }
        }
        if (!chosen) {
            double best = 1e18;
            for (auto& q : queues_) {
                if (psi_pids_.count(q->pid) || q->packets.empty() || q->packets.front().ready > t)
                    continue;
                double d = q->packets.front().ready;
                if (d < best) {
                    best = d;
                    chosen = q.get();
                }
            }
        }
        if (!chosen) {
            emit(null_packet(), out, stats);
            ++stats.null_packets;
            return;
        }
        Queued item = chosen->packets.front();
        chosen->packets.pop_front();
        if (item.deadline >= 0 && t > item.deadline)
            ++stats.late_units;
        if (drop_for_continuity(chosen->pid, t)) {
            emit(null_packet(), out, stats);
            ++stats.null_packets;
            return;
        }
        chosen->last_emitted = item.packet[3] & 0x0F;
        emit(item.packet, out, stats);
    }

    const Scenario& sc_;
    const MuxSpec& mux_;
    ElementaryLibrary& lib_;
    std::vector<std::unique_ptr<PidQueue>> queues_;
    std::vector<TableJob> tables_;
    std::vector<EsJob> es_;
    std::vector<SubtitleJob> subtitles_;
    std::vector<PcrJob> pcrs_;
    std::vector<FaultState> faults_;
    std::vector<std::pair<uint16_t, double>> data_until_;
    std::set<uint16_t> psi_pids_;
    size_t psi_turn_ = 0;
};

} // namespace

std::vector<Packet> packetize_sections(uint16_t pid, const std::vector<Section>& sections,
                                       uint8_t& continuity) {
    std::vector<uint8_t> bytes;
    std::vector<size_t> starts;
    for (const Section& s : sections) {
        starts.push_back(bytes.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    std::vector<Packet> out;
    size_t pos = 0;
    size_t next_start = 0;
    while (pos < bytes.size()) {
        while (next_start < starts.size() && starts[next_start] < pos)
            ++next_start;
        bool unit_start = next_start < starts.size() && starts[next_start] < pos + 183;
        Packet p = header(pid, unit_start, 1, continuity);
        continuity = (continuity + 1) & 0x0F;
        size_t at = 4;
        if (unit_start)
            p[at++] = uint8_t(starts[next_start] - pos);
        size_t n = std::min(bytes.size() - pos, size_t(188) - at);
        std::copy_n(bytes.begin() + long(pos), n, p.begin() + long(at));
        pos += n;
        out.push_back(p);
    }
    return out;
}

std::vector<Packet> packetize_pes(uint16_t pid, const std::vector<uint8_t>& pes,
                                  uint8_t& continuity) {
    std::vector<Packet> out;
    size_t pos = 0;
    while (pos < pes.size()) {
        size_t left = pes.size() - pos;
        Packet p;
        if (left >= 184) {
            p = header(pid, pos == 0, 1, continuity);
            std::copy_n(pes.begin() + long(pos), 184, p.begin() + 4);
            pos += 184;
        } else {
            // Adaptation field of 184 - left bytes: its length byte, flags, then stuffing.
            p = header(pid, pos == 0, 3, continuity);
            size_t af = 184 - left;
            p[4] = uint8_t(af - 1);
            if (af >= 2)
                p[5] = 0x00;
            std::copy_n(pes.begin() + long(pos), left, p.begin() + long(4 + af));
            pos += left;
        }
        continuity = (continuity + 1) & 0x0F;
        out.push_back(p);
    }
    return out;
}

std::vector<uint8_t> build_pes(uint8_t stream_id, int64_t pts, int64_t dts, const uint8_t* data,
                               size_t size) {
    std::vector<uint8_t> out = {0x00, 0x00, 0x01, stream_id, 0, 0};
    out.push_back(0x84); // marker bits, data alignment
    out.push_back(dts >= 0 ? 0xC0 : 0x80);
    out.push_back(dts >= 0 ? 10 : 5);
    put_timestamp(out, dts >= 0 ? 3 : 2, pts);
    if (dts >= 0)
        put_timestamp(out, 1, dts);
    out.insert(out.end(), data, data + size);
    size_t length = out.size() - 6;
    // Video PES may exceed the 16-bit length field; 0 then means "unbounded".
    if (length <= 0xFFFF) {
        out[4] = uint8_t(length >> 8);
        out[5] = uint8_t(length);
    }
    return out;
}

Packet pcr_packet(uint16_t pid, uint8_t continuity, uint64_t pcr) {
    Packet p = header(pid, false, 2, continuity);
    uint64_t base = (pcr / 300) & 0x1FFFFFFFFULL;
    uint64_t ext = pcr % 300;
    p[4] = 183;
    p[5] = 0x10;
    p[6] = uint8_t(base >> 25);
    p[7] = uint8_t(base >> 17);
    p[8] = uint8_t(base >> 9);
    p[9] = uint8_t(base >> 1);
    p[10] = uint8_t(((base & 1) << 7) | 0x7E | (ext >> 8));
    p[11] = uint8_t(ext);
    return p;
}

Packet null_packet() {
    Packet p = header(0x1FFF, false, 1, 0);
    return p;
}

bool write_multiplex(const Scenario& scenario, const MuxSpec& mux, ElementaryLibrary& library,
                     const std::string& path, MuxStats& stats, std::string& error) {
    std::vector<uint8_t> bytes;
    stats = {};
    Multiplexer m(scenario, mux, library);
    if (!m.run(bytes, stats, error))
        return false;
    std::string partial = path + ".part" + std::to_string(std::random_device()());
    std::FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) {
        error = "cannot write " + partial;
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok)
        std::filesystem::rename(partial, path, ec);
    if (!ok || ec) {
        std::filesystem::remove(partial, ec);
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace muxgen
