// UTF-8 scenario text to the 8-bit strings broadcast in SI descriptors.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace muxgen {

// Encodes `utf8` for a DVB string: with selector 0x05 (ISO/IEC 8859-9, what French TNT puts
// before guide texts) or 0x0B (ISO/IEC 8859-15) the selector byte comes first; with -1 the
// default table is used and only ASCII is accepted. Characters the table lacks are spelt
// out ("oe", "EUR", ...). Empty when the text cannot be encoded. The result is cut to
// `max_bytes`, never inside the selector.
std::optional<std::string> encode_dvb_text(std::string_view utf8, int selector, size_t max_bytes);

} // namespace muxgen
