#include "si/eit.h"
#include "si/nit.h"
#include "si/pat.h"
#include "si/sdt.h"
#include "si_test_sections.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace korvane;
using si_test::Bytes;

// A section is parsed into a value with no channel list; applying the value is the only
// step that touches the list.

TEST(ParseSdt, ServicesBeforeABrokenDescriptorWithTheirNames) {
    const Bytes section = si_test::sdt(4, 0x20FA,
                                       {{0x101, si_test::serviceDescriptor("GR1", "A")},
                                        {0x102, si_test::descriptor(0x48, {0x01, 0x09, 'x'})},
                                        {0x103, {0x48, 0x10}}});
    const SdtTable table = parseSdt(section.data(), section.size());
    EXPECT_EQ(table.tsid, 4);
    EXPECT_EQ(table.onid, 0x20FA);
    ASSERT_EQ(table.services.size(), 2u);
    EXPECT_EQ(table.services[0].sid, 0x101);
    EXPECT_EQ(table.services[0].provider, "GR1");
    EXPECT_EQ(table.services[0].name, "A");
    EXPECT_EQ(table.services[1].sid, 0x102);
    EXPECT_TRUE(table.services[1].provider.empty());

    ChannelList list;
    list.append(si_test::channel(0x999));
    applySdt(list, table, 474167);
    const ChannelRecords r = list.snapshot();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].sid, 0x999);
    EXPECT_EQ(r[1].group, "GR1");
    EXPECT_EQ(r[2].frequency, 474167);
    EXPECT_EQ(r[2].onid, 0x20FA);
}

TEST(ParsePat, ProgramsInOrderAndTheLastOneForAServiceWins) {
    const Bytes section =
        si_test::pat(7, {{0, 0x10}, {0x101, 0x100}, {0x102, 0x200}, {0x101, 0x300}});
    const PatTable table = parsePat(section.data(), section.size());
    EXPECT_EQ(table.tsid, 7);
    ASSERT_EQ(table.programs.size(), 3u);
    EXPECT_EQ(table.programs[1].program, 0x102);
    EXPECT_EQ(table.programs[1].pmtPid, 0x200);

    ChannelList list;
    const std::vector<std::pair<int32_t, int32_t>> services = {{0x101, 7}, {0x101, 8}, {0x102, 7}};
    for (auto [sid, tsid] : services)
        list.append(si_test::channel(sid, tsid));
    applyPat(list, table);
    const ChannelRecords r = list.snapshot();
    EXPECT_EQ(r[0].pmtPid, 0x300);
    EXPECT_EQ(r[1].pmtPid, 0) << "another transport stream";
    EXPECT_EQ(r[2].pmtPid, 0x200);
}

TEST(ParseNit, NumbersBeforeABrokenDescriptorWithTheirTransportStream) {
    Bytes second = si_test::lcnDescriptor({{0x201, 3}});
    si_test::append(second, {0x83, 0x40});
    const Bytes section =
        si_test::nit(0x20FA, {{1, 0x20FA, si_test::lcnDescriptor({{0x101, 1}, {0x102, 1000}})},
                              {2, 0x20FA, second},
                              {3, 0x20FA, si_test::lcnDescriptor({{0x301, 4}})}});
    const NitTable table = parseNit(section.data(), section.size());
    ASSERT_EQ(table.numbers.size(), 3u);
    EXPECT_EQ(table.numbers[1].tsid, 1);
    EXPECT_EQ(table.numbers[1].sid, 0x102);
    EXPECT_EQ(table.numbers[1].number, 1000);
    EXPECT_EQ(table.numbers[2].onid, 0x20FA);
    EXPECT_EQ(table.numbers[2].tsid, 2);
    EXPECT_EQ(table.numbers[2].number, 3);
}

TEST(ParseEit, DropsUndefinedStartsAndMarksMalformedEvents) {
    si_test::EitEvent good;
    good.hour = 0x20;
    good.descriptors = si_test::shortEvent("Titre", "Texte");
    si_test::EitEvent undefined = good;
    undefined.hour = 0xFF;
    si_test::EitEvent broken = good;
    broken.hour = 0x21;
    broken.descriptors = si_test::descriptor(0x4D, {'f', 'r', 'e', 0x40});
    const Bytes section = si_test::eit(0x101, {good, undefined, broken});
    const FixedOffsetTimeConverter clock{60};

    const auto parsed = parseEit(section.data(), section.size(), clock);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sid, 0x101);
    ASSERT_EQ(parsed->events.size(), 2u);
    ASSERT_TRUE(parsed->events[0].slot);
    EXPECT_EQ(parsed->events[0].slot->startText, "21:45:00");
    EXPECT_EQ(parsed->events[0].slot->title, "Titre");
    EXPECT_EQ(parsed->events[0].slot->startTime, parsed->events[0].start);
    EXPECT_FALSE(parsed->events[1].slot);
    EXPECT_EQ(parsed->events[1].start - parsed->events[0].start, 3600ull * 10'000'000);
    EXPECT_FALSE(parseEit(section.data(), 18, clock)) << "no room for an event";
}

TEST(StoreEitEvents, AMalformedEventEndsTheWalkOnlyWhenItIsNew) {
    auto slot = [](FileTime start) {
        EpgEvent e;
        e.startTime = start;
        e.latest = 1;
        return e;
    };
    struct Case {
        const char* what;
        std::vector<EitEntry> events;
        int stored;
        FileTime following;
    };
    const Case cases[] = {
        {"held, then new", {{100, std::nullopt}, {300, slot(300)}}, 1, 300},
        {"new and malformed, then new", {{300, std::nullopt}, {400, slot(400)}}, 0, 200},
    };
    for (const Case& c : cases) {
        ChannelInfo channel;
        channel.present = slot(100);
        channel.present.latest = 0;
        channel.following = slot(200);
        EXPECT_EQ(storeEitEvents(channel, EitSection{1, c.events}), c.stored) << c.what;
        EXPECT_EQ(channel.present.startTime, 100u) << c.what;
        EXPECT_EQ(channel.following.startTime, c.following) << c.what;
    }
}

TEST(ApplyEit, CountsNewEventsOnlyForTheWatchedChannel) {
    ChannelList list;
    list.append(si_test::channel(0x101));
    list.append(si_test::channel(0x102));
    list.setCurrentIndex(1);
    EpgEvent event;
    event.startTime = 500;
    auto section = [&](int32_t sid) { return EitSection{sid, {{500, event}}}; };

    EXPECT_EQ(applyEit(list, section(0x999)), 0);
    EXPECT_EQ(applyEit(list, section(0x101)), 0);
    EXPECT_EQ(list.copyAt(0)->present.startTime, 500u) << "stored though not watched";
    EXPECT_EQ(applyEit(list, section(0x102)), 1);
    EXPECT_EQ(applyEit(list, section(0x102)), 0) << "already held";
}
