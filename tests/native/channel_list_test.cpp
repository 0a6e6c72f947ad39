#include "channels/channel_list.h"

#include <gtest/gtest.h>

#include <string>

using namespace korvane;

namespace {

ChannelInfo record(const char* name, int32_t number, int32_t sid = 0) {
    ChannelInfo c;
    c.name.assign(name);
    c.number = number;
    c.sid = sid;
    return c;
}

std::string names(const ChannelRecords& records) {
    std::string out;
    for (auto& r : records)
        out += std::string(r.name.view());
    return out;
}

} // namespace

TEST(FixedText, KeepsAtMostCapacityBytesAndZeroFillsTheRest) {
    FixedText<8> t;
    t.assign("abcdefghijk");
    EXPECT_EQ(t.view(), "abcdefg");
    t.assign("xy");
    EXPECT_EQ(t.view(), "xy");
    for (std::size_t i = 2; i < 8; ++i)
        EXPECT_EQ(t.bytes[i], 0) << i;
    t.assign(std::string_view("a\0b", 3));
    EXPECT_EQ(t.view(), "a");
}

TEST(ChannelRecord, NewRecordIsZeroFilled) {
    ChannelInfo c;
    EXPECT_TRUE(c.name.empty());
    EXPECT_TRUE(c.group.empty());
    EXPECT_EQ(c.pmtPid, 0);
    EXPECT_TRUE(c.present.empty());
    EXPECT_TRUE(c.following.empty());
    EXPECT_EQ(sizeof(c.name.bytes), 256u);
    EXPECT_EQ(sizeof(c.present.startText.bytes), 32u);
}

TEST(SortChannelsByNumber, ExchangeSortIsNotStable) {
    ChannelRecords r{record("A", 2), record("B", 2), record("C", 1)};
    sortChannelsByNumber(r);
    EXPECT_EQ(names(r), "CBA");

    ChannelRecords r2{record("A", 5), record("B", 5), record("C", 3)};
    sortChannelsByNumber(r2);
    EXPECT_EQ(names(r2), "CBA");

    ChannelRecords r3{record("c", 3), record("a", 1), record("b", 2), record("z", 0),
                      record("n", -4)};
    sortChannelsByNumber(r3);
    EXPECT_EQ(names(r3), "nzabc");

    // Only a smaller number moves a record: two equal ones keep their order.
    ChannelRecords equal{record("A", 1), record("B", 1)};
    sortChannelsByNumber(equal);
    EXPECT_EQ(names(equal), "AB");
}

TEST(SortChannelsByNumber, GivesTheOrderOfExchangingWholeRecordsOnALongListWithTies) {
    ChannelRecords records;
    uint32_t seed = 12345;
    for (int i = 0; i < 600; ++i) {
        seed = seed * 1103515245u + 12345u;
        records.push_back(record(std::to_string(i).c_str(),
                                 static_cast<int32_t>((seed >> 16) % 40) - 5,
                                 static_cast<int32_t>(i)));
    }
    ChannelRecords expected = records;
    for (std::size_t i = 0; i + 1 < expected.size(); ++i)
        for (std::size_t j = i + 1; j < expected.size(); ++j)
            if (expected[j].number < expected[i].number)
                std::swap(expected[i], expected[j]);
    sortChannelsByNumber(records);
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].sid, expected[i].sid) << i;
        EXPECT_EQ(records[i].name.view(), expected[i].name.view()) << i;
    }
}

TEST(ChannelLookups, ReturnTheFirstMatchInListOrder) {
    ChannelRecords r{record("TF1", 1, 0x101), record("Arte", 7, 0x102), record("Arte", 7, 0x101)};
    EXPECT_EQ(findChannelByNumber(r, 7), 1u);
    EXPECT_FALSE(findChannelByNumber(r, 9));
    EXPECT_EQ(findChannelByName(r, "Arte"), 1u);
    EXPECT_FALSE(findChannelByName(r, "Art"));
    EXPECT_FALSE(findChannelByName(r, "arte"));
    EXPECT_EQ(findChannelBySid(r, 0x101), 0u);
}

TEST(ChannelList, EraseKeepsOrderAndCurrentIndexStartsUnset) {
    ChannelList list;
    EXPECT_EQ(list.currentIndex(), -1);
    EXPECT_FALSE(list.copyCurrent());
    for (const char* n : {"A", "B", "C", "D"})
        list.append(record(n, 0));
    list.eraseAt(1);
    EXPECT_EQ(names(list.snapshot()), "ACD");
    list.eraseAt(7); // out of range: nothing
    EXPECT_EQ(list.size(), 3u);
    list.setCurrentIndex(2);
    ASSERT_TRUE(list.copyCurrent());
    EXPECT_EQ(list.copyCurrent()->name, "D");
    {
        auto access = list.lock();
        access.current()->number = 42;
        access.setCurrentIndex(3);
        EXPECT_EQ(access.current(), nullptr);
    }
    EXPECT_EQ(list.copyAt(2)->number, 42);
    EXPECT_FALSE(list.copyAt(3));
}
