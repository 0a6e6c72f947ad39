#include "common/win/private_profile.h"

#include "common/win/wide_text.h"

#include <windows.h>

#include <utility>

namespace korvane {

PrivateProfile::PrivateProfile(std::wstring fullPath) : path_(std::move(fullPath)) {}

std::u16string PrivateProfile::readString(std::u16string_view section, std::u16string_view key,
                                          std::u16string_view fallback, std::size_t capacity) {
    if (capacity == 0)
        return {};
    std::wstring buffer(capacity, L'\0');
    DWORD length = GetPrivateProfileStringW(toWide(section).c_str(), toWide(key).c_str(),
                                            toWide(fallback).c_str(), buffer.data(),
                                            static_cast<DWORD>(capacity), path_.c_str());
    if (length >= capacity)
        length = static_cast<DWORD>(capacity - 1);
    return toU16(std::wstring_view(buffer.data(), length));
}

int PrivateProfile::readInt(std::u16string_view section, std::u16string_view key, int fallback) {
    return static_cast<int>(GetPrivateProfileIntW(toWide(section).c_str(), toWide(key).c_str(),
                                                  fallback, path_.c_str()));
}

bool PrivateProfile::writeString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view value) {
    return WritePrivateProfileStringW(toWide(section).c_str(), toWide(key).c_str(),
                                      toWide(value).c_str(), path_.c_str()) != FALSE;
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
                names.push_back(toU16(std::wstring_view(buffer.data() + start, i - start)));
            start = i + 1;
        }
    if (length > start)
        names.push_back(toU16(std::wstring_view(buffer.data() + start, length - start)));
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
