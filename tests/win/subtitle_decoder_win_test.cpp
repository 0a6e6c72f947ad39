// The subtitle decoder as the program links it: the Win64 build of its libavcodec.
#include "subtitles/subtitle_decoder.h"
#include "support/dvb_subtitle_writer.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using namespace dvbsub;

TEST(SubtitleDecoderWin64, DecodesAHdDisplaySetAndItsClear) {
    const Bytes pixels = {1, 0, 2, 3, 3, 2, 0, 1, 0, 0, 1, 1};
    const std::vector<ClutEntry> clut = {{1, 0x40, 235, 128, 128, 0}, {2, 0x40, 16, 128, 128, 128}};
    const Bytes shown = pesPacket(
        dataField(
            {displayDefinition(3, 0, 1920, 1080), pageComposition(3, 4, 0, 2, {{1, 1200, 900}}),
             regionComposition(3, 1, 0, 4, 3, 4, 1, {{9, 0, 0}}), clutDefinition(4, 1, 0, clut),
             objectData(3, 9, 0, 4, 4, pixels), endOfDisplaySet(3)}),
        90000);
    const Bytes cleared =
        pesPacket(dataField({pageComposition(3, 0, 1, 0, {}), endOfDisplaySet(3)}), 180000);

    SubtitleDecoder decoder(3, 4);
    auto first = decoder.decodePes(shown);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].pts, 90000);
    EXPECT_EQ(first[0].timeoutMs, 4000u);
    EXPECT_EQ(first[0].displayWidth, 1920);
    EXPECT_EQ(first[0].displayHeight, 1080);
    ASSERT_EQ(first[0].regions.size(), 1u);
    const SubtitleRegion& r = first[0].regions[0];
    EXPECT_EQ(r.x, 1200);
    EXPECT_EQ(r.y, 900);
    EXPECT_EQ(r.pixels, pixels);
    ASSERT_EQ(r.palette.size(), 16u);
    EXPECT_EQ(r.palette[1], 0xFFFFFFFFu);
    EXPECT_EQ(r.palette[2], 0x7F000000u);

    auto second = decoder.decodePayload(std::span<const uint8_t>(cleared).subspan(14), 180000);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(second[0].regions.empty());
}

} // namespace
} // namespace korvane
