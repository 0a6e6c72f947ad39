#include "app/session_rules.h"
#include "app/status_bar_layout.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(StatusBarEdges, NarrowBarsKeepTheFixedEdges) {
    using Edges = std::array<int, kStatusBarParts>;
    EXPECT_EQ(statusBarEdges(0), (Edges{100, 160, 300, 360, -1}));
    EXPECT_EQ(statusBarEdges(499), (Edges{100, 160, 300, 360, -1}));
    EXPECT_EQ(statusBarEdges(500), (Edges{100, 160, 300, 360, -1}));
}

TEST(StatusBarEdges, WiderBarsGiveHalfTheExtraToTheMiddleEdges) {
    using Edges = std::array<int, kStatusBarParts>;
    EXPECT_EQ(statusBarEdges(501), (Edges{100, 160, 300, 360, -1}));
    EXPECT_EQ(statusBarEdges(502), (Edges{100, 160, 301, 361, -1}));
    EXPECT_EQ(statusBarEdges(784), (Edges{100, 160, 442, 502, -1}));
    EXPECT_EQ(statusBarEdges(1921), (Edges{100, 160, 1010, 1070, -1}));
}

TEST(ChannelMenuText, NumberColonName) {
    EXPECT_EQ(channelMenuText(2, "France 2"), "2: France 2");
    EXPECT_EQ(channelMenuText(0, ""), "0: ");
    EXPECT_EQ(channelMenuText(-5, "X"), "-5: X");
    EXPECT_EQ(channelMenuText(14, "Ch\xE9rie 25"), "14: Ch\xE9rie 25");
    EXPECT_EQ(channelMenuText(7, "Arte & Co&"), "7: Arte && Co&&");
}

TEST(StartChannelIndex, OutOfRangeOrNegativeIndexesSelectTheFirstChannel) {
    EXPECT_EQ(startChannelIndex(3, 10), 3);
    EXPECT_EQ(startChannelIndex(9, 10), 9);
    EXPECT_EQ(startChannelIndex(10, 10), 0);
    EXPECT_EQ(startChannelIndex(-1, 10), 0);
    EXPECT_EQ(startChannelIndex(static_cast<int32_t>(0x80000000u), 10), 0);
    EXPECT_EQ(startChannelIndex(0, 0), 0);
}

ChannelInfo service(int32_t onid, int32_t tsid, int32_t sid, int32_t number) {
    ChannelInfo c;
    c.onid = onid;
    c.tsid = tsid;
    c.sid = sid;
    c.number = number;
    return c;
}

// After a renumbering the same service is played again, found by its identifiers and not
// by its old number or place.
TEST(ChannelAfterRescan, FollowsTheServiceWatchedBefore) {
    const ChannelRecords renumbered{service(0x20FA, 4, 0x101, 1), service(0x20FA, 6, 0x101, 3),
                                    service(0x20FA, 4, 0x102, 3), service(0x20FA, 4, 0x103, 30)};
    const struct {
        const char* what;
        std::optional<ChannelInfo> watched;
        std::size_t index;
    } cases[] = {
        {"moved to a new place", service(0x20FA, 4, 0x103, 14), 3},
        {"same sid on another multiplex", service(0x20FA, 6, 0x101, 1), 1},
        {"shares its new number", service(0x20FA, 4, 0x102, 2), 2},
        {"gone from the air", service(0x20FA, 4, 0x199, 5), 0},
        {"another network", service(0x20FB, 4, 0x101, 1), 0},
        {"nothing watched", std::nullopt, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(channelAfterRescan(renumbered, c.watched), c.index) << c.what;
    EXPECT_EQ(channelAfterRescan({}, service(0x20FA, 4, 0x101, 1)), 0u);
}

} // namespace
} // namespace korvane
