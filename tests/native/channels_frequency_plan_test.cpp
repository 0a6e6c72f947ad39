#include "channels/frequency_plan.h"
#include "support/memory_profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace korvane;

namespace {

class ScriptedQuestion : public OffsetQuestion {
  public:
    explicit ScriptedQuestion(bool answer) : answer_(answer) {}
    bool ask(std::u16string_view, std::u16string_view caption) override {
        captions.emplace_back(caption);
        return answer_;
    }
    std::vector<std::u16string> captions;

  private:
    bool answer_;
};

FrequencyPlan wholeBand(int32_t offset) {
    FrequencyPlan plan;
    for (int32_t k = 0; k <= 48; ++k)
        plan.push_back(474000 + offset + 8000 * k);
    return plan;
}

// The shipped canaux.ini is UTF-16LE with a byte-order mark so that the accented section
// name reads the same whatever the ANSI code page.
std::u16string readUtf16File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return text;
}

} // namespace

TEST(FrequencyPlan, CityWithSixMultiplexes) {
    MemoryProfile ini(u"[Général]\r\nOffset=-167\r\n[Lyon]\r\nR1=56\r\nR2=36\r\nR3=21\r\n"
                      u"R4=54\r\nR5=27\r\nR6=24\r\n");
    ScriptedQuestion no(false);
    EXPECT_EQ(buildFrequencyPlan(ini, u"Lyon", u"Tuner", no),
              (FrequencyPlan{754000 - 167, 594000 - 167, 474000 - 167, 738000 - 167, 522000 - 167,
                             498000 - 167}));
    EXPECT_TRUE(no.captions.empty());
}

TEST(FrequencyPlan, MissingKeysStillGiveEntriesAndMissingR1GivesTheWholeBand) {
    MemoryProfile ini(u"[A]\r\nR1=21\r\nR2=24\r\n[B]\r\nR2=30\r\nR3=31\r\n[C]\r\nR1=0\r\n");
    ScriptedQuestion no(false);
    EXPECT_EQ(buildFrequencyPlan(ini, u"A", u"", no),
              (FrequencyPlan{474167, 498167, 306167, 306167, 306167, 306167}));
    EXPECT_EQ(buildFrequencyPlan(ini, u"B", u"", no), wholeBand(167));
    EXPECT_EQ(buildFrequencyPlan(ini, u"C", u"", no), wholeBand(167));
    EXPECT_EQ(buildFrequencyPlan(ini, u"", u"", no), wholeBand(167));
    EXPECT_EQ(buildFrequencyPlan(ini, kAllChannelsCity, u"", no), wholeBand(167));
    EXPECT_EQ(wholeBand(167).back(), 858167);
}

TEST(FrequencyPlan, TunerBrandQuestions) {
    MemoryProfile none;
    ScriptedQuestion yes(true);
    EXPECT_EQ(tunerOffset(none, u"Hauppauge Nova-T", yes), 166);
    EXPECT_EQ(yes.captions, std::vector<std::u16string>{u"Carte Hauppauge"});

    ScriptedQuestion both(true);
    EXPECT_EQ(tunerOffset(none, u"Hauppauge Cinergy", both), 167);
    EXPECT_EQ(both.captions, (std::vector<std::u16string>{u"Carte Hauppauge", u"Carte Cinergy"}));

    ScriptedQuestion declined(false);
    EXPECT_EQ(tunerOffset(none, u"Hauppauge", declined), 167);
    EXPECT_EQ(tunerOffset(none, u"Cinergy T USB", declined), 167);
    EXPECT_EQ(declined.captions.size(), 1u) << "default 167 needs no Cinergy question";
    EXPECT_EQ(tunerOffset(none, u"hauppauge", declined), 167) << "case-sensitive";
    EXPECT_EQ(declined.captions.size(), 1u);

    MemoryProfile at166(u"[Général]\r\nOffset=166\r\n");
    ScriptedQuestion asked(true);
    EXPECT_EQ(tunerOffset(at166, u"Hauppauge", asked), 166);
    EXPECT_TRUE(asked.captions.empty());
    EXPECT_EQ(tunerOffset(at166, u"Cinergy", asked), 167);
    EXPECT_EQ(asked.captions, std::vector<std::u16string>{u"Carte Cinergy"});
}

TEST(FrequencyPlan, OutlandishChannelNumbersDoNotOverflow) {
    MemoryProfile ini(u"[X]\r\nR1=2147483647\r\n");
    ScriptedQuestion no(false);
    FrequencyPlan plan = buildFrequencyPlan(ini, u"X", u"", no);
    ASSERT_EQ(plan.size(), 6u);
    // 2147483647 * 8000 + 306000 + 167 modulo 2^32: the product wraps to -8000.
    EXPECT_EQ(plan[0], 298167);
}

TEST(CityList, StartsWithTheWholeBandAndSkipsTheGeneralSection) {
    MemoryProfile ini(u"[Paris]\r\nR1=35\r\n[Général]\r\nOffset=167\r\n[Lyon]\r\nR1=56\r\n"
                      u"[Général 2]\r\nR1=1\r\n");
    EXPECT_EQ(cityListItems(ini),
              (std::vector<std::u16string>{kAllChannelsCity, u"Paris", u"Lyon", u"Général 2"}));
    MemoryProfile empty;
    EXPECT_EQ(cityListItems(empty), std::vector<std::u16string>{kAllChannelsCity});
}

TEST(ShippedCanauxIni, HoldsTheOffsetAndCurrentParisMultiplexes) {
    std::u16string text = readUtf16File(std::string(KORVANE_SOURCE_DIR) + "/data/canaux.ini");
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text[0], u'\uFEFF');
    MemoryProfile ini(std::u16string_view(text).substr(1));
    EXPECT_EQ(ini.readInt(kGeneralSection, u"Offset", 0), 167);
    ScriptedQuestion no(false);
    EXPECT_EQ(buildFrequencyPlan(ini, u"Paris", u"", no),
              (FrequencyPlan{586167, 506167, 482167, 546167, 562167, 642167}));
    std::vector<std::u16string> cities = cityListItems(ini);
    EXPECT_GE(cities.size(), 6u);
    for (std::size_t i = 1; i < cities.size(); ++i) {
        FrequencyPlan plan = buildFrequencyPlan(ini, cities[i], u"", no);
        ASSERT_EQ(plan.size(), 6u) << "every city has R1";
        for (int32_t f : plan)
            EXPECT_TRUE(f >= 474167 && f <= 858167) << "R1..R6 all present";
    }
}
