// muxgen: writes the test multiplexes of scenario files, one <frequency in kHz>.ts each.
#include "scenario.h"
#include "ts_mux.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: muxgen [-o folder] [--cache folder] [--duration seconds] "
                 "scenario...\n"
                 "Writes <folder>/<frequency in kHz>.ts for every multiplex of the scenarios.\n");
}

bool read_text(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string out_dir = ".";
    std::string cache_dir;
    double duration = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "-o" && has_value) {
            out_dir = argv[++i];
        } else if (a == "--cache" && has_value) {
            cache_dir = argv[++i];
        } else if (a == "--duration" && has_value) {
            duration = std::atof(argv[++i]);
            if (duration < 0.5) {
                std::fprintf(stderr, "muxgen: bad duration\n");
                return 2;
            }
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            usage();
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        usage();
        return 2;
    }
    if (cache_dir.empty())
        cache_dir = out_dir + "/es-cache";
    std::error_code ec;
    std::filesystem::create_directories(out_dir, ec);
    muxgen::ElementaryLibrary library(cache_dir);
    for (const std::string& file : files) {
        std::string text;
        if (!read_text(file, text)) {
            std::fprintf(stderr, "muxgen: cannot read %s\n", file.c_str());
            return 1;
        }
        muxgen::ParseResult parsed = muxgen::parse_scenario(text);
        if (!parsed.scenario) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), parsed.error.c_str());
            return 1;
        }
        muxgen::Scenario& sc = *parsed.scenario;
        if (duration > 0)
            sc.duration = duration;
        for (const muxgen::MuxSpec& mux : sc.muxes) {
            std::string path = out_dir + "/" + std::to_string(mux.frequency_khz) + ".ts";
            muxgen::MuxStats stats;
            std::string error;
            if (!muxgen::write_multiplex(sc, mux, library, path, stats, error)) {
                std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
                return 1;
            }
            std::printf("%s %s: %zu services, %llu packets (%llu null)\n", mux.label.c_str(),
                        path.c_str(), mux.services.size(),
                        static_cast<unsigned long long>(stats.packets),
                        static_cast<unsigned long long>(stats.null_packets));
        }
    }
    return 0;
}
