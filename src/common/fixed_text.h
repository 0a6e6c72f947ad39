#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace korvane {

// An 8-bit text in a fixed buffer of N bytes: at most N - 1 bytes and a NUL, the bytes
// after the terminator always zero, so that whole-buffer copies and comparisons are exact.
template <std::size_t N> struct FixedText {
    static_assert(N >= 1);
    static constexpr std::size_t capacity = N - 1;

    std::array<char, N> bytes{};

    FixedText() = default;
    explicit FixedText(std::string_view text) { assign(text); }

    // Copies at most N - 1 bytes; stops at an embedded NUL as a C string would.
    void assign(std::string_view text) {
        std::size_t n = text.size() < capacity ? text.size() : capacity;
        const void* nul = n ? std::memchr(text.data(), 0, n) : nullptr;
        if (nul)
            n = static_cast<std::size_t>(static_cast<const char*>(nul) - text.data());
        bytes.fill(0);
        if (n)
            std::memcpy(bytes.data(), text.data(), n);
    }
    void assign(const uint8_t* data, std::size_t size) {
        assign(std::string_view(reinterpret_cast<const char*>(data), size));
    }
    void clear() { bytes.fill(0); }

    const char* c_str() const { return bytes.data(); }
    std::size_t length() const { return std::strlen(bytes.data()); }
    bool empty() const { return bytes[0] == 0; }
    std::string_view view() const { return std::string_view(bytes.data(), length()); }

    friend bool operator==(const FixedText& a, const FixedText& b) { return a.view() == b.view(); }
    friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }
};

} // namespace korvane
