#pragma once

#include "common/time_convert.h"

namespace korvane {

// The platform's own conversions: SystemTimeToFileTime, FileTimeToLocalFileTime (the
// current time-zone bias) and FileTimeToSystemTime; and local wall clock to UTC with the
// zone's rules for that date (the offsets SystemTimeToTzSpecificLocalTime gives around it).
class SystemTimeConverter : public TimeConverter {
  public:
    std::optional<FileTime> utcToFileTime(const DateTime& utc) const override;
    std::optional<DateTime> fileTimeToLocal(FileTime utc) const override;
    std::optional<FileTime> localToUtc(const DateTime& local) const override;
};

} // namespace korvane
