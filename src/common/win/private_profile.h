#pragma once

#include "common/profile_store.h"

#include <string>

namespace korvane {

// An INI file reached through the platform's private-profile functions. Every call goes to
// the file itself (no cache here), so other writers of the file are seen at once.
//
// Writes keep what they are given: a file the writes create starts as UTF-16 with its
// byte-order mark, which the platform then reads and writes in Unicode; an ANSI file stays
// byte for byte as it is until a section, key or value its code page cannot hold is written,
// and is then converted once, with everything in it, to UTF-16.
class PrivateProfile : public ProfileStore {
  public:
    // fullPath: an absolute path; a bare name would make the platform look in the Windows folder.
    explicit PrivateProfile(std::wstring fullPath);

    std::u16string readString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view fallback, std::size_t capacity) override;
    int readInt(std::u16string_view section, std::u16string_view key, int fallback) override;
    bool writeString(std::u16string_view section, std::u16string_view key,
                     std::u16string_view value) override;
    std::vector<std::u16string> sectionNames() override;

    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

// The process's current directory (as the platform returns it, at most 1023 units)
// followed by "\" and fileName.
std::wstring currentDirectoryPath(const wchar_t* fileName);

// The process's current directory, at most 1023 units.
std::wstring currentDirectory();

} // namespace korvane
