#include "app/win/private_profile.h"

#include <windows.h>

#include <utility>

namespace korvane {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters expected");

namespace {

std::wstring wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string utf16(const wchar_t* text, std::size_t length) {
    return std::u16string(text, text + length);
}

} // namespace

PrivateProfile::PrivateProfile(std::wstring fullPath) : path_(std::move(fullPath)) {}

std::u16string PrivateProfile::readString(std::u16string_view section, std::u16string_view key,
                                          std::u16string_view fallback, std::size_t capacity) {
    if (capacity == 0)
        return {};
    std::wstring buffer(capacity, L'\0');
    DWORD length =
        GetPrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), wide(fallback).c_str(),
                                 buffer.data(), static_cast<DWORD>(capacity), path_.c_str());
    if (length >= capacity)
        length = static_cast<DWORD>(capacity - 1);
    return utf16(buffer.data(), length);
}

int PrivateProfile::readInt(std::u16string_view section, std::u16string_view key, int fallback) {
    return static_cast<int>(
        GetPrivateProfileIntW(wide(section).c_str(), wide(key).c_str(), fallback, path_.c_str()));
}

bool PrivateProfile::writeString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view value) {
    return WritePrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), wide(value).c_str(),
                                      path_.c_str()) != FALSE;
}

std::vector<std::u16string> PrivateProfile::sectionNames() {
    // The platform truncates silently and returns size - 2 when the buffer is too small.
    std::wstring buffer(4096, L'\0');
    DWORD length = 0;
    for (;;) {
        length = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()),
                                                path_.c_str());
        if (length + 2 < buffer.size() || buffer.size() >= (1u << 24))
            break;
        buffer.assign(buffer.size() * 4, L'\0');
    }
    std::vector<std::u16string> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (buffer[i] == L'\0') {
            if (i > start)
                names.push_back(utf16(buffer.data() + start, i - start));
            start = i + 1;
        }
    if (length > start)
        names.push_back(utf16(buffer.data() + start, length - start));
    return names;
}

std::wstring currentDirectory() {
    wchar_t buffer[1024] = {};
    DWORD length = GetCurrentDirectoryW(1024, buffer);
    if (length == 0 || length >= 1024)
        return {};
    return std::wstring(buffer, length);
}

std::wstring currentDirectoryPath(const wchar_t* fileName) {
    return currentDirectory() + L"\\" + fileName;
}

} // namespace korvane
