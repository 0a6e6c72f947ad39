#include "app/now_playing_text.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(NowPlayingText, PlayingStatusCarriesChannelAndTitleBetweenBackslashZeroes) {
    std::u16string text = nowPlayingText(u"Arte", u"Le journal");
    EXPECT_EQ(text, u"\\0Music\\01\\0{0} - {1}\\0Arte\\0Le journal\\0\\0\\0");
    EXPECT_EQ(text.size(), 45u);
    EXPECT_EQ((text.size() + 1) * 2, 92u);
    EXPECT_EQ(text.find(u'\0'), std::u16string::npos);
}

TEST(NowPlayingText, EmptyTextsAndTheClearedStatus) {
    EXPECT_EQ(nowPlayingText(u"", u""), u"\\0Music\\01\\0{0} - {1}\\0\\0\\0\\0\\0");
    EXPECT_EQ(clearedNowPlayingText(), u"\\0Music\\00\\0\\0\\0\\0\\0\\0");
    EXPECT_EQ(clearedNowPlayingText().size(), 22u);
    // Percent signs of a title are text, not formatting.
    EXPECT_EQ(nowPlayingText(u"C8", u"100 % %S"),
              u"\\0Music\\01\\0{0} - {1}\\0C8\\0100 % %S\\0\\0\\0");
}

} // namespace
} // namespace korvane
