#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// An INI file reached through the platform's private-profile functions (on Windows) or an
// in-memory stand-in (native tests and tools). Texts are UTF-16.
class ProfileStore {
  public:
    virtual ~ProfileStore() = default;

    // The value of key in section, at most capacity - 1 units; fallback when the key is missing.
    virtual std::u16string readString(std::u16string_view section, std::u16string_view key,
                                      std::u16string_view fallback, std::size_t capacity) = 0;
    // The platform's integer reader: fallback when the key is missing, 0 when the text does
    // not start with a number.
    virtual int readInt(std::u16string_view section, std::u16string_view key, int fallback) = 0;
    // Replaces the key in place or adds it at the end of its section (the section is added
    // at the end of the file when missing). False when the write failed.
    virtual bool writeString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view value) = 0;
    // Section names in file order.
    virtual std::vector<std::u16string> sectionNames() = 0;
};

} // namespace korvane
