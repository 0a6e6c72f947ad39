#include "support/memory_profile.h"

#include <cstdint>

namespace korvane {

namespace {

char16_t lowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

bool equalNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t' || s.back() == u'\r'))
        s.remove_suffix(1);
    return s;
}

} // namespace

int parseProfileInt(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > int64_t{1} << 32)
            value = int64_t{1} << 32;
    }
    // Wrapped to 32 bits as the platform's reader does.
    return static_cast<int>(static_cast<uint32_t>(negative ? -value : value));
}

MemoryProfile::MemoryProfile(std::u16string_view text) {
    Section* current = nullptr;
    while (!text.empty()) {
        std::size_t end = text.find(u'\n');
        std::u16string_view line = trim(text.substr(0, end));
        text = end == std::u16string_view::npos ? std::u16string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            std::size_t close = line.find(u']');
            std::u16string_view name = line.substr(1, close == line.npos ? line.npos : close - 1);
            current = find(name);
            if (!current) {
                sections_.push_back(Section{std::u16string(name), {}});
                current = &sections_.back();
            }
            continue;
        }
        std::size_t eq = line.find(u'=');
        if (!current || eq == line.npos)
            continue;
        current->entries.emplace_back(std::u16string(trim(line.substr(0, eq))),
                                      std::u16string(trim(line.substr(eq + 1))));
    }
}

MemoryProfile::Section* MemoryProfile::find(std::u16string_view section) {
    for (auto& s : sections_)
        if (equalNoCase(s.name, section))
            return &s;
    return nullptr;
}

const MemoryProfile::Section* MemoryProfile::find(std::u16string_view section) const {
    for (auto& s : sections_)
        if (equalNoCase(s.name, section))
            return &s;
    return nullptr;
}

std::u16string MemoryProfile::readString(std::u16string_view section, std::u16string_view key,
                                         std::u16string_view fallback, std::size_t capacity) {
    std::u16string value(fallback);
    if (const Section* s = find(section))
        for (auto& [k, v] : s->entries)
            if (equalNoCase(k, key)) {
                value = v;
                break;
            }
    if (capacity == 0)
        return {};
    if (value.size() > capacity - 1)
        value.resize(capacity - 1);
    return value;
}

int MemoryProfile::readInt(std::u16string_view section, std::u16string_view key, int fallback) {
    if (const Section* s = find(section))
        for (auto& [k, v] : s->entries)
            if (equalNoCase(k, key))
                return parseProfileInt(v);
    return fallback;
}

bool MemoryProfile::writeString(std::u16string_view section, std::u16string_view key,
                                std::u16string_view value) {
    Section* s = find(section);
    if (!s) {
        sections_.push_back(Section{std::u16string(section), {}});
        s = &sections_.back();
    }
    for (auto& [k, v] : s->entries)
        if (equalNoCase(k, key)) {
            v = value;
            return true;
        }
    s->entries.emplace_back(std::u16string(key), std::u16string(value));
    return true;
}

std::vector<std::u16string> MemoryProfile::sectionNames() {
    std::vector<std::u16string> names;
    for (auto& s : sections_)
        names.push_back(s.name);
    return names;
}

std::u16string MemoryProfile::text() const {
    std::u16string out;
    for (auto& s : sections_) {
        out += u"[" + s.name + u"]\r\n";
        for (auto& [k, v] : s.entries)
            out += k + u"=" + v + u"\r\n";
    }
    return out;
}

std::vector<std::u16string> MemoryProfile::keys(std::u16string_view section) const {
    std::vector<std::u16string> out;
    if (const Section* s = find(section))
        for (auto& [k, v] : s->entries)
            out.push_back(k);
    return out;
}

} // namespace korvane
