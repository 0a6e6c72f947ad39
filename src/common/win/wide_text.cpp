#include "common/win/wide_text.h"

#include <windows.h>

namespace korvane {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters expected");

std::u16string widenAnsi(std::string_view text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), units);
    return toU16(wide);
}

} // namespace korvane
