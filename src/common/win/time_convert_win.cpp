#include "common/win/time_convert_win.h"

#include <windows.h>

namespace korvane {

namespace {

FILETIME toFileTime(FileTime t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

FileTime fromFileTime(const FILETIME& ft) {
    return (FileTime{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

SYSTEMTIME toSystemTime(const DateTime& t) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    return st;
}

DateTime fromSystemTime(const SYSTEMTIME& st) {
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

// Minutes east of UTC at a UTC instant, by the zone's rules for that date (not the bias of
// today, which FileTimeToLocalFileTime applies).
std::optional<int> zoneOffsetAt(FileTime utc) {
    const FILETIME ft = toFileTime(utc);
    SYSTEMTIME utcParts;
    SYSTEMTIME localParts;
    if (!FileTimeToSystemTime(&ft, &utcParts) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &localParts))
        return std::nullopt;
    const auto local = fileTimeFromDateTime(fromSystemTime(localParts));
    if (!local)
        return std::nullopt;
    return static_cast<int>(static_cast<int64_t>(*local - utc) / (60 * 10'000'000));
}

} // namespace

std::optional<FileTime> SystemTimeConverter::utcToFileTime(const DateTime& utc) const {
    // The platform call accepts some out-of-range fields on some versions; the calendar test
    // keeps the result the same everywhere.
    if (!isValidDateTime(utc))
        return std::nullopt;
    const SYSTEMTIME st = toSystemTime(utc);
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft))
        return std::nullopt;
    return fromFileTime(ft);
}

std::optional<DateTime> SystemTimeConverter::fileTimeToLocal(FileTime utc) const {
    const FILETIME ft = toFileTime(utc);
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&ft, &local) || !FileTimeToSystemTime(&local, &st))
        return std::nullopt;
    return fromSystemTime(st);
}

std::optional<FileTime> SystemTimeConverter::localToUtc(const DateTime& local) const {
    // TzSpecificLocalTimeToSystemTime leaves open which instant a skipped or repeated time
    // gives; the zone's offsets on either side give the same answer on every version.
    return resolveLocalTime(local, zoneOffsetAt);
}

} // namespace korvane
