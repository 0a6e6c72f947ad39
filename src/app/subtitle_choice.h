#pragma once

// Which DVB subtitle stream of a channel is shown: the user's lasting preference, the
// stream it picks on each channel, the menu's names and the keyboard's step.

#include "channels/channel_list.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// Kept in config.ini: no subtitles, or the type shown first when a channel has subtitles.
enum class SubtitlePreference : uint8_t { Off, Normal, HardOfHearing };

// The stream a channel starts with: none when the preference is off or the channel has no
// subtitles; else, of the channel's streams, those of the preferred type before the others,
// then among equals the language heard (heardLanguage, all zero when unknown), then French
// ("fre" or "fra"), then the PMT's order.
std::optional<std::size_t> preferredSubtitleStream(const ChannelInfo& channel,
                                                   SubtitlePreference preference,
                                                   std::array<char, 3> heardLanguage);

// The language of the audio stream carried on pid, all zero when the channel lists none.
std::array<char, 3> audioLanguageOf(const ChannelInfo& channel, int32_t pid);

// What a choice from the menu or the keyboard makes the preference: off for none, else the
// chosen stream's type.
SubtitlePreference preferenceOf(const SubtitleStream* chosen);

// The keyboard's step: none, then each of count streams in order, then none again.
std::optional<std::size_t> nextSubtitleChoice(std::optional<std::size_t> current,
                                              std::size_t count);

// The stream's menu text (UTF-8): its language in French, "(sourds et malentendants)" after
// it for the hard of hearing; a stream without a usable language code is named by its place
// in the PMT (from 1).
std::string subtitleStreamName(const SubtitleStream& stream, std::size_t place);

// The preference's word in config.ini; an unknown word reads as off.
std::u16string_view subtitlePreferenceWord(SubtitlePreference preference);
SubtitlePreference subtitlePreferenceFromWord(std::u16string_view word);

} // namespace korvane
