#include "common/win/private_profile.h"

#include "common/win/wide_text.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace korvane {

namespace {

// What the first bytes of an INI file say about the text the platform keeps in it.
enum class ProfileText { Missing, Ansi, Unicode, Unknown };

class ReadHandle {
  public:
    explicit ReadHandle(HANDLE h) : h_(h) {}
    ~ReadHandle() {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool close() {
        const bool ok = !valid() || CloseHandle(h_) != FALSE;
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

  private:
    HANDLE h_;
};

// Settings files are a few kilobytes; anything past this is not one to convert.
constexpr DWORD kLargestConvertedFile = 1u << 20;

std::optional<std::string> readWholeFile(const std::wstring& path) {
    ReadHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return std::nullopt;
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE || size > kLargestConvertedFile)
        return std::nullopt;
    std::string bytes(size, '\0');
    DWORD done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, size - done, &got, nullptr) || got == 0)
            return std::nullopt;
        done += got;
    }
    return bytes;
}

ProfileText profileText(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ProfileText::Missing
                   : ProfileText::Unknown;
    }
    const std::optional<std::string> bytes = readWholeFile(path);
    if (!bytes)
        return ProfileText::Unknown;
    if (bytes->empty())
        return ProfileText::Missing;
    const auto byte = [&](std::size_t i) {
        return i < bytes->size() ? static_cast<uint8_t>((*bytes)[i]) : 0;
    };
    // UTF-16 in either order, or UTF-8, each announced by its byte-order mark.
    if ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF) ||
        (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF))
        return ProfileText::Unicode;
    return ProfileText::Ansi;
}

// True when the ANSI code page holds the text exactly (no '?' or look-alike in its place).
bool fitsAnsiCodePage(std::u16string_view text) {
    if (text.empty() || GetACP() == CP_UTF8)
        return true;
    const std::wstring wide = toWide(text);
    BOOL lost = FALSE;
    const int bytes =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, &lost);
    return bytes > 0 && !lost;
}

bool writeWholeFile(const std::wstring& path, DWORD creation, const std::u16string& text) {
    ReadHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, creation,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return false;
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
    DWORD written = 0;
    const bool ok =
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file.get());
    return file.close() && ok;
}

// A new file starts as UTF-16 with its mark, so that the platform writes Unicode into it.
bool createUnicodeProfile(const std::wstring& path) {
    return writeWholeFile(path, CREATE_ALWAYS, u"");
}

// The ANSI file as UTF-16, every line kept (sections, keys, order, comments); written beside
// it, then moved over it, so that a cut-off conversion leaves the ANSI file whole.
bool convertToUnicodeProfile(const std::wstring& path) {
    const std::optional<std::string> bytes = readWholeFile(path);
    if (!bytes)
        return false;
    std::u16string text;
    if (!bytes->empty()) {
        const int units = MultiByteToWideChar(CP_ACP, 0, bytes->data(),
                                              static_cast<int>(bytes->size()), nullptr, 0);
        if (units <= 0)
            return false;
        text.resize(static_cast<std::size_t>(units));
        MultiByteToWideChar(CP_ACP, 0, bytes->data(), static_cast<int>(bytes->size()),
                            reinterpret_cast<wchar_t*>(text.data()), units);
    }
    const std::wstring temp = path + L".tmp";
    if (!writeWholeFile(temp, CREATE_ALWAYS, text) ||
        !MoveFileExW(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

} // namespace

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
    switch (profileText(path_)) {
    case ProfileText::Missing:
        // Failing here leaves the platform to create the file its own way.
        createUnicodeProfile(path_);
        break;
    case ProfileText::Ansi:
        // Written as ANSI, the text would come back with '?' or look-alikes in place of what
        // the code page lacks: the file becomes UTF-16 first, or nothing is written.
        if ((!fitsAnsiCodePage(section) || !fitsAnsiCodePage(key) || !fitsAnsiCodePage(value)) &&
            !convertToUnicodeProfile(path_))
            return false;
        break;
    case ProfileText::Unicode:
    case ProfileText::Unknown:
        break;
    }
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
