#include "common/win/time_convert_win.h"
#include "si/eit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace korvane;

namespace {
constexpr FileTime kSecond = 10'000'000;
constexpr FileTime kDay = 86400 * kSecond;

struct NullNotifier : WindowNotifier {
    void postGuideUpdated() override {}
    void postStreamsChanged() override {}
};
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

// The guide's clock texts of a few events under a fixed-offset zone, as the platform shows
// them. Wine takes the zone from TZ: the build registers this test once per zone of the table
// with TZ set (cmake/windows.cmake); under any other zone it has nothing to compare.
TEST(SystemTimeConverterZone, GuideTextsAreTheZonesClock) {
    struct Event {
        unsigned mjd;
        uint8_t start[3];
        uint8_t duration[3];
    };
    const Event events[] = {
        {0xC079, {0x12, 0x45, 0x00}, {0x01, 0x45, 0x30}}, // 1993-10-13
        {0xEFC5, {0x20, 0x00, 0x00}, {0x00, 0x30, 0x00}}, // 2026-12-07, past local midnight
        {0xEF34, {0x23, 0x59, 0x59}, {0x00, 0x00, 0x01}}, // 2026-07-15
    };
    const struct {
        const char* zone;
        const char* texts[3][2];
    } zones[] = {
        {"Asia/Kolkata",
         {{"18:15:00", "20:00:30"}, {"01:30:00", "02:00:00"}, {"05:29:59", "05:30:00"}}},
        {"Etc/GMT-2",
         {{"14:45:00", "16:30:30"}, {"22:00:00", "22:30:00"}, {"01:59:59", "02:00:00"}}},
    };
    const char* tz = std::getenv("TZ");
    const auto* zone = std::find_if(std::begin(zones), std::end(zones), [&](const auto& z) {
        return tz != nullptr && std::strcmp(tz, z.zone) == 0;
    });
    if (zone == std::end(zones))
        GTEST_SKIP() << "runs with TZ set to one of the table's zones";

    SystemTimeConverter clock;
    for (std::size_t i = 0; i < std::size(events); ++i) {
        const Event& e = events[i];
        // An EIT section of one event without descriptors; the last four bytes stand for the CRC.
        const uint8_t section[] = {0x4E,
                                   0xF0,
                                   0x1B,
                                   0x01,
                                   0x01,
                                   0xC1,
                                   0x00,
                                   0x00,
                                   0x00,
                                   0x04,
                                   0x20,
                                   0xFA,
                                   0x00,
                                   0x4E,
                                   0x00,
                                   0x01,
                                   uint8_t(e.mjd >> 8),
                                   uint8_t(e.mjd),
                                   e.start[0],
                                   e.start[1],
                                   e.start[2],
                                   e.duration[0],
                                   e.duration[1],
                                   e.duration[2],
                                   0xF0,
                                   0x00,
                                   0,
                                   0,
                                   0,
                                   0};
        ChannelList list;
        ChannelInfo channel;
        channel.sid = 0x0101;
        list.append(channel);
        NullNotifier notifier;
        decodeEit(list, notifier, clock, section, sizeof section);
        const ChannelInfo c = *list.copyAt(0);
        EXPECT_EQ(c.present.startText.view(), zone->texts[i][0]) << zone->zone << " event " << i;
        EXPECT_EQ(c.present.endText.view(), zone->texts[i][1]) << zone->zone << " event " << i;
    }
}
