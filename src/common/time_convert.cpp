#include "common/time_convert.h"

#include <cstdint>

namespace korvane {

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kSecondsPerDay = 86'400;

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (negative before it).
constexpr int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, DateTime& out) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    out.year = static_cast<int>(era * 400 + yoe + (out.month <= 2));
}

constexpr int64_t kEpochDays1601 = daysFromCivil(1601, 1, 1);

} // namespace

bool isValidDateTime(const DateTime& t) {
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12)
        return false;
    if (t.day < 1 || t.day > daysInMonth(t.year, t.month))
        return false;
    return t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
           t.second < 60;
}

std::optional<FileTime> fileTimeFromDateTime(const DateTime& t) {
    if (!isValidDateTime(t))
        return std::nullopt;
    const int64_t days = daysFromCivil(t.year, t.month, t.day) - kEpochDays1601;
    const int64_t seconds = days * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
    return static_cast<FileTime>(seconds) * kTicksPerSecond;
}

std::optional<DateTime> dateTimeFromFileTime(FileTime time) {
    const uint64_t seconds = time / kTicksPerSecond;
    DateTime out;
    civilFromDays(static_cast<int64_t>(seconds / kSecondsPerDay) + kEpochDays1601, out);
    const uint64_t inDay = seconds % kSecondsPerDay;
    out.hour = static_cast<int>(inDay / 3600);
    out.minute = static_cast<int>(inDay / 60 % 60);
    out.second = static_cast<int>(inDay % 60);
    if (!isValidDateTime(out))
        return std::nullopt;
    return out;
}

std::optional<FileTime> FixedOffsetTimeConverter::utcToFileTime(const DateTime& utc) const {
    return fileTimeFromDateTime(utc);
}

std::optional<DateTime> FixedOffsetTimeConverter::fileTimeToLocal(FileTime utc) const {
    const int64_t shift = int64_t{offsetMinutes_} * 60 * kTicksPerSecond;
    if (shift < 0 && utc < static_cast<uint64_t>(-shift))
        return std::nullopt;
    if (shift > 0 && utc > UINT64_MAX - static_cast<uint64_t>(shift))
        return std::nullopt;
    return dateTimeFromFileTime(utc + static_cast<uint64_t>(shift));
}

} // namespace korvane
