#include "elementary.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

namespace muxgen {

namespace {

namespace fs = std::filesystem;

// Positions of the bytes that follow each 00 00 01 start-code prefix.
std::vector<size_t> start_codes(const std::vector<uint8_t>& d) {
    std::vector<size_t> out;
    for (size_t i = 0; i + 3 < d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            out.push_back(i + 3);
            i += 2;
        }
    }
    return out;
}

void cut(Elementary& es, const std::vector<size_t>& starts) {
    es.units.clear();
    for (size_t i = 0; i < starts.size(); ++i) {
        size_t end = i + 1 < starts.size() ? starts[i + 1] : es.data.size();
        if (end > starts[i])
            es.units.push_back({starts[i], end - starts[i]});
    }
}

bool read_file(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !out.empty();
}

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

// Temporary names of their own, so that two generators sharing a cache never collide.
std::string unique_suffix() {
    std::random_device rd;
    return ".part" + std::to_string(rd());
}

std::string font_file() {
    static const char* candidates[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
                                       "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
    for (const char* c : candidates) {
        if (fs::exists(c))
            return c;
    }
    return {};
}

std::string video_filter(const ElementaryRequest& r, const std::string& text_file) {
    std::ostringstream f;
    f << "testsrc2=s=" << r.width << "x" << r.height << ":r=25:d=" << r.seconds;
    std::string font = font_file();
    if (!font.empty()) {
        f << ",drawtext=fontfile=" << font << ":textfile=" << text_file
          << ":fontsize=" << r.height / 7
          << ":fontcolor=white:box=1:boxcolor=black@0.6:boxborderw=4:x=(w-tw)/2:y=h-th-"
          << r.height / 12;
    }
    return f.str();
}

std::string ffmpeg_command(const ElementaryRequest& r, const std::string& out,
                           const std::string& text_file) {
    std::ostringstream c;
    c << "ffmpeg -nostdin -hide_banner -loglevel error -y ";
    std::string aspect = r.aspect.empty() ? "" : " -aspect " + r.aspect;
    switch (r.kind) {
    case StreamKind::Mpeg2Video:
        c << "-f lavfi -i " << quoted(video_filter(r, text_file)) << aspect
          << " -an -c:v mpeg2video -g 25 -bf 0 -flags +cgop -sc_threshold 1000000000 -b:v 350k "
             "-maxrate 400k"
             " -bufsize 400k -pix_fmt yuv420p -f mpeg2video ";
        break;
    case StreamKind::H264Video:
        c << "-f lavfi -i " << quoted(video_filter(r, text_file)) << aspect
          << " -an -c:v libx264 -preset ultrafast -profile:v main -g 25 -bf 0 -b:v 300k"
             " -maxrate 350k -bufsize 350k -x264-params aud=1:repeat-headers=1"
             " -pix_fmt yuv420p -f h264 ";
        break;
    case StreamKind::Mp2Audio:
        c << "-f lavfi -i sine=f=" << r.tone_hz << ":r=48000:d=" << r.seconds
          << " -ac 2 -c:a mp2 -b:a 128k -f mp2 ";
        break;
    case StreamKind::Ac3Audio:
        c << "-f lavfi -i sine=f=" << r.tone_hz << ":r=48000:d=" << r.seconds
          << " -ac 2 -c:a ac3 -b:a 192k -f ac3 ";
        break;
    case StreamKind::Eac3Audio:
        c << "-f lavfi -i sine=f=" << r.tone_hz << ":r=48000:d=" << r.seconds
          << " -ac 2 -c:a eac3 -b:a 128k -f eac3 ";
        break;
    case StreamKind::Data:
    case StreamKind::DvbSubtitles:
        break;
    }
    c << quoted(out);
    return c.str();
}

std::string cache_key(const ElementaryRequest& r) {
    std::ostringstream k;
    k << stream_kind_name(r.kind) << "|" << r.seconds;
    if (r.kind == StreamKind::Mpeg2Video || r.kind == StreamKind::H264Video)
        k << "|" << r.width << "x" << r.height << r.aspect << "|" << r.label;
    else
        k << "|" << r.tone_hz;
    return k.str();
}

} // namespace

bool split_mpeg2_video(Elementary& es) {
    // A picture begins at its sequence or GOP header when it has one, else at its picture
    // start code; slices and extensions stay with the picture before them.
    std::vector<size_t> starts;
    bool header_pending = false;
    for (size_t p : start_codes(es.data)) {
        uint8_t code = es.data[p];
        size_t at = p - 3;
        if (code == 0xB3 || code == 0xB8) {
            if (!header_pending) {
                starts.push_back(at);
                header_pending = true;
            }
        } else if (code == 0x00) {
            if (!header_pending)
                starts.push_back(at);
            header_pending = false;
        }
    }
    // A sequence end code would make decoders stop when the stream loops.
    size_t n = es.data.size();
    if (n >= 4 && es.data[n - 4] == 0 && es.data[n - 3] == 0 && es.data[n - 2] == 1 &&
        es.data[n - 1] == 0xB7)
        es.data.resize(n - 4);
    cut(es, starts);
    es.period_90k = 3600;
    return !es.units.empty();
}

bool split_h264(Elementary& es) {
    // Every access unit starts with an access unit delimiter (NAL type 9), which the encoder
    // is asked to write; a four-byte start code keeps its leading zero.
    std::vector<size_t> starts;
    for (size_t p : start_codes(es.data)) {
        if ((es.data[p] & 0x1F) != 9)
            continue;
        size_t at = p - 3;
        if (at > 0 && es.data[at - 1] == 0)
            --at;
        starts.push_back(at);
    }
    cut(es, starts);
    es.period_90k = 3600;
    return !es.units.empty();
}

bool split_mpeg_audio(Elementary& es) {
    static const int kbps[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                 128, 160, 192, 224, 256, 320, 384, 0};
    static const int rates[4] = {44100, 48000, 32000, 0};
    es.units.clear();
    const auto& d = es.data;
    size_t i = 0;
    while (i + 4 <= d.size()) {
        bool sync = d[i] == 0xFF && (d[i + 1] & 0xFE) == 0xFC; // MPEG-1, layer II
        int rate = rates[(d[i + 2] >> 2) & 3];
        int bitrate = kbps[d[i + 2] >> 4];
        if (!sync || rate == 0 || bitrate == 0) {
            ++i;
            continue;
        }
        size_t size = size_t(144000) * bitrate / rate + ((d[i + 2] >> 1) & 1);
        if (i + size > d.size())
            break;
        es.units.push_back({i, size});
        i += size;
    }
    es.period_90k = 2160; // 1152 samples at 48 kHz
    return !es.units.empty();
}

bool split_ac3(Elementary& es) {
    // Frame sizes in 16-bit words at 48 kHz, by frmsizecod / 2.
    static const int words48[19] = {64,  80,  96,  112, 128, 160, 192,  224,  256, 320,
                                    384, 448, 512, 640, 768, 896, 1024, 1152, 1280};
    es.units.clear();
    const auto& d = es.data;
    size_t i = 0;
    while (i + 5 <= d.size()) {
        int code = d[i + 4] & 0x3F;
        bool ok = d[i] == 0x0B && d[i + 1] == 0x77 && (d[i + 4] >> 6) == 0 && code < 38;
        if (!ok) {
            ++i;
            continue;
        }
        size_t size = size_t(words48[code / 2]) * 2;
        if (i + size > d.size())
            break;
        es.units.push_back({i, size});
        i += size;
    }
    es.period_90k = 2880; // 1536 samples at 48 kHz
    return !es.units.empty();
}

bool split_eac3(Elementary& es) {
    es.units.clear();
    const auto& d = es.data;
    size_t i = 0;
    uint32_t samples = 0;
    while (i + 6 <= d.size()) {
        // bsid 11 to 16 after the 11-bit frame size; the size counts 16-bit words less one.
        const int bsid = d[i + 5] >> 3;
        if (d[i] != 0x0B || d[i + 1] != 0x77 || bsid <= 10 || bsid > 16) {
            ++i;
            continue;
        }
        const size_t size = (size_t((d[i + 2] & 0x07) << 8 | d[i + 3]) + 1) * 2;
        if (i + size > d.size())
            break;
        // Audio blocks per frame: 1, 2, 3 or 6 (fscod 3 means 6 as well).
        static const uint32_t blocks[4] = {1, 2, 3, 6};
        const bool reduced = (d[i + 4] >> 6) == 3;
        const uint32_t frame_samples = 256 * (reduced ? 6 : blocks[(d[i + 4] >> 4) & 0x03]);
        if (samples == 0)
            samples = frame_samples;
        es.units.push_back({i, size});
        i += size;
    }
    es.period_90k = samples ? samples * 90000 / 48000 : 2880;
    return !es.units.empty();
}

const Elementary* ElementaryLibrary::get(const ElementaryRequest& request, std::string& error) {
    std::string key = cache_key(request);
    auto found = loaded_.find(key);
    if (found != loaded_.end())
        return &found->second;
    if (cache_dir_.find('\'') != std::string::npos || cache_dir_.find(':') != std::string::npos) {
        error = "the cache folder name may not contain quotes or colons";
        return nullptr;
    }
    std::error_code ec;
    fs::create_directories(cache_dir_, ec);
    std::ostringstream name;
    name << std::hex << std::hash<std::string>()(key) << "." << stream_kind_name(request.kind);
    std::string path = cache_dir_ + "/" + name.str();
    Elementary es;
    es.kind = request.kind;
    if (!read_file(path, es.data)) {
        std::string text_file = path + unique_suffix() + ".txt";
        {
            std::ofstream t(text_file, std::ios::binary);
            t << request.label;
        }
        std::string partial = path + unique_suffix();
        std::string command = ffmpeg_command(request, partial, text_file);
        if (std::system(command.c_str()) != 0 || !read_file(partial, es.data)) {
            fs::remove(partial, ec);
            fs::remove(text_file, ec);
            error = "ffmpeg failed: " + command;
            return nullptr;
        }
        fs::rename(partial, path, ec);
        fs::remove(text_file, ec);
    }
    bool ok = false;
    switch (request.kind) {
    case StreamKind::Mpeg2Video:
        ok = split_mpeg2_video(es);
        break;
    case StreamKind::H264Video:
        ok = split_h264(es);
        break;
    case StreamKind::Mp2Audio:
        ok = split_mpeg_audio(es);
        break;
    case StreamKind::Ac3Audio:
        ok = split_ac3(es);
        break;
    case StreamKind::Eac3Audio:
        ok = split_eac3(es);
        break;
    case StreamKind::Data:
    case StreamKind::DvbSubtitles:
        break;
    }
    if (!ok) {
        error = "no access unit in " + path;
        return nullptr;
    }
    return &loaded_.emplace(key, std::move(es)).first->second;
}

} // namespace muxgen
