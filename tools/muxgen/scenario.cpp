#include "scenario.h"

#include "dvb_text.h"

#include "si/psi_ids.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace muxgen {

namespace {

struct Tokens {
    std::vector<std::string> words;
    std::string error;
};

// Splits a line into words; "quoted text" is one word, with \" and \\ inside it.
// Everything after an unquoted # is a comment.
Tokens tokenize(const std::string& line) {
    Tokens out;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            std::string word;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char q = line[i++];
                if (q == '\\' && i < line.size()) {
                    word += line[i++];
                } else if (q == '"') {
                    closed = true;
                    break;
                } else {
                    word += q;
                }
            }
            if (!closed) {
                out.error = "unterminated quoted text";
                return out;
            }
            out.words.push_back(word);
        } else {
            size_t end = line.find_first_of(" \t\r#", i);
            if (end == std::string::npos)
                end = line.size();
            out.words.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return out;
}

std::optional<long long> to_integer(const std::string& word, long long max) {
    if (word.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(word.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < 0 || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> to_seconds(const std::string& word) {
    if (word.empty())
        return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(word.c_str(), &end);
    if (*end != '\0' || !(value >= 0) || value > 86400.0 * 365)
        return std::nullopt;
    return value;
}

std::optional<StreamKind> to_kind(const std::string& word) {
    if (word == "mpeg2")
        return StreamKind::Mpeg2Video;
    if (word == "h264")
        return StreamKind::H264Video;
    if (word == "mp2")
        return StreamKind::Mp2Audio;
    if (word == "ac3")
        return StreamKind::Ac3Audio;
    if (word == "eac3")
        return StreamKind::Eac3Audio;
    if (word == "data")
        return StreamKind::Data;
    if (word == "dvbsub")
        return StreamKind::DvbSubtitles;
    return std::nullopt;
}

class Parser {
  public:
    ParseResult run(const std::string& text) {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            ++line_no_;
            Tokens t = tokenize(line);
            if (!t.error.empty())
                return fail(t.error);
            if (t.words.empty())
                continue;
            words_ = std::move(t.words);
            if (!statement())
                return fail(error_);
        }
        if (scenario_.muxes.empty())
            return fail("no multiplex");
        for (const MuxSpec& mux : scenario_.muxes) {
            for (const ServiceSpec& s : mux.services) {
                if (s.phases.front().streams.empty() && !s.type)
                    return {std::nullopt, "service " + std::to_string(s.sid) + " has no stream"};
            }
        }
        return {std::move(scenario_), {}};
    }

  private:
    bool statement() {
        const std::string& key = words_[0];
        if (key == "network")
            return network();
        if (key == "onid")
            return number(1, 0xFFFF, scenario_.onid);
        if (key == "start")
            return start();
        if (key == "duration")
            return duration();
        if (key == "video")
            return video();
        if (key == "mux")
            return mux();
        if (key == "service")
            return service();
        if (key == "stream")
            return stream();
        if (key == "event")
            return event();
        if (key == "change")
            return change();
        if (key == "fault")
            return fault();
        if (key == "renumber")
            return renumber();
        if (key == "nit_frequency")
            return nitFrequency();
        return say("unknown statement '" + key + "'");
    }

    bool say(const std::string& message) {
        error_ = message;
        return false;
    }

    ParseResult fail(const std::string& message) {
        return {std::nullopt, "line " + std::to_string(line_no_) + ": " + message};
    }

    bool arity(size_t min, size_t max) {
        if (words_.size() < min || words_.size() > max)
            return say("wrong number of values for '" + words_[0] + "'");
        return true;
    }

    template <typename T> bool number(size_t index, long long max, T& into) {
        if (index >= words_.size())
            return say("missing value for '" + words_[0] + "'");
        auto v = to_integer(words_[index], max);
        if (!v)
            return say("bad number '" + words_[index] + "'");
        into = static_cast<T>(*v);
        return true;
    }

    bool pid(size_t index, uint16_t& into) {
        if (!number(index, 0x1FFE, into))
            return false;
        if (into < 0x20 && into != 0)
            return say("PID " + words_[index] + " is reserved for tables");
        return true;
    }

    bool network() {
        if (!arity(2, 3) || !number(1, 0xFFFF, scenario_.network_id))
            return false;
        if (words_.size() == 3)
            scenario_.network_name = words_[2];
        return true;
    }

    bool start() {
        if (!arity(2, 2))
            return false;
        auto t = parse_utc(words_[1]);
        if (!t)
            return say("bad time '" + words_[1] + "', expected YYYY-MM-DDTHH:MM:SSZ");
        scenario_.start_utc = *t;
        return true;
    }

    bool duration() {
        if (!arity(2, 2))
            return false;
        auto d = to_seconds(words_[1]);
        if (!d || *d < 0.5)
            return say("bad duration '" + words_[1] + "'");
        scenario_.duration = *d;
        return true;
    }

    // renumber T: the NIT's version goes from 0 to 1 at T seconds, with the services' numbers
    // given by their newlcn option.
    bool renumber() {
        if (!arity(2, 2))
            return false;
        auto t = to_seconds(words_[1]);
        if (!t || *t < 0)
            return say("bad time '" + words_[1] + "'");
        scenario_.renumber_at = *t;
        return true;
    }

    // nit_frequency unknown: centre frequencies of all ones in the NIT.
    bool nitFrequency() {
        if (!arity(2, 2) || words_[1] != "unknown")
            return say("nit_frequency takes only 'unknown'");
        scenario_.nit_frequency_unknown = true;
        return true;
    }

    // video WxH [X:Y]: pictures of the video streams listed after it.
    bool video() {
        if (!arity(2, 3))
            return false;
        int w = 0;
        int h = 0;
        char tail = 0;
        if (std::sscanf(words_[1].c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 16 || h < 16 ||
            w > 1920 || h > 1088 || w % 2 || h % 2)
            return say("bad picture size '" + words_[1] + "'");
        int x = 0;
        int y = 0;
        if (words_.size() == 3 && (std::sscanf(words_[2].c_str(), "%d:%d%c", &x, &y, &tail) != 2 ||
                                   x < 1 || y < 1 || x > 100 || y > 100))
            return say("bad aspect ratio '" + words_[2] + "', expected for example 16:9");
        scenario_.width = w;
        scenario_.height = h;
        scenario_.aspect = words_.size() == 3 ? words_[2] : "";
        return true;
    }

    // mux LABEL frequency KHZ tsid N [bitrate BPS]
    bool mux() {
        if (words_.size() < 2)
            return say("mux needs a label");
        MuxSpec m;
        m.label = words_[1];
        bool has_frequency = false;
        bool has_tsid = false;
        for (size_t i = 2; i < words_.size(); i += 2) {
            const std::string& opt = words_[i];
            bool ok = true;
            if (opt == "frequency") {
                ok = number(i + 1, 2000000, m.frequency_khz);
                has_frequency = true;
            } else if (opt == "tsid") {
                ok = number(i + 1, 0xFFFF, m.tsid);
                has_tsid = true;
            } else if (opt == "bitrate") {
                ok = number(i + 1, 100000000, m.bitrate);
                if (ok && m.bitrate < 100000)
                    return say("bitrate below 100 kbit/s");
            } else {
                return say("unknown mux option '" + opt + "'");
            }
            if (!ok)
                return false;
        }
        if (!has_frequency || !has_tsid)
            return say("mux needs a frequency and a tsid");
        for (const MuxSpec& other : scenario_.muxes) {
            if (other.frequency_khz == m.frequency_khz)
                return say("two multiplexes on " + std::to_string(m.frequency_khz) + " kHz");
        }
        scenario_.muxes.push_back(std::move(m));
        return true;
    }

    MuxSpec* current_mux() {
        if (scenario_.muxes.empty()) {
            say("'" + words_[0] + "' before any mux");
            return nullptr;
        }
        return &scenario_.muxes.back();
    }

    ServiceSpec* current_service() {
        MuxSpec* m = current_mux();
        if (!m)
            return nullptr;
        if (m->services.empty()) {
            say("'" + words_[0] + "' before any service");
            return nullptr;
        }
        return &m->services.back();
    }

    // service SID "name" [provider "p"] [lcn N] pmt PID [type T] [pcr PID] [selector S]
    // [elapsed SECONDS]
    bool service() {
        MuxSpec* m = current_mux();
        if (!m)
            return false;
        if (words_.size() < 3)
            return say("service needs an id and a name");
        ServiceSpec s;
        if (!number(1, 0xFFFF, s.sid))
            return false;
        s.name = words_[2];
        for (size_t i = 3; i < words_.size(); i += 2) {
            const std::string& opt = words_[i];
            if (i + 1 >= words_.size())
                return say("missing value for '" + opt + "'");
            bool ok = true;
            if (opt == "provider") {
                s.provider = words_[i + 1];
            } else if (opt == "lcn") {
                ok = number(i + 1, 1023, s.lcn);
            } else if (opt == "newlcn") {
                ok = number(i + 1, 1023, s.lcn_after_renumbering);
            } else if (opt == "pmt") {
                ok = pid(i + 1, s.pmt_pid);
            } else if (opt == "type") {
                uint8_t t = 0;
                ok = number(i + 1, 0xFF, t);
                s.type = t;
            } else if (opt == "pcr") {
                uint16_t p = 0;
                ok = pid(i + 1, p);
                s.pcr_pid = p;
            } else if (opt == "selector") {
                ok = number(i + 1, 0x1F, s.name_selector);
                if (ok && s.name_selector != 0x05 && s.name_selector != 0x0B)
                    return say("only the selectors 0x05 and 0x0B are known");
            } else if (opt == "elapsed") {
                ok = number(i + 1, 86400 * 7, s.elapsed);
            } else {
                return say("unknown service option '" + opt + "'");
            }
            if (!ok)
                return false;
        }
        if (s.pmt_pid == 0)
            return say("service needs a pmt PID");
        if (!encode_dvb_text(s.name, s.name_selector, 255) ||
            !encode_dvb_text(s.provider, s.name_selector, 255))
            return say("names with accents need a selector (0x05 or 0x0B)");
        for (const ServiceSpec& other : m->services) {
            if (other.sid == s.sid)
                return say("service id used twice in one multiplex");
        }
        s.phases.push_back(StreamPhase{});
        m->services.push_back(std::move(s));
        return true;
    }

    // stream KIND PID [language [audiotype N] [supplementary N] [subtitling N] [page N]]
    bool stream() {
        ServiceSpec* s = current_service();
        if (!s || !arity(3, 10))
            return false;
        auto kind = to_kind(words_[1]);
        if (!kind)
            return say("unknown stream kind '" + words_[1] + "'");
        StreamSpec st;
        st.kind = *kind;
        st.width = scenario_.width;
        st.height = scenario_.height;
        st.aspect = scenario_.aspect;
        if (!pid(2, st.pid) || st.pid == 0)
            return st.pid == 0 ? say("stream PID 0") : false;
        if (words_.size() >= 4) {
            if (words_[3].size() != 3)
                return say("language codes have three letters");
            st.language = words_[3];
        }
        if (st.kind == StreamKind::DvbSubtitles && st.language.empty())
            return say("subtitles need a language");
        for (size_t i = 4; i < words_.size(); i += 2) {
            const std::string& option = words_[i];
            if (i + 1 >= words_.size())
                return say("'" + option + "' needs a value");
            if (option == "audiotype") {
                if (!number(i + 1, 0xFF, st.audio_type))
                    return false;
            } else if (option == "supplementary") {
                if (!number(i + 1, 7, st.supplementary))
                    return false;
            } else if (option == "subtitling") {
                if (!number(i + 1, 0xFF, st.subtitling_type))
                    return false;
            } else if (option == "page") {
                if (!number(i + 1, 0xFFFF, st.page))
                    return false;
            } else {
                return say("unknown stream option '" + option + "'");
            }
        }
        if (st.kind == StreamKind::DvbSubtitles) {
            bool video = false;
            for (const StreamSpec& other : s->phases.back().streams)
                video |=
                    other.kind == StreamKind::Mpeg2Video || other.kind == StreamKind::H264Video;
            if (!video)
                return say("subtitles follow a video stream of their service");
        }
        for (const StreamSpec& other : s->phases.back().streams) {
            if (other.pid == st.pid)
                return say("PID used twice in one service");
        }
        s->phases.back().streams.push_back(st);
        return true;
    }

    // event SECONDS "title" ["description"]
    bool event() {
        ServiceSpec* s = current_service();
        if (!s || !arity(3, 4))
            return false;
        EventSpec e;
        if (!number(1, 86400, e.duration))
            return false;
        if (e.duration == 0)
            return say("events last at least one second");
        e.title = words_[2];
        if (words_.size() == 4)
            e.description = words_[3];
        if (!encode_dvb_text(e.title, 0x05, 255) || !encode_dvb_text(e.description, 0x05, 255))
            return say("guide text with a character that cannot be broadcast");
        s->events.push_back(std::move(e));
        return true;
    }

    // change SECONDS: the stream lines that follow replace the service's streams from then on.
    bool change() {
        ServiceSpec* s = current_service();
        if (!s || !arity(2, 2))
            return false;
        auto at = to_seconds(words_[1]);
        if (!at || *at <= s->phases.back().start)
            return say("changes come in time order, after the start");
        StreamPhase phase;
        phase.start = *at;
        s->phases.push_back(std::move(phase));
        return true;
    }

    // fault crc|continuity SECONDS PID | fault sync SECONDS [BYTES]
    bool fault() {
        MuxSpec* m = current_mux();
        if (!m || !arity(3, 4))
            return false;
        FaultSpec f;
        if (words_[1] == "crc")
            f.kind = FaultKind::Crc;
        else if (words_[1] == "continuity")
            f.kind = FaultKind::Continuity;
        else if (words_[1] == "sync")
            f.kind = FaultKind::Sync;
        else
            return say("unknown fault '" + words_[1] + "'");
        auto at = to_seconds(words_[2]);
        if (!at)
            return say("bad time '" + words_[2] + "'");
        f.at = *at;
        if (f.kind == FaultKind::Sync) {
            if (words_.size() == 4 && !number(3, 10000, f.bytes))
                return false;
            if (f.bytes % 188 == 0)
                return say("a sync loss needs a byte count that is not a packet multiple");
        } else {
            if (words_.size() != 4)
                return say("this fault needs a PID");
            if (!number(3, 0x1FFE, f.pid))
                return false;
        }
        m->faults.push_back(f);
        return true;
    }

    Scenario scenario_;
    std::vector<std::string> words_;
    std::string error_;
    int line_no_ = 0;
};

bool is_video(StreamKind k) {
    return k == StreamKind::Mpeg2Video || k == StreamKind::H264Video;
}

} // namespace

ParseResult parse_scenario(const std::string& text) {
    return Parser().run(text);
}

std::optional<int64_t> parse_utc(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
            6 ||
        text.back() != 'Z')
        return std::nullopt;
    if (y < 1970 || y > 2100 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    // Days from the civil date (proleptic Gregorian calendar).
    int yy = mo <= 2 ? y - 1 : y;
    int era = yy / 400;
    int yoe = yy - era * 400;
    int mp = (mo + 9) % 12;
    int doy = (153 * mp + 2) / 5 + d - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = int64_t(era) * 146097 + doe - 719468;
    return days * 86400 + h * 3600 + mi * 60 + s;
}

uint8_t ServiceSpec::service_type() const {
    if (type)
        return *type;
    bool video = false;
    bool h264 = false;
    bool audio = false;
    for (const StreamSpec& st : phases.front().streams) {
        video |= is_video(st.kind);
        h264 |= st.kind == StreamKind::H264Video;
        audio |= st.kind == StreamKind::Mp2Audio || st.kind == StreamKind::Ac3Audio ||
                 st.kind == StreamKind::Eac3Audio;
    }
    if (h264)
        return 0x16; // advanced codec SD digital television
    if (video)
        return 0x01;
    if (audio)
        return 0x02;
    return 0x0C; // data broadcast
}

uint16_t ServiceSpec::pcr_pid_of(const StreamPhase& phase) const {
    if (pcr_pid)
        return *pcr_pid;
    for (const StreamSpec& st : phase.streams) {
        if (is_video(st.kind))
            return st.pid;
    }
    for (const StreamSpec& st : phase.streams) {
        if (st.kind != StreamKind::Data)
            return st.pid;
    }
    return 0x1FFF; // no PCR: a data service
}

const char* stream_kind_name(StreamKind kind) {
    switch (kind) {
    case StreamKind::Mpeg2Video:
        return "mpeg2";
    case StreamKind::H264Video:
        return "h264";
    case StreamKind::Mp2Audio:
        return "mp2";
    case StreamKind::Ac3Audio:
        return "ac3";
    case StreamKind::Eac3Audio:
        return "eac3";
    case StreamKind::Data:
        return "data";
    case StreamKind::DvbSubtitles:
        return "dvbsub";
    }
    return "?";
}

uint8_t stream_type_of(StreamKind kind) {
    switch (kind) {
    case StreamKind::Mpeg2Video:
        return korvane::kMpeg2VideoStream;
    case StreamKind::H264Video:
        return korvane::kH264VideoStream;
    case StreamKind::Mp2Audio:
        return korvane::kMpeg1AudioStream;
    case StreamKind::Ac3Audio:
    case StreamKind::Eac3Audio:
    case StreamKind::DvbSubtitles:
        return korvane::kPrivatePesStream;
    case StreamKind::Data:
        return korvane::kPrivateSectionStream;
    }
    return 0;
}

} // namespace muxgen
