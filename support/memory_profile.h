#pragma once

#include "common/profile_store.h"

#include <string>
#include <utility>
#include <vector>

namespace korvane {

// An INI file held in memory with the private-profile rules: sections and keys compared
// without case, keys kept in the order they were first written.
class MemoryProfile : public ProfileStore {
  public:
    MemoryProfile() = default;
    // Parses INI text ("[Section]" lines and "key=value" lines; ';' starts a comment line).
    explicit MemoryProfile(std::u16string_view text);

    std::u16string readString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view fallback, std::size_t capacity) override;
    int readInt(std::u16string_view section, std::u16string_view key, int fallback) override;
    bool writeString(std::u16string_view section, std::u16string_view key,
                     std::u16string_view value) override;
    std::vector<std::u16string> sectionNames() override;

    // The file as text, "[Section]" and "key=value" lines ending with CR LF.
    std::u16string text() const;
    // Keys of a section in file order.
    std::vector<std::u16string> keys(std::u16string_view section) const;

  private:
    struct Section {
        std::u16string name;
        std::vector<std::pair<std::u16string, std::u16string>> entries;
    };
    Section* find(std::u16string_view section);
    const Section* find(std::u16string_view section) const;
    std::vector<Section> sections_;
};

// Decimal reading of the platform's integer reader: leading blanks, an optional sign,
// then digits up to the first non-digit; no digits gives 0.
int parseProfileInt(std::u16string_view text);

} // namespace korvane
