#pragma once

// The channels of the demo city (tools/muxgen/scenarios/demo_city.mux) as its multiplexes
// announce them: numbered from the NIT, without the radio and data services, sorted. The
// E-AC-3 tracks of today's channels have no field of their own here.

#include "support/channel_file_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane::testing {

struct DemoChannel {
    const char* name;
    int32_t number, frequency, pmt, video, h264, audio1, audio2, ac3;
};

inline const DemoChannel kDemoCity[] = {
    {"TV Une", 1, 562167, 0x425, 0x120, 0, 0x130, 0x131, 0x133},
    {"Hexagone 2", 2, 586167, 0x3F3, 0x120, 0, 0x130, 0x131, 0x133},
    {"Hexagone 3", 3, 586167, 0x3F4, 0x220, 0, 0x230, 0, 0},
    {"Canal Premium", 4, 522167, 0x407, 0, 0x120, 0x130, 0x131, 0x133},
    {"Hexagone 5", 5, 586167, 0x3F5, 0x320, 0, 0x330, 0, 0},
    {"Six TV", 6, 498167, 0x411, 0x120, 0, 0x130, 0x131, 0x133},
    {"\x05Sept Arts", 7, 586167, 0x3F9, 0, 0x720, 0, 0, 0},
    {"Canal Huit", 8, 474167, 0x3FD, 0x120, 0, 0x130, 0, 0},
    {"Neuf Musique", 9, 474167, 0x3FE, 0x220, 0, 0x230, 0, 0},
    {"Riviera TV", 10, 562167, 0x426, 0x220, 0, 0x230, 0, 0},
    {"NT Onze", 11, 498167, 0x413, 0x320, 0, 0x330, 0, 0},
    {"Double Neuf", 12, 498167, 0x412, 0x220, 0, 0x230, 0, 0},
    {"Parlement TV", 13, 586167, 0x3F6, 0x420, 0, 0x430, 0, 0},
    {"Quatorze TV", 14, 474167, 0x3FF, 0x320, 0, 0x330, 0, 0},
    {"Info Continu", 15, 562167, 0x427, 0x320, 0, 0x330, 0, 0},
    {"Capitale TV", 16, 522167, 0x40A, 0x420, 0, 0x430, 0, 0},
    {"Kidz", 18, 474167, 0x400, 0x420, 0, 0x430, 0x431, 0},
    {"\x0BHexagone \xD4", 19, 586167, 0x3F7, 0x520, 0, 0x530, 0, 0},
    {"\x05Hexagone \xC9toile HD", 20, 538167, 0x41E, 0, 0x420, 0, 0, 0},
    {"\x05Hexagone 3 C\xF4te d'Azur", 30, 562167, 0x429, 0, 0x520, 0x530, 0, 0},
    {"Planet Doc", 32, 522167, 0x40B, 0, 0x520, 0x530, 0, 0},
    {"\x05"
     "Canal Cin\xE9ma",
     33, 522167, 0x408, 0, 0x220, 0x230, 0, 0},
    {"Canal Sport", 34, 522167, 0x409, 0, 0x320, 0x330, 0, 0},
    {"TV Une HD", 51, 538167, 0x41B, 0, 0x120, 0x130, 0, 0x133},
    {"Hexagone 2 HD", 52, 538167, 0x41C, 0, 0x220, 0x230, 0, 0x233},
    {"Six TV HD", 56, 538167, 0x41D, 0, 0x320, 0x330, 0, 0x333},
};

// The channel file's bytes hold exactly these channels, in this order.
inline void expectDemoCityChannels(const std::string& fileBytes) {
    ChannelRecords saved;
    ASSERT_TRUE(parseChannelFile(fileBytes, saved, replaceWithQuestionMarks));
    ASSERT_EQ(saved.size(), std::size(kDemoCity));
    for (std::size_t i = 0; i < saved.size(); ++i) {
        const DemoChannel& e = kDemoCity[i];
        const ChannelInfo& c = saved[i];
        EXPECT_EQ(c.name.view(), e.name) << i;
        EXPECT_EQ((std::vector<int32_t>{c.number, c.frequency, c.pmtPid, c.videoPid,
                                        c.videoMpeg4Pid, c.audio1Pid, c.audio2Pid, c.ac3Pid}),
                  (std::vector<int32_t>{e.number, e.frequency, e.pmt, e.video, e.h264, e.audio1,
                                        e.audio2, e.ac3}))
            << e.name;
        EXPECT_EQ(c.onid, 0x20FA) << e.name;
    }
}

} // namespace korvane::testing
