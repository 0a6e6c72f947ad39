#pragma once

#include "common/time_convert.h"

// Local time from the TZ environment variable through the C library, for the developer tools.
class LocalTimeConverter : public korvane::TimeConverter {
  public:
    std::optional<korvane::FileTime> utcToFileTime(const korvane::DateTime& utc) const override;
    std::optional<korvane::DateTime> fileTimeToLocal(korvane::FileTime utc) const override;
};
