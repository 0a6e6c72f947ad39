#include "common/win/time_convert_win.h"

#include <gtest/gtest.h>

using namespace korvane;

namespace {
constexpr FileTime kSecond = 10'000'000;
constexpr FileTime kDay = 86400 * kSecond;
} // namespace

TEST(SystemTimeConverter, UtcConversionAgreesWithTheCalendar) {
    SystemTimeConverter clock;
    for (int year : {1601, 1858, 1900, 1993, 2000, 2024, 2038, 2100})
        for (int month : {1, 2, 3, 10, 12})
            for (int day : {1, 13, 28, 29}) {
                const DateTime t{year, month, day, 12, 45, 30};
                auto platform = clock.utcToFileTime(t);
                auto portable = fileTimeFromDateTime(t);
                ASSERT_EQ(platform.has_value(), portable.has_value());
                if (platform) {
                    EXPECT_EQ(*platform, *portable) << year << "-" << month << "-" << day;
                }
            }
}

TEST(SystemTimeConverter, ImpossibleDatesConvertToNothing) {
    SystemTimeConverter clock;
    EXPECT_FALSE(clock.utcToFileTime({1859, -1, 19, 20, 0, 0}));
    EXPECT_FALSE(clock.utcToFileTime({2023, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(clock.utcToFileTime({2023, 1, 1, 165, 165, 165}));
    EXPECT_FALSE(clock.utcToFileTime({1600, 1, 1, 0, 0, 0}));
}

TEST(SystemTimeConverter, LocalTimeKeepsTheClockFromDayToDay) {
    SystemTimeConverter clock;
    const FileTime t = *fileTimeFromDateTime({2024, 1, 15, 10, 20, 30});
    auto a = clock.fileTimeToLocal(t);
    auto b = clock.fileTimeToLocal(t + kDay);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->hour, b->hour);
    EXPECT_EQ(a->minute, 20);
    EXPECT_EQ(a->second, 30);
    EXPECT_EQ(*fileTimeFromDateTime(*b) - *fileTimeFromDateTime(*a), kDay);
    // The local clock is within a day of UTC.
    const FileTime local = *fileTimeFromDateTime(*a);
    EXPECT_LT(local > t ? local - t : t - local, kDay);
}
