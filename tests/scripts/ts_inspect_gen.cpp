// Writes two small recorded multiplexes for the ts-inspect test: mux1.ts and mux2.ts in the
// folder given as the only argument.

#include "si/section_assembler.h"
#include "ts_inspect_sections.h"

#include <cstdio>
#include <string>

using namespace testsections;

namespace {

constexpr unsigned kOnid = 0x20FA;
constexpr unsigned kMjd = 60310; // 2024-01-01

struct Mux {
    Bytes bytes;
    uint8_t counters[0x2000] = {};
    void add(uint16_t pid, const std::vector<Bytes>& sections) {
        korvane::appendSectionPackets(bytes, pid, sections, counters[pid]);
    }
};

bool write(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

Bytes firstMux() {
    Mux m;
    // Garbage before the first packet: the reader must find the packets anyway.
    m.bytes.assign(61, 0x00);
    Bytes sdtSection = sdt(1, kOnid,
                           {{0x101, "GR1",
                             "\x0B"
                             "Ch\xE9rie 25"},
                            {0x102, "GR1", "France Inter"},
                            {0x103, "GR1", "L'\xC9quipe & <HD>"}});
    Bytes patSection = pat(1, {{0, 0x10}, {0x101, 0x100}, {0x102, 0x200}, {0x103, 0x300}});
    Bytes badNit = nit(0x20FA, {{1, kOnid, {{0x101, 99}, {0x103, 99}}}});
    badNit.back() ^= 0x01;
    Bytes goodNit = nit(0x20FA, {{1, kOnid, {{0x101, 25}, {0x103, 21}}}, {2, kOnid, {{0x201, 2}}}});
    Event film{kMjd,
               {0x20, 0x00, 0x00},
               {0x01, 0x30, 0x00},
               "\x05"
               "Film",
               "Un film"};
    Event news{kMjd, {0x21, 0x30, 0x00}, {0x00, 0x45, 0x00}, "Journal", "Infos"};
    Event doc{kMjd, {0x19, 0x55, 0x00}, {0x00, 0x05, 0x30}, "Court", ""};

    for (int round = 0; round < 2; ++round) {
        m.add(0x00, {patSection});
        m.add(0x11, {sdtSection});
        m.add(0x10, {round == 0 ? badNit : goodNit});
        m.add(0x100, {pmt(0x101, 0x110,
                          {{0x1B, 0x110, {}}, {0x03, 0x120, {}}, {0x06, 0x130, {0x6A, 0}}})});
        m.add(0x200, {pmt(0x102, 0x210, {{0x03, 0x210, {}}})});
        m.add(0x300,
              {pmt(0x103, 0x310, {{0x1B, 0x310, {}}, {0x04, 0x320, {}}, {0x03, 0x321, {}}})});
        m.add(0x12, {eit(0x4E, 0x101, 1, kOnid, 0, {film}), eit(0x4E, 0x101, 1, kOnid, 1, {news}),
                     eit(0x4F, 0x201, 2, kOnid, 0, {doc}), eit(0x50, 0x103, 1, kOnid, 0, {news})});
    }
    return m.bytes;
}

Bytes secondMux() {
    Mux m;
    m.add(0x11, {sdt(2, kOnid, {{0x201, "GR2", "Arte"}, {0x202, "GR2", "Data"}})});
    m.add(0x00, {pat(2, {{0x201, 0x400}, {0x202, 0x500}})});
    m.add(0x400, {pmt(0x201, 0x410, {{0x02, 0x410, {}}, {0x03, 0x420, {}}})});
    return m.bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ts_inspect_gen FOLDER\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    if (!write(dir + "/mux1.ts", firstMux()) || !write(dir + "/mux2.ts", secondMux())) {
        std::fputs("ts_inspect_gen: cannot write the multiplexes\n", stderr);
        return 1;
    }
    return 0;
}
