#include "capture/recording_names.h"

#include <gtest/gtest.h>

using namespace korvane;

namespace {

const DateTime kMarch7{2026, 3, 7, 20, 45, 9};

std::u16string upper(std::string_view text) {
    std::u16string out;
    for (char c : text)
        out.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c));
    return out;
}

} // namespace

TEST(RecordingNames, FollowTheDayMonthTimePattern) {
    EXPECT_EQ(channelRecordingPath(u"D:\\TV", "Arte", kMarch7), u"D:\\TV\\Arte 07-03 20-45-09.mpg");
    EXPECT_EQ(multiplexRecordingPath(u"D:\\TV", DateTime{2026, 12, 31, 0, 0, 0}),
              u"D:\\TV\\Transport Stream 31-12 00-00-00.mpg");
    EXPECT_EQ(screenshotPath(u"D:\\Images", "Arte", kMarch7),
              u"D:\\Images\\Arte 07-03 20-45-09.bmp");
}

TEST(RecordingNames, WidenTheChannelNameWithTheGivenFunction) {
    EXPECT_EQ(channelRecordingPath(u"C:", "France 2", kMarch7, upper),
              u"C:\\FRANCE 2 07-03 20-45-09.mpg");
    // Latin-1 by default: byte 0xE9 is U+00E9.
    EXPECT_EQ(channelRecordingPath(u"C:", "T\xE9l\xE9", kMarch7),
              u"C:\\T\u00E9l\u00E9 07-03 20-45-09.mpg");
}

TEST(RecordingNames, ChannelNamesCannotLeaveTheFolder) {
    EXPECT_EQ(channelRecordingPath(u"D:\\TV", "..\\..\\Windows\\x", kMarch7),
              u"D:\\TV\\.._.._Windows_x 07-03 20-45-09.mpg");
    EXPECT_EQ(channelRecordingPath(u"D:\\TV", "a/b:c?d*e\"f<g>h|i", kMarch7),
              u"D:\\TV\\a_b_c_d_e_f_g_h_i 07-03 20-45-09.mpg");
    EXPECT_EQ(screenshotPath(u"D:\\TV", std::string_view("\x05M6\x1F\x7F", 5), kMarch7),
              u"D:\\TV\\_M6__ 07-03 20-45-09.bmp");
    // Everything else stays, including dots, spaces, accents and apostrophes.
    EXPECT_EQ(fileNameSafe(u"L'\u00C9quipe 21 (HD). "), u"L'\u00C9quipe 21 (HD). ");
}

TEST(RecordingNames, PathsThatWouldNotFitAreRefused) {
    // With "\", 4 name units and " 07-03 20-45-09.mpg" (19) the path takes all 1023 units.
    std::u16string folder(1023 - 1 - 4 - 19, u'x');
    EXPECT_TRUE(channelRecordingPath(folder, "ab", kMarch7).has_value());
    EXPECT_EQ(channelRecordingPath(folder, "ab", kMarch7)->size(), 1021u);
    EXPECT_TRUE(channelRecordingPath(folder, "abcd", kMarch7).has_value());
    EXPECT_FALSE(channelRecordingPath(folder, "abcde", kMarch7).has_value());
    EXPECT_FALSE(multiplexRecordingPath(std::u16string(1024, u'x'), kMarch7).has_value());
}

TEST(RecordingNames, LaterFilesOfOneNameTakeACounterBeforeTheExtension) {
    const struct {
        std::u16string_view path;
        int n;
        std::u16string_view expected;
    } cases[] = {
        {u"C:\\v\\France 2 07-12 21-00-00.mpg", 1, u"C:\\v\\France 2 07-12 21-00-00.mpg"},
        {u"C:\\v\\France 2 07-12 21-00-00.mpg", 2, u"C:\\v\\France 2 07-12 21-00-00 (2).mpg"},
        {u"C:\\v\\Arte 07-12 21-00-00.bmp", 12, u"C:\\v\\Arte 07-12 21-00-00 (12).bmp"},
        {u"C:\\v.d\\Transport Stream", 3, u"C:\\v.d\\Transport Stream (3)"},
        {u"C:\\v\\a.b.mpg", 2, u"C:\\v\\a.b (2).mpg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numberedPath(c.path, c.n), std::u16string(c.expected)) << c.n;

    const std::u16string longest(kMaxPathUnits - 1, u'a');
    EXPECT_EQ(numberedPath(longest, 1), longest);
    EXPECT_FALSE(numberedPath(longest, 2).has_value());
}
