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
constexpr int64_t kTicksPerMinute = 60 * kTicksPerSecond;
constexpr int64_t kTicksPerDay = kSecondsPerDay * kTicksPerSecond;

std::optional<FileTime> shifted(FileTime t, int64_t ticks) {
    if (ticks < 0 && t < static_cast<uint64_t>(-ticks))
        return std::nullopt;
    if (ticks > 0 && t > UINT64_MAX - static_cast<uint64_t>(ticks))
        return std::nullopt;
    return t + static_cast<uint64_t>(ticks);
}

// The UTC instant a local time names under one offset, when that offset is the one in force
// there.
std::optional<FileTime> underOffset(FileTime naive, int offset, const UtcOffsetAt& offsetAt) {
    const auto utc = shifted(naive, -int64_t{offset} * kTicksPerMinute);
    if (!utc || offsetAt(*utc) != offset)
        return std::nullopt;
    return utc;
}

// The day of the month of a change rule in a year.
int ruleDay(const ClockChangeRule& rule, int year) {
    const int first = dayOfWeek(year, rule.month, 1);
    int day = 1 + (rule.weekday - first + 7) % 7 + (rule.week - 1) * 7;
    while (day > daysInMonth(year, rule.month))
        day -= 7;
    return day;
}

} // namespace

std::optional<FileTime> TimeConverter::localToUtc(const DateTime& local) const {
    return resolveLocalTime(local, [this](FileTime utc) -> std::optional<int> {
        const auto shown = fileTimeToLocal(utc);
        const auto asUtc = shown ? fileTimeFromDateTime(*shown) : std::nullopt;
        if (!asUtc)
            return std::nullopt;
        const int64_t ticks = static_cast<int64_t>(*asUtc - utc);
        return static_cast<int>(ticks / kTicksPerMinute);
    });
}

std::optional<FileTime> resolveLocalTime(const DateTime& local, const UtcOffsetAt& offsetAt) {
    const auto naive = fileTimeFromDateTime(local);
    if (!naive)
        return std::nullopt;
    // The offsets a day either side: at most one change lies between them.
    const auto dayBefore = shifted(*naive, -kTicksPerDay);
    const auto dayAfter = shifted(*naive, kTicksPerDay);
    const auto before = offsetAt(dayBefore ? *dayBefore : *naive);
    const auto after = offsetAt(dayAfter ? *dayAfter : *naive);
    if (!before || !after)
        return std::nullopt;
    // Read on the clock before the change, a time is earlier than read on the clock after it
    // when the clock went back: the first of two readings.
    auto early = underOffset(*naive, *before, offsetAt);
    auto late = underOffset(*naive, *after, offsetAt);
    if (early && late)
        return *early < *late ? early : late;
    if (early || late)
        return early ? early : late;
    if (*after <= *before)
        return std::nullopt;
    // The clock went forward over this time: the change itself is the first valid instant
    // after the gap. It lies between the instants the time names under either offset.
    int64_t low = static_cast<int64_t>(*naive / kTicksPerMinute) - *after;
    int64_t high = static_cast<int64_t>(*naive / kTicksPerMinute) - *before;
    while (high - low > 1) {
        const int64_t middle = low + (high - low) / 2;
        const auto offset = offsetAt(static_cast<FileTime>(middle) * kTicksPerMinute);
        if (!offset)
            return std::nullopt;
        (*offset == *after ? high : low) = middle;
    }
    return static_cast<FileTime>(high) * kTicksPerMinute;
}

int dayOfWeek(int year, int month, int day) {
    const int64_t days = daysFromCivil(year, month, day);
    // 1970-01-01 was a Thursday.
    return static_cast<int>(((days % 7) + 7 + 4) % 7);
}

std::optional<DateTime> addDays(const DateTime& date, int count) {
    DateTime day = date;
    day.hour = day.minute = day.second = 0;
    if (!isValidDateTime(day))
        return std::nullopt;
    DateTime out;
    civilFromDays(daysFromCivil(day.year, day.month, day.day) + count, out);
    if (!isValidDateTime(out))
        return std::nullopt;
    return out;
}

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

std::optional<FileTime> FixedOffsetTimeConverter::localToUtc(const DateTime& local) const {
    const auto naive = fileTimeFromDateTime(local);
    if (!naive)
        return std::nullopt;
    return shifted(*naive, -int64_t{offsetMinutes_} * kTicksPerMinute);
}

RuleTimeConverter::RuleTimeConverter(int standardOffsetMinutes, int daylightOffsetMinutes,
                                     ClockChangeRule daylightStart, ClockChangeRule daylightEnd)
    : standardOffset_(standardOffsetMinutes), daylightOffset_(daylightOffsetMinutes),
      daylightStart_(daylightStart), daylightEnd_(daylightEnd) {}

RuleTimeConverter RuleTimeConverter::centralEuropean() {
    return RuleTimeConverter(60, 120, {3, 5, 0, 120}, {10, 5, 0, 180});
}

std::optional<FileTime> RuleTimeConverter::utcToFileTime(const DateTime& utc) const {
    return fileTimeFromDateTime(utc);
}

std::optional<int> RuleTimeConverter::offsetAt(FileTime utc) const {
    const auto date = dateTimeFromFileTime(utc);
    if (!date)
        return std::nullopt;
    // The UTC instants of this year's two changes: each rule is read on the clock in force
    // before it.
    const auto changeAt = [&](const ClockChangeRule& rule,
                              int offsetBefore) -> std::optional<FileTime> {
        DateTime at{date->year, rule.month, ruleDay(rule, date->year), 0, 0, 0};
        const auto midnight = fileTimeFromDateTime(at);
        if (!midnight)
            return std::nullopt;
        return shifted(*midnight, (int64_t{rule.minuteOfDay} - offsetBefore) * kTicksPerMinute);
    };
    const auto start = changeAt(daylightStart_, standardOffset_);
    const auto end = changeAt(daylightEnd_, daylightOffset_);
    if (!start || !end)
        return std::nullopt;
    const bool daylight = *start < *end ? utc >= *start && utc < *end : utc >= *start || utc < *end;
    return daylight ? daylightOffset_ : standardOffset_;
}

std::optional<DateTime> RuleTimeConverter::fileTimeToLocal(FileTime utc) const {
    const auto offset = offsetAt(utc);
    if (!offset)
        return std::nullopt;
    const auto local = shifted(utc, int64_t{*offset} * kTicksPerMinute);
    return local ? dateTimeFromFileTime(*local) : std::nullopt;
}

std::optional<FileTime> RuleTimeConverter::localToUtc(const DateTime& local) const {
    return resolveLocalTime(local, [this](FileTime utc) { return offsetAt(utc); });
}

} // namespace korvane
