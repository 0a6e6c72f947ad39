#include "common/time_convert.h"

#include <gtest/gtest.h>

using namespace korvane;

namespace {
constexpr FileTime kSecond = 10'000'000;
}

TEST(TimeConvert, KnownFileTimeCounts) {
    EXPECT_EQ(fileTimeFromDateTime({1601, 1, 1, 0, 0, 0}), FileTime{0});
    EXPECT_EQ(fileTimeFromDateTime({1970, 1, 1, 0, 0, 0}), FileTime{116444736000000000});
    EXPECT_EQ(fileTimeFromDateTime({2000, 3, 1, 0, 0, 1}),
              *fileTimeFromDateTime({2000, 2, 29, 23, 59, 59}) + 2 * kSecond);
    auto t = dateTimeFromFileTime(116444736000000000 + 86399 * kSecond);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 1970);
    EXPECT_EQ(t->day, 1);
    EXPECT_EQ(t->hour, 23);
    EXPECT_EQ(t->second, 59);
}

TEST(TimeConvert, RoundTripAcrossLeapDaysAndCenturies) {
    for (int year : {1601, 1700, 1858, 1900, 1999, 2000, 2024, 2038, 2100, 2400})
        for (int month = 1; month <= 12; ++month)
            for (int day : {1, 28, 29, 30, 31}) {
                DateTime in{year, month, day, 13, 7, 42};
                auto ft = fileTimeFromDateTime(in);
                ASSERT_EQ(ft.has_value(), isValidDateTime(in))
                    << year << "-" << month << "-" << day;
                if (!ft)
                    continue;
                auto out = dateTimeFromFileTime(*ft);
                ASSERT_TRUE(out);
                EXPECT_EQ(out->year, year);
                EXPECT_EQ(out->month, month);
                EXPECT_EQ(out->day, day);
                EXPECT_EQ(out->hour, 13);
                EXPECT_EQ(out->minute, 7);
                EXPECT_EQ(out->second, 42);
            }
}

TEST(TimeConvert, ImpossibleDatesConvertToNothing) {
    EXPECT_FALSE(fileTimeFromDateTime({1900, 2, 29, 0, 0, 0}));
    EXPECT_TRUE(fileTimeFromDateTime({2000, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 4, 31, 0, 0, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 13, 1, 0, 0, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 1, 1, 24, 0, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 1, 1, 0, 60, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 1, 1, 0, 0, 60}));
    EXPECT_FALSE(fileTimeFromDateTime({2023, 1, 1, -1, 0, 0}));
    EXPECT_FALSE(fileTimeFromDateTime({1600, 12, 31, 23, 59, 59}));
    EXPECT_FALSE(dateTimeFromFileTime(~FileTime{0}));
}

TEST(TimeConvert, FixedOffsetShiftsLocalTimeAcrossMidnight) {
    FixedOffsetTimeConverter paris(120);
    auto utc = paris.utcToFileTime({2024, 6, 30, 23, 15, 0});
    ASSERT_TRUE(utc);
    auto local = paris.fileTimeToLocal(*utc);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->month, 7);
    EXPECT_EQ(local->day, 1);
    EXPECT_EQ(local->hour, 1);
    EXPECT_EQ(local->minute, 15);

    FixedOffsetTimeConverter west(-300);
    EXPECT_FALSE(west.fileTimeToLocal(0));
    EXPECT_EQ(west.fileTimeToLocal(*utc)->hour, 18);
}

namespace {
// Forwards only the UTC-to-local direction, so that localToUtc is the base class's own.
struct ForwardingClock : TimeConverter {
    explicit ForwardingClock(const TimeConverter& inner) : inner(inner) {}
    std::optional<FileTime> utcToFileTime(const DateTime& utc) const override {
        return inner.utcToFileTime(utc);
    }
    std::optional<DateTime> fileTimeToLocal(FileTime utc) const override {
        return inner.fileTimeToLocal(utc);
    }
    const TimeConverter& inner;
};
} // namespace

// Local wall clock to UTC, with the zone's own rule and with the base class's rule over the
// zone's offsets: both must agree, also in the hour the clock skips and the hour it repeats.
TEST(TimeConvert, LocalWallClockToUtc) {
    const FixedOffsetTimeConverter paris{60};
    const FixedOffsetTimeConverter newYork{-300};
    const RuleTimeConverter cet = RuleTimeConverter::centralEuropean();
    // UTC+10, UTC+11 from the first Sunday of October 02:00 to the first Sunday of April 03:00.
    const RuleTimeConverter sydney(600, 660, {10, 1, 0, 120}, {4, 1, 0, 180});
    struct Case {
        const TimeConverter& clock;
        DateTime local;
        std::optional<DateTime> utc;
        bool skipped = false; // in the hour the clock skips: reads back as the gap's end
    };
    const Case cases[] = {
        {paris, {2026, 12, 24, 20, 55, 0}, DateTime{2026, 12, 24, 19, 55, 0}},
        {newYork, {2026, 12, 31, 22, 0, 0}, DateTime{2027, 1, 1, 3, 0, 0}},
        {paris, {2026, 2, 30, 20, 0, 0}, std::nullopt},
        {cet, {2026, 1, 15, 12, 0, 0}, DateTime{2026, 1, 15, 11, 0, 0}},
        {cet, {2026, 7, 15, 12, 0, 0}, DateTime{2026, 7, 15, 10, 0, 0}},
        // 2026-03-29: 02:00 to 03:00 does not exist and starts at 03:00 (01:00 UTC).
        {cet, {2026, 3, 29, 1, 59, 0}, DateTime{2026, 3, 29, 0, 59, 0}},
        {cet, {2026, 3, 29, 2, 0, 0}, DateTime{2026, 3, 29, 1, 0, 0}, true},
        {cet, {2026, 3, 29, 2, 30, 0}, DateTime{2026, 3, 29, 1, 0, 0}, true},
        {cet, {2026, 3, 29, 3, 0, 0}, DateTime{2026, 3, 29, 1, 0, 0}},
        // 2026-10-25: 02:00 to 03:00 happens twice; the first reading wins.
        {cet, {2026, 10, 25, 1, 59, 0}, DateTime{2026, 10, 24, 23, 59, 0}},
        {cet, {2026, 10, 25, 2, 0, 0}, DateTime{2026, 10, 25, 0, 0, 0}},
        {cet, {2026, 10, 25, 2, 30, 0}, DateTime{2026, 10, 25, 0, 30, 0}},
        {cet, {2026, 10, 25, 3, 0, 0}, DateTime{2026, 10, 25, 2, 0, 0}},
        // 2024 has its last Sunday of March on the 31st, the month's last day.
        {cet, {2024, 3, 31, 2, 15, 0}, DateTime{2024, 3, 31, 1, 0, 0}, true},
        {sydney, {2026, 1, 10, 12, 0, 0}, DateTime{2026, 1, 10, 1, 0, 0}},
        {sydney, {2026, 7, 10, 12, 0, 0}, DateTime{2026, 7, 10, 2, 0, 0}},
        {sydney, {2026, 10, 4, 2, 30, 0}, DateTime{2026, 10, 3, 16, 0, 0}, true},
        {sydney, {2026, 4, 5, 2, 30, 0}, DateTime{2026, 4, 4, 15, 30, 0}},
    };
    for (const Case& c : cases) {
        const auto expected = c.utc ? fileTimeFromDateTime(*c.utc) : std::nullopt;
        const ForwardingClock base(c.clock);
        const DateTime& l = c.local;
        SCOPED_TRACE(testing::Message() << l.year << "-" << l.month << "-" << l.day << " " << l.hour
                                        << ":" << l.minute);
        EXPECT_EQ(c.clock.localToUtc(c.local), expected);
        EXPECT_EQ(base.localToUtc(c.local), expected);
        // Every valid reading converts back to the time asked.
        if (expected && !c.skipped)
            EXPECT_EQ(c.clock.fileTimeToLocal(*expected), c.local);
    }
}

TEST(TimeConvert, CentralEuropeanClockAroundItsChanges) {
    const RuleTimeConverter cet = RuleTimeConverter::centralEuropean();
    const struct {
        DateTime utc;
        DateTime local;
    } cases[] = {
        {{2026, 3, 29, 0, 59, 59}, {2026, 3, 29, 1, 59, 59}},
        {{2026, 3, 29, 1, 0, 0}, {2026, 3, 29, 3, 0, 0}},
        {{2026, 10, 25, 0, 59, 59}, {2026, 10, 25, 2, 59, 59}},
        {{2026, 10, 25, 1, 0, 0}, {2026, 10, 25, 2, 0, 0}},
        {{2026, 12, 31, 23, 30, 0}, {2027, 1, 1, 0, 30, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cet.fileTimeToLocal(*fileTimeFromDateTime(c.utc)), c.local)
            << c.utc.month << "-" << c.utc.day << " " << c.utc.hour;
    EXPECT_EQ(dayOfWeek(2026, 12, 8), 2); // a Tuesday
    EXPECT_EQ(dayOfWeek(1601, 1, 1), 1);  // a Monday
    EXPECT_EQ(addDays({2028, 2, 28, 9, 0, 0}, 1), (DateTime{2028, 2, 29, 0, 0, 0}));
    EXPECT_EQ(addDays({2026, 12, 31, 0, 0, 0}, 1), (DateTime{2027, 1, 1, 0, 0, 0}));
    EXPECT_EQ(addDays({2026, 3, 1, 0, 0, 0}, -1), (DateTime{2026, 2, 28, 0, 0, 0}));
    EXPECT_FALSE(addDays({1601, 1, 1, 0, 0, 0}, -1));
}
