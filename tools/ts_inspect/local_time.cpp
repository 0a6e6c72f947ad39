#include "local_time.h"

#include <ctime>

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr long long kEpochDifference = 11644473600LL;
constexpr long long kTicksPerSecond = 10000000LL;

} // namespace

std::optional<korvane::FileTime>
LocalTimeConverter::utcToFileTime(const korvane::DateTime& utc) const {
    return korvane::fileTimeFromDateTime(utc);
}

std::optional<korvane::DateTime> LocalTimeConverter::fileTimeToLocal(korvane::FileTime utc) const {
    const long long seconds = static_cast<long long>(utc / kTicksPerSecond) - kEpochDifference;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return std::nullopt;
    korvane::DateTime out;
    out.year = local.tm_year + 1900;
    out.month = local.tm_mon + 1;
    out.day = local.tm_mday;
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    out.second = local.tm_sec;
    return out;
}
