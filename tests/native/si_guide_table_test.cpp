#include "si/guide_table.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

EpgEvent event(uint64_t start, const char* from, const char* to, const char* title) {
    EpgEvent e;
    e.startTime = start;
    e.startText.assign(from);
    e.endText.assign(to);
    e.title.assign(title);
    e.description.assign(std::string(title) + " : description");
    return e;
}

ChannelInfo channel(const char* name) {
    ChannelInfo c;
    c.name.assign(name);
    return c;
}

TEST(GuideTable, RowsInListOrderPresentAboveFollowingAndTheWatchedRowSelected) {
    ChannelRecords records = {channel("TF1"), channel("France 2"), channel("France 3")};
    records[0].present = event(1, "20:00:00", "20:45:00", "Journal");
    records[1].present = event(2, "20:10:00", "21:00:00", "Météo");
    records[1].following = event(3, "21:00:00", "22:30:00", "Film");

    GuideTable table = guideTable(records, 1);
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[0],
              (GuideRow{"TF1", "20:00:00", "20:45:00", "Journal", "Journal : description"}));
    EXPECT_EQ(table.rows[1].channelName, "France 2");
    EXPECT_EQ(table.rows[1].title, "Météo");
    EXPECT_EQ(table.rows[2],
              (GuideRow{"France 2", "21:00:00", "22:30:00", "Film", "Film : description"}));
    EXPECT_EQ(table.selected, 1u);
    EXPECT_EQ(table.origins, (std::vector<GuideRowOrigin>{{0, false}, {1, false}, {1, true}}));

    struct Case {
        int32_t current;
        std::optional<std::size_t> selected;
    };
    // The third channel has no events, a negative index watches nothing.
    for (Case c :
         {Case{0, 0u}, Case{2, std::nullopt}, Case{-1, std::nullopt}, Case{7, std::nullopt}})
        EXPECT_EQ(guideTable(records, c.current).selected, c.selected) << c.current;

    // A watched channel with only a following event has a row but no selection.
    records[2].following = event(4, "23:00:00", "23:30:00", "Nuit");
    GuideTable onlyFollowing = guideTable(records, 2);
    EXPECT_EQ(onlyFollowing.rows.size(), 4u);
    EXPECT_EQ(onlyFollowing.rows[3].title, "Nuit");
    EXPECT_FALSE(onlyFollowing.selected);
    EXPECT_EQ(onlyFollowing.origins.back(), (GuideRowOrigin{2, true}));

    EXPECT_TRUE(guideTable({}, 0).rows.empty());
}

} // namespace
} // namespace korvane
