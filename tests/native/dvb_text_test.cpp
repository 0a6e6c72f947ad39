#include "common/dvb_text.h"
#include "si/guide_table.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

using namespace std::string_literals;

TEST(DvbText, TheTableSelectorIsNotShown) {
    const struct {
        std::string broadcast;
        std::string shown;
    } cases[] = {
        {"\x05T\xE9l\xE9 Une"s, "T\xE9l\xE9 Une"s},
        {"\x01\xB1\xB2"s, "\xB1\xB2"s},
        {"\x0B"
         "Arte"s,
         "Arte"s},
        {"\x0C"
         "Arte"s,
         "\x0C"
         "Arte"s}, // not a selector
        {"\x10\x00\x01"
         "Arte"s,
         "Arte"s},
        {"\x10\x00"s, "\x10\x00"s}, // too short to be one: kept
        {"\x10raw"s, "\x10raw"s},   // no table number
        {"\x11\x00T"s, "\x00T"s},
        {"\x15UTF-8"s, "UTF-8"s},
        {"\x16X"s, "\x16X"s},
        {"\x1F\x01X"s, "X"s},
        {"\x1F"s, "\x1F"s},
        {"\x05"s, ""s},
        {""s, ""s},
        {"TF1"s, "TF1"s},
        {" \x05X"s, " \x05X"s}, // only a leading byte chooses
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(shownDvbText(c.broadcast)), c.shown) << c.broadcast;
}

TEST(DvbText, TheGuideShowsNamesAndTextsWithoutSelector) {
    ChannelInfo channel;
    channel.name.assign("\x05"
                        "France 2");
    channel.present.startTime = 1;
    channel.present.title.assign("\x15"
                                 "Journal");
    channel.present.description.assign("\x1F\x02"
                                       "Le journal");
    const GuideTable table = guideTable({channel}, 0);
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0].channelName, "France 2");
    EXPECT_EQ(table.rows[0].title, "Journal");
    EXPECT_EQ(table.rows[0].description, "Le journal");
}

} // namespace
} // namespace korvane
