#pragma once

#include "channels/channel_file.h"

#include <string_view>

namespace korvane {

// Parses a channel file's bytes with the portable XML reader and appends its records, as
// the program does with the platform's DOM parser; false (and records untouched) when the
// text is not well-formed XML.
bool parseChannelFile(std::string_view bytes, ChannelRecords& records, const WideToAnsi& toAnsi);

} // namespace korvane
