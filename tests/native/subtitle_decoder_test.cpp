#include "subtitles/subtitle_decoder.h"
#include "support/dvb_subtitle_writer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

using namespace korvane;
using namespace korvane::dvbsub;

namespace {

constexpr uint16_t kPage = 1;
constexpr uint16_t kAncillary = 2;
constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kHalfBlack = 0x7F000000;
constexpr uint32_t kGrey = 0xFF808080;

// White, black at half transparency and grey, as entries 1, 2 and 3 of the CLUT.
std::vector<ClutEntry> clutEntries(uint8_t depths) {
    return {{1, depths, 235, 128, 128, 0},
            {2, depths, 16, 128, 128, 128},
            {3, depths, 126, 128, 128, 0}};
}

// An 8x4 picture using colours 0 to 3, every row different.
const Bytes kPixels = {1, 1, 2, 2, 3, 3, 0, 0, //
                       0, 1, 2, 3, 0, 1, 2, 3, //
                       3, 3, 3, 3, 3, 3, 3, 1, //
                       2, 0, 0, 0, 0, 0, 0, 2};

struct SetSpec {
    uint8_t version = 0;
    uint8_t timeout = 5;
    int bits = 4;
    int x = 100;
    int y = 450;
    std::optional<std::pair<int, int>> display;
    uint16_t page = kPage;
    uint16_t clutPage = kPage;
    bool withRegion = true;
};

std::vector<Bytes> setSegments(const SetSpec& s) {
    std::vector<Bytes> segments;
    if (s.display)
        segments.push_back(displayDefinition(s.page, 0, s.display->first, s.display->second));
    if (!s.withRegion) {
        segments.push_back(pageComposition(s.page, s.timeout, s.version, 0, {}));
        segments.push_back(endOfDisplaySet(s.page));
        return segments;
    }
    const uint8_t depths = s.bits == 2 ? 0x80 : s.bits == 4 ? 0x40 : 0x20;
    segments.push_back(pageComposition(s.page, s.timeout, s.version, 2, {{7, s.x, s.y}}));
    segments.push_back(regionComposition(s.page, 7, s.version, 8, 4, s.bits, 9, {{5, 0, 0}}));
    segments.push_back(clutDefinition(s.clutPage, 9, s.version, clutEntries(depths)));
    segments.push_back(objectData(s.page, 5, s.version, s.bits, 8, kPixels));
    segments.push_back(endOfDisplaySet(s.page));
    return segments;
}

Bytes setPes(const SetSpec& s, std::optional<int64_t> pts) {
    return pesPacket(dataField(setSegments(s)), pts);
}

struct Step {
    enum Kind { Pes, Payload, Reset } kind;
    Bytes bytes;
    int64_t pts = 0;
};

struct ExpectedPicture {
    int64_t pts;
    uint32_t timeoutMs;
    int displayWidth;
    int displayHeight;
    int regions; // each the 8x4 picture at (x, y) with the colours above
    int x = 100;
    int y = 450;
    std::size_t paletteSize = 16;
};

struct Case {
    std::string name;
    std::vector<Step> steps;
    std::vector<ExpectedPicture> expected;
};

Bytes cut(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

std::vector<Case> cases() {
    const Bytes set4 = setPes({}, 900000);
    const Bytes clear = setPes({.version = 1, .timeout = 0, .withRegion = false}, 990000);
    std::vector<Bytes> segments = setSegments({});
    for (const Bytes& s : setSegments({.version = 1, .timeout = 0, .withRegion = false}))
        segments.push_back(s);
    const Bytes twoSetsPes = pesPacket(dataField(segments), 4500);
    // A packet length that ends the packet after the first set: the second is not read.
    Bytes shortLength = twoSetsPes;
    const std::size_t firstSetEnd = 6 + 3 + 5 + 2 + [&] {
        std::size_t n = 0;
        for (const Bytes& s : setSegments({}))
            n += s.size();
        return n;
    }();
    shortLength[4] = static_cast<uint8_t>((firstSetEnd - 6) >> 8);
    shortLength[5] = static_cast<uint8_t>(firstSetEnd - 6);
    Bytes otherStream = set4;
    otherStream[3] = 0xE0;
    Bytes otherData = set4;
    otherData[14] = 0x21;

    return {
        {"FourBitObjectClutAndTimeOut", {{Step::Pes, set4}}, {{900000, 5000, 720, 576, 1}}},
        {"TwoBitObject",
         {{Step::Pes, setPes({.bits = 2}, 3000)}},
         {{3000, 5000, 720, 576, 1, 100, 450, 4}}},
        {"DisplayDefinitionHd",
         {{Step::Pes, setPes({.x = 1500, .y = 950, .display = std::pair{1920, 1080}}, 7)}},
         {{7, 5000, 1920, 1080, 1, 1500, 950}}},
        {"ClearSetAfterSubtitle",
         {{Step::Pes, set4}, {Step::Pes, clear}},
         {{900000, 5000, 720, 576, 1}, {990000, 0, 720, 576, 0}}},
        {"TruncatedSegmentsGiveNothingThenRecover",
         {{Step::Pes, cut(set4, set4.size() - 20)},
          {Step::Pes, cut(set4, 12)},
          {Step::Pes, setPes({.version = 1}, 1000)}},
         {{1000, 5000, 720, 576, 1}}},
        {"OtherPageIgnored", {{Step::Pes, setPes({.page = 7, .clutPage = 7}, 1)}}, {}},
        {"ClutOnAncillaryPage",
         {{Step::Pes, setPes({.clutPage = kAncillary}, 1)}},
         {{1, 5000, 720, 576, 1}}},
        {"PacketWithoutPts", {{Step::Pes, setPes({}, std::nullopt)}}, {}},
        {"TwoSetsInOnePacket",
         {{Step::Pes, twoSetsPes}},
         {{4500, 5000, 720, 576, 1}, {4500, 0, 720, 576, 0}}},
        {"PacketLengthEndsThePacket", {{Step::Pes, shortLength}}, {{4500, 5000, 720, 576, 1}}},
        {"PayloadWithCallersTime",
         {{Step::Payload, dataField(setSegments({})), 12345}},
         {{12345, 5000, 720, 576, 1}}},
        {"PtsKeepsAll33Bits",
         {{Step::Pes, setPes({}, 0x1FFFFFFFFll)}},
         {{0x1FFFFFFFFll, 5000, 720, 576, 1}}},
        {"ResetForgetsDisplaySizeAndPage",
         {{Step::Pes, setPes({.display = std::pair{1920, 1080}}, 1)},
          {Step::Reset, {}},
          {Step::Pes, setPes({}, 2)}},
         {{1, 5000, 1920, 1080, 1}, {2, 5000, 720, 576, 1}}},
        {"MalformedPackets",
         {{Step::Pes, {}},
          {Step::Pes, {0x00, 0x00, 0x01}},
          {Step::Pes, cut(set4, 9)},
          {Step::Pes, otherStream},
          {Step::Pes, otherData},
          {Step::Payload, {0x20, 0x00, 0x0F, 0x80, 0x00, 0x01, 0xFF, 0xFF}, 1},
          {Step::Payload, {}, 1}},
         {}},
    };
}

class SubtitleDecoderCases : public ::testing::TestWithParam<Case> {};

TEST_P(SubtitleDecoderCases, DisplaySetsGiveTheirPictures) {
    const Case& c = GetParam();
    SubtitleDecoder decoder(kPage, kAncillary);
    std::vector<SubtitlePicture> pictures;
    for (const Step& step : c.steps) {
        if (step.kind == Step::Reset) {
            decoder.reset();
            continue;
        }
        auto got = step.kind == Step::Pes ? decoder.decodePes(step.bytes)
                                          : decoder.decodePayload(step.bytes, step.pts);
        for (auto& p : got)
            pictures.push_back(std::move(p));
    }
    ASSERT_EQ(pictures.size(), c.expected.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const SubtitlePicture& got = pictures[i];
        const ExpectedPicture& want = c.expected[i];
        SCOPED_TRACE("picture " + std::to_string(i));
        EXPECT_EQ(got.pts, want.pts);
        EXPECT_EQ(got.timeoutMs, want.timeoutMs);
        EXPECT_EQ(got.displayWidth, want.displayWidth);
        EXPECT_EQ(got.displayHeight, want.displayHeight);
        ASSERT_EQ(got.regions.size(), static_cast<std::size_t>(want.regions));
        for (const SubtitleRegion& r : got.regions) {
            EXPECT_EQ(r.x, want.x);
            EXPECT_EQ(r.y, want.y);
            EXPECT_EQ(r.width, 8);
            EXPECT_EQ(r.height, 4);
            EXPECT_EQ(r.pixels, kPixels);
            ASSERT_EQ(r.palette.size(), want.paletteSize);
            EXPECT_EQ(r.palette[1], kWhite);
            EXPECT_EQ(r.palette[2], kHalfBlack);
            EXPECT_EQ(r.palette[3], kGrey);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, SubtitleDecoderCases, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
