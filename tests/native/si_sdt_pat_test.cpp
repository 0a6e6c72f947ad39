#include "si/pat.h"
#include "si/sdt.h"
#include "si_test_sections.h"

#include <gtest/gtest.h>

using namespace korvane;
using namespace si_test;

TEST(DecodeSdt, OneRecordPerServiceInOrder) {
    ChannelList list;
    const Bytes section = sdt(0x0004, 0x20FA,
                              {{0x0101, serviceDescriptor("GR1", "A")},
                               {0x0102, serviceDescriptor("", "B", 0x02)},
                               {0x0103, serviceDescriptor("GR1", "")}});
    decodeSdt(list, section.data(), section.size(), 474167);
    decodeSdt(list, section.data(), section.size(), 522167);
    ChannelRecords r = list.snapshot();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[0].name, "A");
    EXPECT_EQ(r[0].group, "GR1");
    EXPECT_EQ(r[0].sid, 0x0101);
    EXPECT_EQ(r[0].tsid, 4);
    EXPECT_EQ(r[0].onid, 0x20FA);
    EXPECT_EQ(r[0].frequency, 474167);
    EXPECT_EQ(r[1].name, "B");
    EXPECT_TRUE(r[1].group.empty());
    EXPECT_TRUE(r[2].name.empty());
    EXPECT_EQ(r[3].sid, 0x0101);
    EXPECT_EQ(r[3].frequency, 522167);
    EXPECT_EQ(r[0].pmtPid, 0);
    EXPECT_TRUE(r[0].present.empty());
}

TEST(DecodeSdt, NamesAreBroadcastBytesAndComeFromTheServiceDescriptor) {
    ChannelList list;
    Bytes later = descriptor(0x5F, {0, 0, 0, 0x28});
    append(later, serviceDescriptor("\x05Prov", "Ch\xE9rie 25"));
    append(later, serviceDescriptor("second", "second"));
    // The longest name a 255-byte descriptor body can carry.
    const std::string longest(252, 'n');
    const Bytes section = sdt(1, 2,
                              {{0x10, later},
                               {0x11, {}},
                               {0x12, descriptor(0x48, {0x01, 0x09, 'x'})},
                               {0x13, serviceDescriptor("", longest)}});
    decodeSdt(list, section.data(), section.size(), 1);
    ChannelRecords r = list.snapshot();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].name, "Ch\xE9rie 25");
    EXPECT_EQ(r[0].group, "\x05Prov");
    EXPECT_TRUE(r[1].name.empty());
    EXPECT_EQ(r[1].sid, 0x11);
    EXPECT_TRUE(r[2].group.empty());
    EXPECT_EQ(r[3].name, longest);
}

TEST(DecodeSdt, LyingLengthsKeepEarlierServices) {
    ChannelList list;
    Bytes section =
        sdt(1, 2, {{0x10, serviceDescriptor("p", "A")}, {0x11, serviceDescriptor("p", "B")}});
    const std::size_t second = 11 + 5 + serviceDescriptor("p", "A").size();
    section[second + 3] = 0x8F;
    section[second + 4] = 0xFF;
    decodeSdt(list, section.data(), section.size(), 1);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.copyAt(0)->name, "A");

    const Bytes whole = sdt(1, 2, {{0x10, serviceDescriptor("p", "A")}});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        decodeSdt(list, cut.empty() ? nullptr : cut.data(), cut.size(), 1);
    }
    EXPECT_EQ(list.size(), 1u);
}

// A descriptor whose length runs past its service's loop, but not past the section, ends that
// loop only: the next service starts where the declared loop length says.
TEST(DecodeSdt, DescriptorRunningPastItsLoopKeepsLaterServices) {
    const struct {
        const char* what;
        Bytes loop;
        const char* name;
        const char* provider;
    } cases[] = {
        {"service descriptor then one reaching into the next entry",
         {0x48, 0x05, 0x01, 0x01, 'p', 0x01, 'A', 0x5F, 0x04, 0x00},
         "A",
         "p"},
        {"service descriptor itself two bytes too long",
         {0x48, 0x07, 0x01, 0x01, 'p', 0x01, 'A'},
         "A",
         "p"},
        {"a lone tag whose length byte belongs to the next entry", {0x5F}, "", ""},
    };
    for (const auto& c : cases) {
        ChannelList list;
        const Bytes section =
            sdt(4, 0x20FA, {{0x0101, c.loop}, {0x0102, serviceDescriptor("q", "B")}});
        decodeSdt(list, section.data(), section.size(), 474167);
        ChannelRecords r = list.snapshot();
        ASSERT_EQ(r.size(), 2u) << c.what;
        EXPECT_EQ(r[0].sid, 0x0101) << c.what;
        EXPECT_EQ(r[0].name, c.name) << c.what;
        EXPECT_EQ(r[0].group, c.provider) << c.what;
        EXPECT_EQ(r[1].sid, 0x0102) << c.what;
        EXPECT_EQ(r[1].name, "B") << c.what;
        EXPECT_EQ(r[1].group, "q") << c.what;
    }
}

TEST(DecodePat, EveryProgramFromByteEightExceptProgramZero) {
    ChannelList list;
    list.append(channel(0x0101, 4));
    list.append(channel(0x0102, 4));
    list.append(channel(0x0101, 5));
    list.append(channel(0x0103, 4));
    list.append(channel(0x0101, 4));
    const Bytes withNetwork = pat(4, {{0, 0x10}, {0x0101, 0x100}, {0x0102, 0x200}});
    decodePat(list, withNetwork.data(), withNetwork.size());
    ChannelRecords r = list.snapshot();
    EXPECT_EQ(r[0].pmtPid, 0x100);
    EXPECT_EQ(r[1].pmtPid, 0x200);
    EXPECT_EQ(r[2].pmtPid, 0);
    EXPECT_EQ(r[3].pmtPid, 0);
    EXPECT_EQ(r[4].pmtPid, 0x100);

    // Without a network entry the first program sits at bytes 8-11 and must not be lost.
    const Bytes withoutNetwork = pat(4, {{0x0103, 0x1FFF}, {0x0102, 0x210}});
    decodePat(list, withoutNetwork.data(), withoutNetwork.size());
    r = list.snapshot();
    EXPECT_EQ(r[3].pmtPid, 0x1FFF);
    EXPECT_EQ(r[1].pmtPid, 0x210);
}

TEST(DecodePat, EntriesMustEndBeforeTheCrc) {
    ChannelList list;
    list.append(channel(0x0101, 4));
    Bytes section = pat(4, {{0x0101, 0x100}});
    for (std::size_t n = 0; n < section.size(); ++n)
        decodePat(list, n ? section.data() : nullptr, n);
    EXPECT_EQ(list.copyAt(0)->pmtPid, 0);
    // An entry cut in half by the CRC: its PID bytes would be CRC bytes.
    Bytes cut = pat(4, {});
    cut.insert(cut.end() - 4, {0x01, 0x01});
    decodePat(list, cut.data(), cut.size());
    EXPECT_EQ(list.copyAt(0)->pmtPid, 0);
}
