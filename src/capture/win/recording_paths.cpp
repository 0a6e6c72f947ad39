#include "capture/win/recording_paths.h"

#include "capture/recording_names.h"
#include "common/win/wide_text.h"

#include <windows.h>

namespace korvane {

namespace {

std::optional<std::wstring> widePath(const std::optional<std::u16string>& text) {
    if (!text)
        return std::nullopt;
    return toWide(*text);
}

} // namespace

DateTime localTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return DateTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::optional<std::wstring> multiplexRecordingPathNow(std::wstring_view folder) {
    return widePath(multiplexRecordingPath(toU16(folder), localTimeNow()));
}

std::optional<std::wstring> channelRecordingPathNow(std::wstring_view folder,
                                                    std::string_view channelName) {
    return widePath(channelRecordingPath(toU16(folder), channelName, localTimeNow(), widenAnsi));
}

std::optional<std::wstring> screenshotPathNow(std::wstring_view folder,
                                              std::string_view channelName) {
    return widePath(screenshotPath(toU16(folder), channelName, localTimeNow(), widenAnsi));
}

} // namespace korvane
