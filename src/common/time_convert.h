#pragma once

#include "common/date_time.h"

#include <functional>
#include <optional>

namespace korvane {

// Conversions between broken-down times and file-time counts. A date or time that the
// calendar does not know (month 13, hour 25, a year before 1601...) converts to nothing.
class TimeConverter {
  public:
    virtual ~TimeConverter() = default;
    // A broken-down UTC date and time to a UTC file-time count.
    virtual std::optional<FileTime> utcToFileTime(const DateTime& utc) const = 0;
    // A UTC file-time count to the broken-down local date and time.
    virtual std::optional<DateTime> fileTimeToLocal(FileTime utc) const = 0;
    // A local wall-clock date and time to the UTC file-time count it names. A time the clock
    // skips when it goes forward gives the first valid instant after the gap; a time the
    // clock shows twice when it goes back gives the first of the two. The default asks
    // fileTimeToLocal for the offsets around the time (resolveLocalTime below).
    virtual std::optional<FileTime> localToUtc(const DateTime& local) const;
};

// The local offset from UTC, in minutes east, in force at a UTC instant; nothing when the
// instant cannot be converted.
using UtcOffsetAt = std::function<std::optional<int>(FileTime utc)>;

// Local wall clock to UTC over any offset function, with the gap and repeat rules of
// localToUtc. The offset may change at most once within a day either side of the time.
std::optional<FileTime> resolveLocalTime(const DateTime& local, const UtcOffsetAt& offsetAt);

// Plain proleptic Gregorian arithmetic, no time zone involved. Years 1601 to 30827, as the
// platform's own conversions accept.
std::optional<FileTime> fileTimeFromDateTime(const DateTime& time);
std::optional<DateTime> dateTimeFromFileTime(FileTime time);
bool isValidDateTime(const DateTime& time);

// Local time at a fixed distance from UTC (no daylight-saving rule), for tools and tests.
class FixedOffsetTimeConverter : public TimeConverter {
  public:
    explicit FixedOffsetTimeConverter(int offsetMinutes = 0) : offsetMinutes_(offsetMinutes) {}
    std::optional<FileTime> utcToFileTime(const DateTime& utc) const override;
    std::optional<DateTime> fileTimeToLocal(FileTime utc) const override;
    std::optional<FileTime> localToUtc(const DateTime& local) const override;

  private:
    int offsetMinutes_;
};

// When a daylight-saving change happens, in the platform's time-zone terms: the week-th
// given weekday of the month (week 5 = the last one), at a local wall-clock time read on the
// clock that is in force just before the change.
struct ClockChangeRule {
    int month = 0;   // 1..12
    int week = 0;    // 1..5, 5 = the last such weekday of the month
    int weekday = 0; // 0 = Sunday .. 6 = Saturday
    int minuteOfDay = 0;
};

// A zone with a standard offset and a daylight-saving offset, changing by yearly rules (the
// southern hemisphere's order, daylight time across the new year, works too).
class RuleTimeConverter : public TimeConverter {
  public:
    RuleTimeConverter(int standardOffsetMinutes, int daylightOffsetMinutes,
                      ClockChangeRule daylightStart, ClockChangeRule daylightEnd);
    // Central European Time: UTC+1, UTC+2 from the last Sunday of March at 02:00 to the
    // last Sunday of October at 03:00 (01:00 UTC both times).
    static RuleTimeConverter centralEuropean();

    std::optional<FileTime> utcToFileTime(const DateTime& utc) const override;
    std::optional<DateTime> fileTimeToLocal(FileTime utc) const override;
    std::optional<FileTime> localToUtc(const DateTime& local) const override;
    // Minutes east of UTC in force at a UTC instant.
    std::optional<int> offsetAt(FileTime utc) const;

  private:
    int standardOffset_;
    int daylightOffset_;
    ClockChangeRule daylightStart_;
    ClockChangeRule daylightEnd_;
};

// Calendar helpers on plain dates (no zone).
int dayOfWeek(int year, int month, int day); // 0 = Sunday .. 6 = Saturday
// The date count days after (or before, when negative) the given one; nothing outside the
// years isValidDateTime accepts.
std::optional<DateTime> addDays(const DateTime& date, int count);

} // namespace korvane
