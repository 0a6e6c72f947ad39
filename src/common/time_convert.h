#pragma once

#include "common/date_time.h"

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
};

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

  private:
    int offsetMinutes_;
};

} // namespace korvane
