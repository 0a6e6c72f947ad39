#include "app/picture_controls.h"
#include "app/screenshot_file.h"
#include "app/video_geometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane {
namespace {

TEST(VideoDestination, ZoomAndFullWidthAgainstHandWorkedRectangles) {
    struct Case {
        int32_t right, bottom, statusBar;
        bool fullWidth;
        int32_t zoom;
        VideoRect expected;
    };
    const Case cases[] = {
        {800, 600, 20, false, 100, {0, 0, 800, 580}},
        {800, 600, 0, false, 100, {0, 0, 800, 600}},
        {800, 600, 20, false, 200, {-400, -290, 1200, 870}},
        // 580 / 100 truncates to 5; -575 / 2 truncates toward zero to -287.
        {800, 600, 20, false, 1, {396, 287, 404, 292}},
        {800, 600, 20, true, 100, {0, -10, 800, 590}},
        {800, 600, 0, true, 100, {0, 0, 800, 600}},
        {800, 600, 20, true, 200, {-400, -310, 1200, 890}},
        {1001, 500, 23, true, 1, {495, 235, 505, 242}},
        {1001, 500, 23, false, 1, {495, 236, 505, 240}},
        // A wide window in full-width mode: a 4:3 area of its width, reaching past the edges.
        {1280, 400, 0, true, 100, {0, -280, 1280, 680}},
        // A window shorter than its status bar keeps a negative bottom.
        {300, 10, 20, false, 100, {0, 0, 300, -10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.right << "x" << c.bottom << " bar " << c.statusBar
                                          << " full " << c.fullWidth << " zoom " << c.zoom);
        EXPECT_EQ(videoDestination(videoArea(c.right, c.bottom, c.statusBar), c.fullWidth, c.zoom),
                  c.expected);
    }
    // A zoom from a damaged config.ini is held at the ends of the range, not wrapped.
    VideoRect huge = videoDestination(videoArea(2000, 2000, 0), false, 2000000000);
    EXPECT_LT(huge.left, 0);
    EXPECT_GT(huge.right, 0);
}

TEST(PictureArea, LetterboxPillarboxAndFontHeight) {
    struct Case {
        VideoRect area;
        uint32_t x, y;
        bool fullWidth;
        VideoRect expected;
        int32_t font;
    };
    const Case cases[] = {
        // 16:9 in a 4:3 area: bars above and below.
        {{0, 0, 800, 600}, 16, 9, false, {0, 75, 800, 525}, 43},
        {{0, 0, 800, 600}, 4, 3, false, {0, 0, 800, 600}, 50},
        // 580 * 4 / 3 = 773 (unsigned, truncated): 13-pixel bars at the sides.
        {{0, 0, 800, 580}, 4, 3, false, {13, 0, 787, 580}, 48},
        {{0, 0, 800, 580}, 4, 3, true, {0, 0, 800, 580}, 48},
        {{0, 0, 1280, 600}, 16, 9, false, {107, 0, 1173, 600}, 50},
        {{0, 0, 1280, 600}, 16, 9, true, {0, 0, 1280, 600}, 50},
        // Unknown terms fall back to 4:3.
        {{0, 0, 800, 580}, 0, 9, false, {13, 0, 787, 580}, 48},
        {{0, 0, 800, 580}, 16, 0, false, {13, 0, 787, 580}, 48},
        // An empty area stays as it is.
        {{0, 0, 300, -10}, 16, 9, false, {0, 0, 300, -10}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.area.right << "x" << c.area.bottom << " " << c.x
                                          << ":" << c.y << " full " << c.fullWidth);
        VideoRect picture = pictureArea(c.area, AspectRatio{c.x, c.y}, c.fullWidth);
        EXPECT_EQ(picture, c.expected);
        EXPECT_EQ(osdFontHeight(picture), c.font);
    }
}

TEST(OsdTexts, VisibilityAndPlacesOfEveryText) {
    OsdVisibility v = osdVisibility(2999, 0, 1, 0xFFFFFF00u);
    EXPECT_TRUE(v.name);
    EXPECT_TRUE(v.volume);
    EXPECT_FALSE(v.zoom);
    v = osdVisibility(3000, 0, 0, 0);
    EXPECT_FALSE(v.name);
    // Across the wrap of the tick counter: 100 - 0xFFFFFF00 is 356.
    EXPECT_TRUE(osdVisibility(100, 0xFFFFFF00u, 0, 0).name);

    const VideoRect picture{0, 75, 800, 525};
    OsdState state;
    state.channelName = "Arte";
    state.presentTitle = "Le journal";
    state.hasPresent = true;
    state.volume = -2500;
    state.zoomPercent = 120;
    EXPECT_TRUE(osdIdle(state));
    EXPECT_TRUE(osdTexts(state, picture, 43).empty());

    state.visible = OsdVisibility{true, true, true};
    state.muted = true;
    EXPECT_FALSE(osdIdle(state));
    const std::vector<OsdText> all = {
        {"Arte", 790, 75, true},       {"Le journal", 790, 118, true}, {"Sourdine", 790, 439, true},
        {"Volume 75", 10, 439, false}, {"Zoom 120%", 10, 396, false},
    };
    EXPECT_EQ(osdTexts(state, picture, 43), all);

    state.visible = OsdVisibility{true, false, false};
    state.muted = false;
    state.hasPresent = false;
    EXPECT_EQ(osdTexts(state, picture, 43), (std::vector<OsdText>{{"Arte", 790, 75, true}}));

    state.visible = OsdVisibility{false, true, false};
    state.volume = kSilentVolume;
    EXPECT_EQ(osdTexts(state, {13, 0, 787, 580}, 48),
              (std::vector<OsdText>{{"Volume 0", 23, 484, false}}));
    state.muted = true;
    state.visible = OsdVisibility{};
    EXPECT_FALSE(osdIdle(state));
    EXPECT_EQ(osdTexts(state, {13, 0, 787, 580}, 48),
              (std::vector<OsdText>{{"Sourdine", 777, 484, true}}));
}

TEST(PictureControls, ZoomAndVolumeLimits) {
    struct Zoom {
        int32_t from, in, out;
    };
    for (Zoom z : {Zoom{100, 101, 99}, Zoom{199, 200, 198}, Zoom{200, 200, 199}, Zoom{1, 2, 1},
                   Zoom{2, 3, 1}, Zoom{0, 1, 1}, Zoom{-7, -6, 1}, Zoom{500, 200, 499}}) {
        EXPECT_EQ(zoomedIn(z.from), z.in) << z.from;
        EXPECT_EQ(zoomedOut(z.from), z.out) << z.from;
    }
    int32_t volume = 0;
    EXPECT_EQ(volumeStepped(volume, true), 0);
    int presses = 0;
    while (volumeStepped(volume, false) != volume) {
        volume = volumeStepped(volume, false);
        ++presses;
    }
    EXPECT_EQ(presses, 100);
    EXPECT_EQ(volume, kSilentVolume);
    EXPECT_EQ(volumeShown(volume), 0);
    EXPECT_EQ(volumeStepped(-9900, false), kSilentVolume);
    EXPECT_EQ(volumeStepped(kSilentVolume, false), kSilentVolume);
    EXPECT_EQ(volumeStepped(kSilentVolume, true), -9900);
    EXPECT_EQ(volumeStepped(-100, true), 0);
    EXPECT_EQ(volumeShown(0), 100);
    EXPECT_EQ(volumeShown(-150), 98);
}

TEST(PictureControls, ClicksAndDragging) {
    const ScreenPoint at{5, 6};
    EXPECT_EQ(pressPointFor(1050, 1000, at), (ScreenPoint{kNoPress, 0}));
    EXPECT_EQ(pressPointFor(1051, 1000, at), at);
    EXPECT_EQ(pressPointFor(0x20, 0xFFFFFFF0u, at), (ScreenPoint{kNoPress, 0}));
    EXPECT_TRUE(releaseIsClick(at, at));
    EXPECT_FALSE(releaseIsClick({5, 7}, at));
    EXPECT_FALSE(releaseIsClick(at, {kNoPress, 0}));

    bool dragging = false;
    ScreenPoint last;
    DragMove move = dragStep(dragging, last, true, false, {100, 200}, 10, 20);
    EXPECT_FALSE(move.move);
    EXPECT_TRUE(dragging);
    move = dragStep(dragging, last, true, false, {100, 200}, 15, 22);
    EXPECT_TRUE(move.move);
    EXPECT_EQ(move.to, (ScreenPoint{105, 202}));
    // The window followed: the cursor is back at the same client point.
    move = dragStep(dragging, last, true, false, {105, 202}, 10, 20);
    EXPECT_EQ(move.to, (ScreenPoint{105, 202}));
    // Client coordinates are taken as unsigned halves.
    dragStep(dragging, last, true, false, {0, 0}, 0xFFFF, 0);
    EXPECT_EQ(last, (ScreenPoint{0xFFFF, 0}));
    EXPECT_FALSE(dragStep(dragging, last, false, false, {0, 0}, 1, 1).move);
    EXPECT_FALSE(dragging);
    dragStep(dragging, last, true, false, {0, 0}, 1, 1);
    EXPECT_FALSE(dragStep(dragging, last, true, true, {0, 0}, 9, 9).move);
    EXPECT_FALSE(dragging);
}

TEST(PictureControls, FullScreenCursorKeepsTheCounterBalanced) {
    enum Step { Enter, Move, Timer, Leave };
    const std::vector<std::vector<Step>> runs = {
        {Enter, Leave},
        {Enter, Move, Leave},
        {Enter, Move, Move, Timer, Leave},
        {Enter, Move, Timer, Timer, Move, Leave},
        {Enter, Timer, Leave},
    };
    for (const auto& run : runs) {
        bool revealed = false;
        int counter = 0;
        bool timerPending = false;
        for (Step step : run) {
            bool kill = false;
            switch (step) {
            case Enter:
                counter += cursorOnEnter(revealed);
                EXPECT_LT(counter, 0);
                break;
            case Move:
                counter += cursorOnMove(revealed);
                timerPending = true;
                EXPECT_EQ(counter, 0) << "a moving cursor is visible";
                break;
            case Timer:
                counter += cursorOnTimer(revealed);
                timerPending = false;
                EXPECT_LT(counter, 0);
                break;
            case Leave:
                counter += cursorOnLeave(revealed, kill);
                EXPECT_EQ(kill, timerPending);
                break;
            }
        }
        EXPECT_EQ(counter, 0) << "run of " << run.size();
        EXPECT_FALSE(revealed);
    }
}

std::vector<uint8_t> bitmapBlock(uint32_t size, int32_t width, int32_t height, uint16_t bits,
                                 uint32_t compression, uint32_t sizeImage, uint32_t colorsUsed,
                                 std::size_t total) {
    std::vector<uint8_t> block(total);
    auto put = [&](std::size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            block[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(0, size, 4);
    put(4, static_cast<uint32_t>(width), 4);
    put(8, static_cast<uint32_t>(height), 4);
    put(12, 1, 2);
    put(14, bits, 2);
    put(16, compression, 4);
    put(20, sizeImage, 4);
    put(32, colorsUsed, 4);
    return block;
}

TEST(ScreenshotFile, HeaderAndLengthForEveryKindOfBlock) {
    struct Case {
        const char* what;
        uint32_t size;
        int32_t width, height;
        uint16_t bits;
        uint32_t compression, sizeImage, colorsUsed;
        std::size_t available;
        bool written;
        uint32_t fileSize, offBits;
    };
    const Case cases[] = {
        {"720x576 RGB32", 40, 720, 576, 32, 0, 1658880, 0, 40 + 1658880, true, 1658934, 54},
        {"no biSizeImage", 40, 720, 576, 32, 0, 0, 0, 40 + 1658880, true, 1658934, 54},
        {"top-down", 40, 720, -576, 32, 0, 0, 0, 40 + 1658880, true, 1658934, 54},
        {"RGB24 padded rows", 40, 3, 2, 24, 0, 0, 0, 64, true, 78, 54},
        {"8-bit palette", 40, 4, 2, 8, 0, 0, 0, 40 + 1024 + 8, true, 1086, 1078},
        {"16-bit masks", 40, 2, 2, 16, 3, 8, 0, 40 + 12 + 8, true, 74, 66},
        {"masks inside a v5 header", 124, 2, 2, 32, 3, 16, 0, 140, true, 154, 138},
        {"block shorter than its header says", 40, 720, 576, 32, 0, 1658880, 0, 1000, false, 0, 0},
        {"core header", 12, 2, 2, 24, 0, 12, 0, 64, false, 0, 0},
        {"compressed without size", 40, 4, 4, 8, 1, 0, 0, 4096, false, 0, 0},
        {"beyond 4 GiB", 40, 0x7FFFFFFF, 0x7FFFFFFF, 32, 0, 0, 0, 64, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto block = bitmapBlock(c.size, c.width, c.height, c.bits, c.compression, c.sizeImage,
                                 c.colorsUsed, std::max<std::size_t>(c.available, 40));
        auto plan = planBitmapFile(ByteReader(block.data(), c.available));
        ASSERT_EQ(plan.has_value(), c.written);
        if (!plan)
            continue;
        const uint8_t* h = plan->header.data();
        EXPECT_EQ(h[0], 'B');
        EXPECT_EQ(h[1], 'M');
        EXPECT_EQ(h[2] | h[3] << 8 | h[4] << 16 | uint32_t(h[5]) << 24, c.fileSize);
        EXPECT_EQ(h[6] | h[7] | h[8] | h[9], 0);
        EXPECT_EQ(h[10] | h[11] << 8 | h[12] << 16 | uint32_t(h[13]) << 24, c.offBits);
        EXPECT_EQ(plan->blockBytes + kBitmapFileHeaderSize, c.fileSize);
    }
    EXPECT_FALSE(planBitmapFile(ByteReader(nullptr, 0)));
}

} // namespace
} // namespace korvane
