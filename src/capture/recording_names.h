#pragma once

#include "common/date_time.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// Widens an 8-bit channel name as the ANSI code page would (Windows passes its own).
using WidenText = std::u16string (*)(std::string_view text);

// Byte n becomes U+00nn: the ANSI code page's view where the platform has none.
std::u16string widenLatin1(std::string_view text);

// Replaces with '_' every character a Windows file name may not hold (path separators, ':',
// '?', '*', '"', '<', '>', '|' and control characters), so that a channel name can never
// lead outside the chosen folder. Every other character stays.
std::u16string fileNameSafe(std::u16string_view name);

// Recording and screenshot paths hold at most this many UTF-16 units with the final NUL.
constexpr std::size_t kMaxPathUnits = 1024;

// The name of the n-th file wanted at path: path itself for n <= 1, else " (n)" before the
// extension ("a\\b 07-12 21-00-00 (2).mpg"), so that a second file of one name never replaces
// the first. Nothing when the result would not fit.
std::optional<std::u16string> numberedPath(std::u16string_view path, int n);

// "<folder>\Transport Stream DD-MM hh-mm-ss.mpg". Nothing when the path would not fit.
std::optional<std::u16string> multiplexRecordingPath(std::u16string_view folder,
                                                     const DateTime& local);

// "<folder>\<channel name> DD-MM hh-mm-ss.mpg".
std::optional<std::u16string> channelRecordingPath(std::u16string_view folder,
                                                   std::string_view channelName,
                                                   const DateTime& local,
                                                   WidenText widen = widenLatin1);

// "<folder>\<channel name> DD-MM hh-mm-ss.bmp".
std::optional<std::u16string> screenshotPath(std::u16string_view folder,
                                             std::string_view channelName, const DateTime& local,
                                             WidenText widen = widenLatin1);

} // namespace korvane
