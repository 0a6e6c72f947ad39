#pragma once

#include "common/date_time.h"

#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// The local time now (GetLocalTime), for the recording and screenshot names.
DateTime localTimeNow();

// The names of a recording or screenshot started now, the channel name widened through the
// ANSI code page; nothing when the path would not fit in 1024 units.
std::optional<std::wstring> multiplexRecordingPathNow(std::wstring_view folder);
std::optional<std::wstring> channelRecordingPathNow(std::wstring_view folder,
                                                    std::string_view channelName);
std::optional<std::wstring> screenshotPathNow(std::wstring_view folder,
                                              std::string_view channelName);

} // namespace korvane
