#include "si/nit.h"
#include "si/nit_version.h"
#include "si_test_sections.h"

#include <gtest/gtest.h>

using namespace korvane;
using namespace si_test;

namespace {

ChannelInfo tv(int32_t sid, int32_t tsid, const char* name, int32_t video = 0x100) {
    ChannelInfo c = channel(sid, tsid);
    c.name.assign(name);
    c.videoPid = video;
    return c;
}

std::string names(const ChannelRecords& records) {
    std::string out;
    for (const ChannelInfo& c : records)
        out += std::string(c.name.view()) + ":" + std::to_string(c.number) + " ";
    return out;
}

} // namespace

TEST(LogicalChannelNumbers, DescriptorEntriesAndFlags) {
    ChannelRecords records{tv(0x0101, 4, "A"), tv(0x0102, 4, "B"), tv(0x0101, 5, "other ts"),
                           tv(0x0101, 4, "A twin")};
    records[2].onid = 0x20FA;
    Bytes descriptors = descriptor(0x83, {0x01, 0x01, 0xFC, 0x05});
    append(descriptors, descriptor(0x40, {'x'}));
    append(descriptors, lcnDescriptor({{0x0102, 0x3FF, 0x00}, {0x0103, 7}}));
    append(descriptors, descriptor(0x83, {}));
    const Bytes section =
        nit(0x20FA, {{4, 0x20FA, descriptors}, {6, 0x20FA, lcnDescriptor({{0x0101, 9}})}},
            descriptor(0x40, {'T', 'N', 'T'}));
    readLogicalChannelNumbers(records, section.data(), section.size());
    EXPECT_EQ(records[0].number, 5);
    EXPECT_EQ(records[1].number, 0x3FF);
    EXPECT_EQ(records[2].number, 0);
    EXPECT_EQ(records[3].number, 5);

    // A later listing of the same service wins; an odd trailing part of a body is ignored.
    const Bytes relisted = nit(1, {{4, 0x20FA, lcnDescriptor({{0x0101, 1}, {0x0101, 2}})},
                                   {4, 0x20FA, descriptor(0x83, {0x01, 0x02, 0xFC, 0x08, 0x01})}});
    readLogicalChannelNumbers(records, relisted.data(), relisted.size());
    EXPECT_EQ(records[0].number, 2);
    EXPECT_EQ(records[1].number, 8);
}

TEST(LogicalChannelNumbers, LyingLengthsEndTheWalk) {
    ChannelRecords records{tv(1, 4, "A"), tv(2, 4, "B")};
    Bytes section =
        nit(1, {{4, 0x20FA, lcnDescriptor({{1, 10}})}, {4, 0x20FA, lcnDescriptor({{2, 20}})}});
    // Second entry's transport_descriptors_length claims too much.
    const std::size_t second = 10 + 2 + 6 + 6;
    section[second + 4] = 0xFF;
    section[second + 5] = 0xFF;
    readLogicalChannelNumbers(records, section.data(), section.size());
    EXPECT_EQ(records[0].number, 10);
    EXPECT_EQ(records[1].number, 0);

    const Bytes whole = nit(1, {{4, 0x20FA, lcnDescriptor({{1, 11}, {2, 21}})}});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        readLogicalChannelNumbers(records, cut.empty() ? nullptr : cut.data(), cut.size());
    }
    EXPECT_EQ(records[0].number, 10);
}

// A descriptor whose length runs past its entry's loop, but not past the section, ends that
// entry only: the next entry starts where transport_descriptors_length says.
TEST(LogicalChannelNumbers, DescriptorRunningPastItsLoopKeepsLaterEntries) {
    const struct {
        const char* what;
        Bytes first;
        int32_t numberOf0102;
    } cases[] = {
        {"other descriptor reaching into the next entry", {0x41, 0x06, 1, 2, 3, 4}, 0},
        {"numbers before it stay", {0x83, 0x04, 0x01, 0x02, 0xFC, 0x07, 0x41, 0x06}, 7},
        {"a lone tag whose length byte belongs to the next entry", {0x41}, 0},
    };
    for (const auto& c : cases) {
        ChannelRecords records{tv(0x0101, 5, "A"), tv(0x0102, 4, "B")};
        const Bytes section =
            nit(0x20FA,
                {{4, 0x20FA, c.first}, {5, 0x20FA, descriptor(0x83, {0x01, 0x01, 0xFC, 0x05})}});
        readLogicalChannelNumbers(records, section.data(), section.size());
        EXPECT_EQ(records[0].number, 5) << c.what;
        EXPECT_EQ(records[1].number, c.numberOf0102) << c.what;
    }
}

TEST(LogicalChannelNumbers, RemovalKeepsOrderAndExaminesMovedRecords) {
    ChannelRecords records{tv(1, 4, "radio1", 0), tv(2, 4, "radio2", 0), tv(3, 4, "h264", 0),
                           tv(4, 4, "mpeg2"), tv(5, 4, "radio3", 0)};
    records[2].videoMpeg4Pid = 0x200;
    records[1].number = 3;
    removeChannelsWithoutVideo(records);
    EXPECT_EQ(names(records), "h264:0 mpeg2:0 ");
}

TEST(LogicalChannelNumbers, ApplyNumbersPrunesSortsAndReleases) {
    ChannelList list;
    list.append(tv(1, 4, "C"));
    list.append(tv(2, 4, "radio", 0));
    list.append(tv(3, 4, "A"));
    list.append(tv(4, 4, "B"));
    list.append(tv(5, 4, "unnumbered"));
    Bytes section = nit(1, {{4, 0x20FA, lcnDescriptor({{1, 3}, {2, 4}, {3, 1}, {4, 2}})}});
    applyLogicalChannelNumbers(list, section);
    EXPECT_TRUE(section.empty());
    EXPECT_EQ(names(list.snapshot()), "unnumbered:0 A:1 B:2 C:3 ");

    std::vector<uint8_t> none;
    list.append(tv(9, 4, "radio late", 0));
    applyLogicalChannelNumbers(list, none);
    EXPECT_EQ(list.size(), 5u);
}

TEST(LogicalChannelNumbers, SetChannelNumberMatchesAllThreeIdentifiers) {
    ChannelRecords records{tv(1, 4, "a"), tv(1, 4, "b"), tv(1, 5, "c")};
    records[1].onid = 1;
    setChannelNumber(records, 0x20FA, 4, 1, 12);
    EXPECT_EQ(names(records), "a:12 b:0 c:0 ");
}

namespace {

// A NIT of network 0x20FA (or another) with a version and current_next_indicator of choice.
Bytes nitVersion(unsigned version, unsigned networkId = 0x20FA, bool current = true) {
    Bytes section = nit(networkId, {{4, 0x20FA, lcnDescriptor({{0x0101, 1}})}});
    section.resize(section.size() - 4);
    section[5] = static_cast<uint8_t>(0xC0 | ((version & 0x1F) << 1) | (current ? 1 : 0));
    return finish(section);
}

Bytes withBadCrc(Bytes section) {
    section.back() ^= 0x01;
    return section;
}

Bytes asTable(Bytes section, uint8_t tableId) {
    section.resize(section.size() - 4);
    section[0] = tableId;
    return finish(section);
}

} // namespace

// The offer of a new scan comes once, on the first NIT in force whose version differs from
// the first one seen of the same network; other tables, broken sections and versions
// announced ahead change nothing.
TEST(NitVersionWatch, TellsOnceOfANewVersionOfAKnownNetwork) {
    const struct {
        const char* what;
        std::vector<Bytes> sections;
        std::vector<bool> told;
    } cases[] = {
        {"same version again", {nitVersion(3), nitVersion(3), nitVersion(3)}, {0, 0, 0}},
        {"renumbering", {nitVersion(3), nitVersion(3), nitVersion(4)}, {0, 0, 1}},
        {"told once only",
         {nitVersion(3), nitVersion(4), nitVersion(5), nitVersion(3)},
         {0, 1, 0, 0}},
        {"networks apart",
         {nitVersion(3, 1), nitVersion(7, 2), nitVersion(7, 2), nitVersion(4, 1)},
         {0, 0, 0, 1}},
        {"next version announced ahead", {nitVersion(3), nitVersion(4, 0x20FA, false)}, {0, 0}},
        {"bad CRC", {nitVersion(3), withBadCrc(nitVersion(4)), nitVersion(3)}, {0, 0, 0}},
        {"other network's NIT is not watched",
         {nitVersion(3), asTable(nitVersion(4), 0x41)},
         {0, 0}},
        {"version wraps", {nitVersion(31), nitVersion(0)}, {0, 1}},
    };
    for (const auto& c : cases) {
        NitVersionWatch watch;
        ASSERT_EQ(c.sections.size(), c.told.size()) << c.what;
        for (std::size_t i = 0; i < c.sections.size(); ++i)
            EXPECT_EQ(watch.versionChanged(c.sections[i].data(), c.sections[i].size()), c.told[i])
                << c.what << " #" << i;
    }
}

TEST(NitVersionWatch, CutSectionsAreIgnored) {
    NitVersionWatch watch;
    const Bytes first = nitVersion(1);
    ASSERT_FALSE(watch.versionChanged(first.data(), first.size()));
    const Bytes changed = nitVersion(2);
    for (std::size_t n = 0; n < changed.size(); ++n)
        EXPECT_FALSE(watch.versionChanged(n ? changed.data() : nullptr, n)) << n;
    EXPECT_TRUE(watch.versionChanged(changed.data(), changed.size()));
}
