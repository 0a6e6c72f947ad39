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

} // namespace

std::optional<FileTime> SystemTimeConverter::utcToFileTime(const DateTime& utc) const {
    // The platform call accepts some out-of-range fields on some versions; the calendar test
    // keeps the result the same everywhere.
    if (!isValidDateTime(utc))
        return std::nullopt;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(utc.year);
    st.wMonth = static_cast<WORD>(utc.month);
    st.wDay = static_cast<WORD>(utc.day);
    st.wHour = static_cast<WORD>(utc.hour);
    st.wMinute = static_cast<WORD>(utc.minute);
    st.wSecond = static_cast<WORD>(utc.second);
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
    DateTime out;
    out.year = st.wYear;
    out.month = st.wMonth;
    out.day = st.wDay;
    out.hour = st.wHour;
    out.minute = st.wMinute;
    out.second = st.wSecond;
    return out;
}

} // namespace korvane
