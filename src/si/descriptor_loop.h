#pragma once

#include "common/byte_reader.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace korvane {

// Walks the descriptor loop of loopLength bytes at start in a section (CRC excluded): each
// descriptor is a tag, a length and a body, the next one starting after the body, until the
// loop's bytes are used up. Broadcasters' lengths are trusted as far as the section's end, so
// a descriptor running past its loop is still read whole; it is the loop's last one, and the
// caller goes on after the declared loop length. visit(tag, body) returns false to stop; a
// visitor that also takes a third reader gets the section from the body to its end, for
// lengths inside a descriptor, which are trusted as far as the section's end too.
// Returns false when a descriptor reaches past the section or visit stopped the walk.
template <typename Visit>
bool walkDescriptors(const ByteReader& section, std::size_t start, std::size_t loopLength,
                     Visit&& visit) {
    std::size_t walked = 0;
    while (walked < loopLength) {
        const std::size_t d = start + walked;
        auto tag = section.u8(d);
        auto length = section.u8(d + 1);
        if (!tag || !length || !section.contains(d + 2, *length))
            return false;
        const ByteReader body = section.sub(d + 2, *length);
        bool goOn = true;
        if constexpr (std::is_invocable_v<Visit, uint8_t, const ByteReader&, const ByteReader&>)
            goOn = visit(*tag, body, section.sub(d + 2, section.size() - (d + 2)));
        else
            goOn = visit(*tag, body);
        if (!goOn)
            return false;
        walked += 2 + std::size_t{*length};
    }
    return true;
}

} // namespace korvane
