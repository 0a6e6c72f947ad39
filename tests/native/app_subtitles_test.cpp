#include "app/subtitle_choice.h"
#include "app/subtitle_timeline.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace korvane {
namespace {

SubtitleStream stream(int32_t pid, const char* language, uint8_t type) {
    SubtitleStream s;
    s.pid = pid;
    s.language = {language[0], language[1], language[2]};
    s.type = type;
    return s;
}

ChannelInfo channelWith(std::vector<SubtitleStream> streams) {
    ChannelInfo channel;
    channel.subtitleStreams = std::move(streams);
    return channel;
}

TEST(SubtitleChoice, PreferenceTypeThenHeardLanguageThenFrenchThenPmtOrder) {
    const std::array<char, 3> none{};
    const std::array<char, 3> german{'d', 'e', 'u'};
    struct Case {
        const char* what;
        std::vector<SubtitleStream> streams;
        SubtitlePreference preference;
        std::array<char, 3> heard;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {"off shows nothing",
         {stream(100, "fra", 0x10)},
         SubtitlePreference::Off,
         none,
         std::nullopt},
        {"no streams", {}, SubtitlePreference::Normal, none, std::nullopt},
        {"hard of hearing first whatever the order",
         {stream(100, "fra", 0x10), stream(101, "fra", 0x20)},
         SubtitlePreference::HardOfHearing,
         none,
         1},
        {"normal first whatever the order",
         {stream(101, "fra", 0x24), stream(100, "fra", 0x14)},
         SubtitlePreference::Normal,
         none,
         1},
        {"the other type when the preferred one is missing",
         {stream(101, "fra", 0x20)},
         SubtitlePreference::Normal,
         none,
         0},
        {"French before another language",
         {stream(100, "deu", 0x10), stream(101, "fre", 0x10)},
         SubtitlePreference::Normal,
         none,
         1},
        {"the heard language before French",
         {stream(101, "fra", 0x10), stream(100, "deu", 0x10)},
         SubtitlePreference::Normal,
         german,
         1},
        {"type outranks the heard language",
         {stream(100, "deu", 0x10), stream(101, "fra", 0x20)},
         SubtitlePreference::HardOfHearing,
         german,
         1},
        {"the PMT's order among equals",
         {stream(100, "eng", 0x10), stream(101, "ita", 0x10)},
         SubtitlePreference::Normal,
         none,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(preferredSubtitleStream(channelWith(c.streams), c.preference, c.heard),
                  c.expected);
    }
}

TEST(SubtitleChoice, KeyStepsMenuNamesAndPreferenceOfAChoice) {
    // Aucun -> each stream -> Aucun.
    std::vector<std::optional<std::size_t>> steps;
    std::optional<std::size_t> at;
    for (int i = 0; i < 4; ++i)
        steps.push_back(at = nextSubtitleChoice(at, 2));
    EXPECT_EQ(steps, (std::vector<std::optional<std::size_t>>{0, 1, std::nullopt, 0}));
    EXPECT_EQ(nextSubtitleChoice(std::nullopt, 0), std::nullopt);
    // A choice past the list (the channel lost a stream) goes back to none.
    EXPECT_EQ(nextSubtitleChoice(5, 2), std::nullopt);

    EXPECT_EQ(subtitleStreamName(stream(1, "fra", 0x10), 1), "Français");
    EXPECT_EQ(subtitleStreamName(stream(1, "fre", 0x20), 1), "Français (sourds et malentendants)");
    EXPECT_EQ(subtitleStreamName(stream(1, "deu", 0x10), 2), "Allemand");
    EXPECT_EQ(subtitleStreamName(stream(1, "xyz", 0x10), 2), "xyz");
    EXPECT_EQ(subtitleStreamName(stream(1, "\0\0\0", 0x21), 3),
              "Sous-titres 3 (sourds et malentendants)");

    const SubtitleStream normal = stream(1, "fra", 0x13);
    const SubtitleStream deaf = stream(1, "fra", 0x22);
    EXPECT_EQ(preferenceOf(nullptr), SubtitlePreference::Off);
    EXPECT_EQ(preferenceOf(&normal), SubtitlePreference::Normal);
    EXPECT_EQ(preferenceOf(&deaf), SubtitlePreference::HardOfHearing);

    ChannelInfo channel;
    AudioStream audio;
    audio.pid = 120;
    audio.language = {'q', 'a', 'a'};
    channel.audioStreams.push_back(audio);
    EXPECT_EQ(audioLanguageOf(channel, 120), audio.language);
    EXPECT_EQ(audioLanguageOf(channel, 121), (std::array<char, 3>{}));
}

SubtitlePicture picture(int64_t pts, uint32_t timeoutMs, int regions) {
    SubtitlePicture p;
    p.pts = pts;
    p.timeoutMs = timeoutMs;
    for (int i = 0; i < regions; ++i) {
        SubtitleRegion r;
        r.x = i;
        p.regions.push_back(r);
    }
    return p;
}

// One step of a timeline: add pictures (with a generation), advance to `now`, and expect
// what is shown (the pts of the shown picture, or none) and the next wake-up.
TEST(SubtitleTimeline, PicturesShowAtTheirTimeAndClearAtTimeOutOrNextSet) {
    struct Step {
        const char* what;
        std::vector<std::pair<uint32_t, SubtitlePicture>> added;
        int64_t now;
        bool changed;
        std::optional<int64_t> shownPts;
        std::optional<int64_t> next;
    };
    const Step steps[] = {
        {"early: waits", {{1, picture(9000, 2000, 1)}}, 8999, false, std::nullopt, 9000},
        {"due: shown until its time-out", {}, 9000, true, 9000, 9000 + 180000},
        {"a set that clears comes", {{1, picture(20000, 0, 0)}}, 19000, false, 9000, 20000},
        {"cleared by it", {}, 20000, true, std::nullopt, std::nullopt},
        {"two due at once: the later wins",
         {{1, picture(30000, 0, 1)}, {1, picture(30500, 1000, 1)}},
         31000,
         true,
         30500,
         30500 + 90000},
        {"the time-out clears it", {}, 30500 + 90000, true, std::nullopt, std::nullopt},
        {"another generation is dropped",
         {{2, picture(200000, 0, 1)}},
         200000,
         false,
         std::nullopt,
         std::nullopt},
        {"a set far ahead is another time line",
         {{1, picture(200000 + kSubtitleMaxLead + 1, 0, 1)}},
         200000,
         false,
         std::nullopt,
         std::nullopt},
        {"no time-out stays until the next set",
         {{1, picture(300000, 0, 1)}},
         900000,
         true,
         300000,
         std::nullopt},
    };
    SubtitleTimeline timeline;
    timeline.restart(1);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        for (const auto& [generation, added] : step.added)
            timeline.add(generation, added);
        EXPECT_EQ(timeline.advance(step.now), step.changed);
        const SubtitlePicture* shown = timeline.shown();
        EXPECT_EQ(shown ? std::optional<int64_t>(shown->pts) : std::nullopt, step.shownPts);
        EXPECT_EQ(timeline.nextChange(), step.next);
    }
    // A zap forgets what is shown and waiting.
    timeline.add(1, picture(950000, 0, 1));
    timeline.restart(3);
    EXPECT_EQ(timeline.shown(), nullptr);
    EXPECT_EQ(timeline.nextChange(), std::nullopt);
    // A graph that does not run keeps only the latest pictures.
    for (std::size_t i = 0; i < kSubtitleMaxPending + 5; ++i)
        timeline.add(3, picture(int64_t(i), 0, 1));
    EXPECT_EQ(timeline.nextChange(), 5);
}

TEST(SubtitleTimeline, RegionsStretchFromTheDisplayOverThePicture) {
    struct Case {
        const char* what;
        SubtitleRegion region;
        int displayWidth, displayHeight;
        VideoRect picture, expected;
    };
    auto region = [](int x, int y, int w, int h) {
        SubtitleRegion r;
        r.x = x;
        r.y = y;
        r.width = w;
        r.height = h;
        return r;
    };
    const Case cases[] = {
        {"same size", region(100, 500, 520, 40), 720, 576, {0, 0, 720, 576}, {100, 500, 620, 540}},
        {"zoom 200: the picture reaches past the window",
         region(100, 500, 520, 40),
         720,
         576,
         {-400, -290, 1200, 870},
         {-178, 716, 977, 797}},
        {"full screen 1280x1024, letterboxed",
         region(0, 0, 720, 576),
         720,
         576,
         {0, 32, 1280, 992},
         {0, 32, 1280, 992}},
        {"HD display definition",
         region(960, 1000, 480, 60),
         1920,
         1080,
         {0, 0, 800, 450},
         {400, 416, 600, 441}},
        {"no display size counts as 720x576",
         region(360, 288, 36, 29),
         0,
         0,
         {0, 0, 1440, 1152},
         {720, 576, 792, 634}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(subtitleRegionArea(c.region, c.displayWidth, c.displayHeight, c.picture),
                  c.expected);
    }
}

TEST(SubtitleTimeline, BitmapKeepsOpaquePixelsAndKeysTheRest) {
    SubtitleRegion r;
    r.width = 3;
    r.height = 2;
    // 0 clear, 1 opaque white, 2 half-transparent black (shown), 3 mostly clear red (keyed),
    // 4 past the palette; the last pixel is missing.
    r.pixels = {0, 1, 2, 3, 4};
    r.palette = {0x00000000, 0xFFFFFFFF, 0x80000000, 0x7FFF0000};
    const SubtitleBitmap bitmap = subtitleBitmap(r);
    EXPECT_EQ(bitmap.key, 0xFF00FFu);
    EXPECT_EQ(bitmap.pixels,
              (std::vector<uint32_t>{0xFF00FF, 0xFFFFFF, 0x000000, 0xFF00FF, 0xFF00FF, 0xFF00FF}));
    // An opaque magenta in the palette moves the key to a colour nobody uses.
    r.palette.push_back(0xFFFF00FF);
    r.palette.push_back(0xFFFF0100);
    r.pixels = {4, 5, 6};
    const SubtitleBitmap moved = subtitleBitmap(r);
    EXPECT_EQ(moved.key, 0xFF0101u);
    EXPECT_EQ(moved.pixels[0], 0xFF00FFu);
    EXPECT_EQ(moved.pixels[1], 0xFF0100u);
    EXPECT_EQ(moved.pixels[2], moved.key);
    EXPECT_TRUE(subtitleBitmap(SubtitleRegion{}).pixels.empty());
}

} // namespace
} // namespace korvane
