#include "common/win/wide_text.h"

#include <windows.h>

namespace korvane {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters expected");

namespace {

std::wstring widen(std::string_view text, UINT codePage) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), units);
    return wide;
}

} // namespace

std::u16string widenAnsi(std::string_view text) {
    return toU16(widen(text, CP_ACP));
}

std::wstring widenUtf8(std::string_view text) {
    return widen(text, CP_UTF8);
}

} // namespace korvane
