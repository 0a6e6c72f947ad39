#include "si/eit.h"
#include "si_test_sections.h"

#include <gtest/gtest.h>

using namespace korvane;
using namespace si_test;

namespace {

EitEvent at(uint8_t hour, uint8_t minute, const std::string& title = "") {
    EitEvent e;
    e.hour = hour;
    e.minute = minute;
    e.second = 0;
    e.durationHours = 0x00;
    e.durationMinutes = 0x30;
    e.durationSeconds = 0x00;
    if (!title.empty())
        e.descriptors = shortEvent(title, title + " (texte)");
    return e;
}

struct Guide : ::testing::Test {
    ChannelList list;
    CountingNotifier notifier;
    FixedOffsetTimeConverter clock{60};

    void SetUp() override {
        list.append(channel(0x101));
        list.append(channel(0x102));
    }
    void feed(const Bytes& section) {
        decodeEit(list, notifier, clock, section.data(), section.size());
    }
    void feed(unsigned sid, const EitEvent& e) { feed(eit(sid, {e})); }
    ChannelInfo at0() { return *list.copyAt(0); }
};

} // namespace

TEST(MjdToDate, BroadcastConversion) {
    auto d = mjdToDate(0xC079);
    EXPECT_EQ(d.year, 1993);
    EXPECT_EQ(d.month, 10);
    EXPECT_EQ(d.day, 13);
    // Every day from 1900-03-01 to the end of the 16-bit range agrees with the calendar.
    const FileTime mjdEpoch = *fileTimeFromDateTime({1858, 11, 17, 0, 0, 0});
    for (unsigned mjd = 15079; mjd <= 0xFFFF; ++mjd) {
        auto expected = dateTimeFromFileTime(mjdEpoch + FileTime{mjd} * 86400 * 10'000'000);
        ASSERT_TRUE(expected);
        d = mjdToDate(static_cast<uint16_t>(mjd));
        ASSERT_EQ(d.year, expected->year) << mjd;
        ASSERT_EQ(d.month, expected->month) << mjd;
        ASSERT_EQ(d.day, expected->day) << mjd;
    }
}

TEST(CopyDvbText, SelectorByteAndTerminator) {
    FixedText<256> out;
    const uint8_t latin[] = {0x05, 'E', 't', 0xE9};
    copyDvbText(latin, sizeof latin, out);
    EXPECT_EQ(out, "Et\xE9");
    const uint8_t other[] = {0x10, 0x00, 0x01, 'A'};
    copyDvbText(other, 1, out);
    EXPECT_EQ(out.bytes[0], 0x10);
    EXPECT_EQ(out.bytes[1], 0);
    const uint8_t selectorOnly[] = {0x05};
    copyDvbText(selectorOnly, 1, out);
    EXPECT_TRUE(out.empty());
    std::vector<uint8_t> longest(255, 'x');
    copyDvbText(longest.data(), longest.size(), out);
    EXPECT_EQ(out.length(), 255u);
    EXPECT_EQ(out.bytes[255], 0);
}

TEST_F(Guide, StartAndEndTextsAreLocalClockTimes) {
    EitEvent e = at(0x12, 0x45, "Journal");
    e.durationHours = 0x01;
    e.durationMinutes = 0x45;
    e.durationSeconds = 0x30;
    feed(0x101, e);
    const EpgEvent& present = at0().present;
    EXPECT_EQ(present.startTime, *fileTimeFromDateTime({1993, 10, 13, 12, 45, 0}));
    EXPECT_EQ(present.startText, "13:45:00");
    EXPECT_EQ(present.endText, "15:30:30");
    EXPECT_EQ(present.endTime, *fileTimeFromDateTime({1993, 10, 13, 14, 30, 30}));
    EXPECT_TRUE(present.hasEnd());
    EXPECT_EQ(present.title, "Journal");
    EXPECT_EQ(present.description, "Journal (texte)");
    EXPECT_EQ(present.latest, 1);
    EXPECT_TRUE(at0().following.empty());

    // Zero-padded: 00:05:09 local from 23:05:09 UTC.
    EitEvent night = at(0x23, 0x05);
    night.second = 0x09;
    night.durationMinutes = 0x00;
    feed(0x102, night);
    EXPECT_EQ(list.copyAt(1)->present.startText, "00:05:09");
    EXPECT_EQ(list.copyAt(1)->present.endText, "00:05:09");
    // A zero duration is a known end, equal to the start.
    EXPECT_EQ(list.copyAt(1)->present.endTime, list.copyAt(1)->present.startTime);
}

TEST_F(Guide, SameSectionTwiceStoresOnceAndOnlyMovesFlags) {
    list.setCurrentIndex(0);
    const Bytes section = eit(0x101, {at(0x20, 0x00, "A"), at(0x20, 0x30, "B")});
    feed(section);
    EXPECT_EQ(notifier.guideUpdates, 2);
    ChannelInfo c = at0();
    EXPECT_EQ(c.present.title, "A");
    EXPECT_EQ(c.following.title, "B");
    EXPECT_EQ(c.present.latest, 0);
    EXPECT_EQ(c.following.latest, 1);

    feed(eit(0x101, {at(0x20, 0x00, "changed")}));
    c = at0();
    EXPECT_EQ(c.present.title, "A");
    EXPECT_EQ(c.present.latest, 1);
    EXPECT_EQ(c.following.latest, 0);
    feed(section);
    EXPECT_EQ(notifier.guideUpdates, 2);
    EXPECT_EQ(at0().following.latest, 1);
}

TEST_F(Guide, ThirdEventDisplacesTheSlotNotSeenLast) {
    feed(0x101, at(0x20, 0x00, "A"));
    feed(0x101, at(0x20, 0x30, "B"));
    feed(0x101, at(0x20, 0x00, "A")); // A seen last
    feed(0x101, at(0x21, 0x00, "C"));
    ChannelInfo c = at0();
    EXPECT_EQ(c.present.title, "A");
    EXPECT_EQ(c.following.title, "C");

    feed(0x102, at(0x20, 0x00, "A"));
    feed(0x102, at(0x20, 0x30, "B")); // B seen last
    feed(0x102, at(0x21, 0x00, "C"));
    c = *list.copyAt(1);
    EXPECT_EQ(c.present.title, "B");
    EXPECT_EQ(c.following.title, "C");
    EXPECT_LT(c.present.startTime, c.following.startTime);
}

TEST_F(Guide, DisplacedPairIsPutBackInStartOrder) {
    feed(0x101, at(0x20, 0x00, "A"));
    feed(0x101, at(0x20, 0x30, "B"));
    feed(0x101, at(0x19, 0x00, "Earlier")); // B was latest: A is displaced, then sorted
    ChannelInfo c = at0();
    EXPECT_EQ(c.present.title, "Earlier");
    EXPECT_EQ(c.following.title, "B");
    EXPECT_EQ(c.present.latest, 1);
    EXPECT_EQ(c.following.latest, 0);
}

TEST_F(Guide, EarlierEventMovesPresentToFollowing) {
    feed(0x101, at(0x20, 0x30, "B"));
    feed(0x101, at(0x20, 0x00, "A"));
    ChannelInfo c = at0();
    EXPECT_EQ(c.present.title, "A");
    EXPECT_EQ(c.present.latest, 1);
    EXPECT_EQ(c.following.title, "B");
    EXPECT_EQ(c.following.latest, 0);
}

TEST_F(Guide, ShortEventDescriptors) {
    EitEvent selector = at(0x20, 0x00);
    selector.descriptors = shortEvent("\x05Soir\xE9"
                                      "e",
                                      "\x10raw");
    feed(0x101, selector);
    EXPECT_EQ(at0().present.title, "Soir\xE9"
                                   "e");
    EXPECT_EQ(at0().present.description, "\x10raw");

    EitEvent two = at(0x21, 0x00);
    two.descriptors = shortEvent("Film", "Un film", "fre");
    append(two.descriptors, descriptor(0x54, {0x10, 0x00}));
    append(two.descriptors, shortEvent("Movie", "A movie", "eng"));
    feed(0x102, two);
    EXPECT_EQ(list.copyAt(1)->present.title, "Movie");
    EXPECT_EQ(list.copyAt(1)->present.description, "A movie");

    feed(0x102, at(0x22, 0x00));
    EXPECT_TRUE(list.copyAt(1)->following.title.empty());
    EXPECT_TRUE(list.copyAt(1)->following.description.empty());
    EXPECT_FALSE(list.copyAt(1)->following.empty());
}

TEST_F(Guide, OnlyTheFirstChannelWithTheServiceIdReceivesEvents) {
    list.append(channel(0x101, 9, 9));
    list.setCurrentIndex(2);
    feed(eit(0x101, {at(0x20, 0x00, "A")}, 0x4F));
    EXPECT_EQ(at0().present.title, "A");
    EXPECT_TRUE(list.copyAt(2)->present.empty());
    EXPECT_EQ(notifier.guideUpdates, 0);

    feed(0x999, at(0x20, 0x00, "nobody"));
    for (std::size_t i = 0; i < list.size(); ++i)
        EXPECT_NE(list.copyAt(i)->present.title, "nobody");
}

TEST_F(Guide, OnePostPerNewEventOfTheWatchedChannel) {
    list.setCurrentIndex(1);
    feed(eit(0x101, {at(0x20, 0x00, "A"), at(0x20, 0x30, "B")}));
    EXPECT_EQ(notifier.guideUpdates, 0);
    feed(eit(0x102, {at(0x20, 0x00, "A"), at(0x20, 0x30, "B")}));
    EXPECT_EQ(notifier.guideUpdates, 2);
    feed(eit(0x102, {at(0x20, 0x30, "B"), at(0x21, 0x00, "C")}));
    EXPECT_EQ(notifier.guideUpdates, 3);
}

TEST_F(Guide, UndefinedOrImpossibleStartIsNotStored) {
    EitEvent undefined = at(0x20, 0x00, "undefined");
    undefined.mjd = 0xFFFF;
    undefined.hour = undefined.minute = undefined.second = 0xFF;
    EitEvent badBcd = at(0x2A, 0x00, "bad bcd");
    EitEvent badHour = at(0x24, 0x00, "hour 24");
    EitEvent beforeCalendar = at(0x20, 0x00, "mjd 0");
    beforeCalendar.mjd = 0;
    list.setCurrentIndex(0);
    feed(eit(0x101, {undefined, badBcd, badHour, beforeCalendar, at(0x20, 0x00, "ok")}));
    ChannelInfo c = at0();
    EXPECT_EQ(c.present.title, "ok");
    EXPECT_TRUE(c.following.empty());
    EXPECT_EQ(notifier.guideUpdates, 1);

    // An undefined duration keeps the event but invents no end.
    EitEvent noDuration = at(0x21, 0x00, "open");
    noDuration.durationHours = noDuration.durationMinutes = noDuration.durationSeconds = 0xFF;
    feed(0x101, noDuration);
    EXPECT_EQ(at0().following.title, "open");
    EXPECT_EQ(at0().following.startText, "22:00:00");
    EXPECT_TRUE(at0().following.endText.empty());
    EXPECT_FALSE(at0().following.hasEnd());
}

TEST_F(Guide, LyingLengthsEndTheSectionKeepingEarlierEvents) {
    list.setCurrentIndex(0);
    Bytes section = eit(0x101, {at(0x20, 0x00, "A"), at(0x20, 0x30, "B")});
    // The second event's loop length claims more than the section holds.
    const std::size_t second = 14 + 12 + shortEvent("A", "A (texte)").size();
    section[second + 10] = 0xFF;
    section[second + 11] = 0xFF;
    feed(section);
    EXPECT_EQ(at0().present.title, "A");
    EXPECT_TRUE(at0().following.empty());
    EXPECT_EQ(notifier.guideUpdates, 1);

    // A short event whose name length runs past its descriptor.
    EitEvent bad = at(0x21, 0x00);
    bad.descriptors = shortEvent("Titre", "Texte");
    bad.descriptors[5] = 200;
    feed(0x102, bad);
    EXPECT_TRUE(list.copyAt(1)->present.empty());

    // A descriptor length past the event's loop.
    EitEvent overrun = at(0x21, 0x00);
    overrun.descriptors = {0x4D, 0x30, 'f', 'r', 'e', 0, 0};
    feed(0x102, overrun);
    EXPECT_TRUE(list.copyAt(1)->present.empty());

    // Sections cut anywhere never read past their end.
    const Bytes whole = eit(0x102, {at(0x20, 0x00, "A"), at(0x20, 0x30, "B")});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        decodeEit(list, notifier, clock, cut.empty() ? nullptr : cut.data(), cut.size());
    }
}

// A descriptor whose length runs past its event's loop, but not past the section, ends that
// loop only: the event is kept and the next one starts where descriptors_loop_length says.
TEST_F(Guide, DescriptorRunningPastItsLoopKeepsTheEventAndLaterOnes) {
    Bytes trailing = shortEvent("A", "a");
    append(trailing, {0x5F, 0x04, 0x00});
    Bytes longShortEvent = shortEvent("A", "a");
    longShortEvent[1] += 2;
    const struct {
        const char* what;
        Bytes loop;
    } cases[] = {
        {"other descriptor reaching into the next event", trailing},
        {"short event descriptor two bytes too long", longShortEvent},
        {"a lone tag whose length byte belongs to the next event", {0x5F}},
        // The text length is the next event's first byte (0): the texts are read from the
        // section, the descriptor's own length notwithstanding.
        {"short event descriptor whose text length lies past it",
         {0x4D, 0x05, 'f', 'r', 'e', 0x01, 'A'}},
    };
    list.setCurrentIndex(0);
    for (const auto& c : cases) {
        list.lock().at(0) = channel(0x101);
        notifier.guideUpdates = 0;
        EitEvent first = at(0x20, 0x00);
        first.descriptors = c.loop;
        feed(eit(0x101, {first, at(0x20, 0x30, "B")}));
        ChannelInfo ch = at0();
        EXPECT_EQ(ch.present.startText.view(), "21:00:00") << c.what;
        EXPECT_EQ(ch.present.title.view(), c.loop.size() > 1 ? "A" : "") << c.what;
        EXPECT_EQ(ch.following.title.view(), "B") << c.what;
        EXPECT_EQ(notifier.guideUpdates, 2) << c.what;

        // Repeated events move the latest flags whatever their loops hold; a new third
        // event after them is stored.
        EitEvent repeated = at(0x20, 0x30);
        repeated.descriptors = c.loop;
        feed(eit(0x101, {repeated, at(0x20, 0x00), at(0x21, 0x00, "C")}));
        ch = at0();
        EXPECT_EQ(ch.present.title.view(), c.loop.size() > 1 ? "A" : "") << c.what;
        EXPECT_EQ(ch.following.title.view(), "C") << c.what;
        EXPECT_EQ(notifier.guideUpdates, 3) << c.what;
    }
}

TEST_F(Guide, SectionWithoutEventsChangesNothing) {
    list.setCurrentIndex(0);
    feed(eit(0x101, {}));
    EXPECT_TRUE(at0().present.empty());
    EXPECT_EQ(notifier.guideUpdates, 0);
}

TEST(StoreEvent, SlotRulesOnBareRecords) {
    ChannelInfo c;
    EpgEvent a, b, d;
    a.startTime = 100;
    a.latest = 1;
    b.startTime = 200;
    b.latest = 1;
    d.startTime = 300;
    d.latest = 1;
    storeEvent(c, b);
    EXPECT_EQ(c.present.startTime, 200u);
    EXPECT_TRUE(c.following.empty());
    storeEvent(c, d);
    EXPECT_EQ(c.present.latest, 0);
    EXPECT_EQ(c.following.startTime, 300u);
    // Following was latest: present (200) is replaced by 100, order kept.
    storeEvent(c, a);
    EXPECT_EQ(c.present.startTime, 100u);
    EXPECT_EQ(c.following.startTime, 300u);
    EXPECT_EQ(c.following.latest, 0);
    // Present latest: following replaced by 50, then swapped into place.
    EpgEvent early;
    early.startTime = 50;
    early.latest = 1;
    storeEvent(c, early);
    EXPECT_EQ(c.present.startTime, 50u);
    EXPECT_EQ(c.following.startTime, 100u);
    EXPECT_EQ(c.present.latest, 1);
}
