#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

// The messenger's music-status message: WM_COPYDATA with this dwData and a UTF-16 text.
inline constexpr uint32_t kNowPlayingData = 0x547;

// The playing status for a channel and its present programme. "\0" in the status is the two
// characters backslash and zero, and "{0} - {1}" is sent as it is for the messenger.
std::u16string nowPlayingText(std::u16string_view channelName, std::u16string_view title);
// The status that clears the line.
std::u16string_view clearedNowPlayingText();

} // namespace korvane
