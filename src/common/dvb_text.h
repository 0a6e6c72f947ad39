#pragma once

#include <cstddef>
#include <string_view>

namespace korvane {

// How many bytes at the start of a broadcast text (service names, event titles and texts)
// choose its character table rather than being part of it: one for 0x01-0x0B and
// 0x11-0x15, three for 0x10 and its two-byte table number, two for 0x1F and its encoding
// id. Bytes too few to hold a whole selector are left to the text.
inline std::size_t dvbTextSelectorLength(std::string_view text) {
    if (text.empty())
        return 0;
    const auto first = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if ((first >= 0x01 && first <= 0x0B) || (first >= 0x11 && first <= 0x15))
        length = 1;
    else if (first == 0x10 && text.size() >= 2 && text[1] == '\0')
        length = 3; // the table number's high byte is always 0
    else if (first == 0x1F)
        length = 2;
    return length <= text.size() ? length : 0;
}

// The text as it is shown or used for a name: without its table selector. The stored
// bytes (chaines.xml) keep it.
inline std::string_view shownDvbText(std::string_view text) {
    return text.substr(dvbTextSelectorLength(text));
}

} // namespace korvane
