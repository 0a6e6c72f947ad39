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

} // namespace korvane
