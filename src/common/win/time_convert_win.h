#pragma once

#include "common/time_convert.h"

namespace korvane {

// The platform's own conversions: SystemTimeToFileTime, FileTimeToLocalFileTime (the
// current time-zone bias) and FileTimeToSystemTime.
class SystemTimeConverter : public TimeConverter {
  public:
    std::optional<FileTime> utcToFileTime(const DateTime& utc) const override;
    std::optional<DateTime> fileTimeToLocal(FileTime utc) const override;
};

} // namespace korvane
