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
