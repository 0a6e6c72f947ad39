#include "dvb_text.h"

#include <cstdint>
#include <vector>

namespace muxgen {

namespace {

// Decodes UTF-8 into code points; fails on malformed or overlong sequences.
std::optional<std::vector<uint32_t>> decode_utf8(std::string_view text) {
    std::vector<uint32_t> out;
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<uint8_t>(text[i]);
        int extra = 0;
        uint32_t cp = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + extra >= text.size() && extra > 0)
            return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            auto c = static_cast<uint8_t>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        static const uint32_t min_of[] = {0, 0x80, 0x800, 0x10000};
        if (cp < min_of[extra] || cp > 0x10FFFF)
            return std::nullopt;
        out.push_back(cp);
        i += 1 + extra;
    }
    return out;
}

// Latin-1 code points that 8859-9 replaces with Turkish letters.
bool latin5_lacks(uint32_t cp) {
    return cp == 0xD0 || cp == 0xDD || cp == 0xDE || cp == 0xF0 || cp == 0xFD || cp == 0xFE;
}

// Latin-1 code points that 8859-15 replaces.
bool latin9_lacks(uint32_t cp) {
    return cp == 0xA4 || cp == 0xA6 || cp == 0xA8 || cp == 0xB4 || cp == 0xB8 || cp == 0xBC ||
           cp == 0xBD || cp == 0xBE;
}

std::optional<std::string> encode_char(uint32_t cp, int selector) {
    if (cp < 0x80)
        return std::string(1, static_cast<char>(cp));
    if (selector == 0x0B) {
        switch (cp) {
        case 0x20AC:
            return std::string(1, '\xA4');
        case 0x0152:
            return std::string(1, '\xBC');
        case 0x0153:
            return std::string(1, '\xBD');
        case 0x0178:
            return std::string(1, '\xBE');
        default:
            break;
        }
        if (cp >= 0xA0 && cp <= 0xFF && !latin9_lacks(cp))
            return std::string(1, static_cast<char>(cp));
    } else if (selector == 0x05) {
        if (cp >= 0xA0 && cp <= 0xFF && !latin5_lacks(cp))
            return std::string(1, static_cast<char>(cp));
    }
    switch (cp) {
    case 0x0152:
        return std::string("OE");
    case 0x0153:
        return std::string("oe");
    case 0x20AC:
        return std::string("EUR");
    case 0x2018:
    case 0x2019:
        return std::string("'");
    case 0x201C:
    case 0x201D:
        return std::string("\"");
    case 0x2013:
    case 0x2014:
        return std::string("-");
    case 0x2026:
        return std::string("...");
    case 0x00A0:
    case 0x202F:
        return std::string(" ");
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<std::string> encode_dvb_text(std::string_view utf8, int selector, size_t max_bytes) {
    auto cps = decode_utf8(utf8);
    if (!cps)
        return std::nullopt;
    std::string out;
    if (selector >= 0)
        out += static_cast<char>(selector);
    for (uint32_t cp : *cps) {
        auto bytes = encode_char(cp, selector);
        if (!bytes)
            return std::nullopt;
        out += *bytes;
    }
    size_t floor = selector >= 0 ? 1 : 0;
    if (out.size() > max_bytes)
        out.resize(max_bytes < floor ? floor : max_bytes);
    return out;
}

} // namespace muxgen
