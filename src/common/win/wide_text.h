#pragma once

#include <string>
#include <string_view>

namespace korvane {

// UTF-16 settings text to the platform's wide text and back (both 16-bit on Windows).
inline std::wstring toWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}
inline std::u16string toU16(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

// 8-bit text in the ANSI code page (channel names and guide texts as stored) to UTF-16.
std::u16string widenAnsi(std::string_view text);
// UTF-8 text (the program's own texts kept in portable code) to wide text.
std::wstring widenUtf8(std::string_view text);

} // namespace korvane
