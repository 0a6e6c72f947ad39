#include "capture/win/recording_paths.h"

#include "capture/recording_names.h"
#include "capture/win/recording_failure.h"

#include <windows.h>

namespace korvane {

namespace {

// wchar_t and char16_t are both UTF-16 units on Windows.
std::u16string toU16(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

std::optional<std::wstring> toWide(const std::optional<std::u16string>& text) {
    if (!text)
        return std::nullopt;
    return std::wstring(text->begin(), text->end());
}

} // namespace

DateTime localTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return DateTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::optional<std::wstring> multiplexRecordingPathNow(std::wstring_view folder) {
    return toWide(multiplexRecordingPath(toU16(folder), localTimeNow()));
}

std::optional<std::wstring> channelRecordingPathNow(std::wstring_view folder,
                                                    std::string_view channelName) {
    return toWide(channelRecordingPath(toU16(folder), channelName, localTimeNow(), widenAnsi));
}

std::optional<std::wstring> screenshotPathNow(std::wstring_view folder,
                                              std::string_view channelName) {
    return toWide(screenshotPath(toU16(folder), channelName, localTimeNow(), widenAnsi));
}

} // namespace korvane
