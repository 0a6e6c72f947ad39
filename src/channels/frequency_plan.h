#pragma once

#include "common/profile_store.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The ordered scan frequencies in kHz, tuner offset included.
using FrequencyPlan = std::vector<int32_t>;

// The first entry of the city list, for a scan of the whole band.
inline constexpr char16_t kAllChannelsCity[] = u"Non précisée (scanne tous les canaux)";
inline constexpr char16_t kGeneralSection[] = u"Général";
inline constexpr int32_t kDefaultOffset = 167;

// Asks the user whether to use the recommended offset for a tuner brand (Yes = true).
class OffsetQuestion {
  public:
    virtual ~OffsetQuestion() = default;
    virtual bool ask(std::u16string_view text, std::u16string_view caption) = 0;
};

// Centre of UHF channel n with the tuner offset, in kHz. The values come unchecked from a
// data file, so the sum wraps at 32 bits instead of overflowing.
constexpr int32_t uhfChannelFrequency(int32_t channel, int32_t offset) {
    return static_cast<int32_t>(static_cast<uint32_t>(channel) * 8000u + 306000u +
                                static_cast<uint32_t>(offset));
}

// The items of the city box: the whole-band entry, then every section of canaux.ini in
// file order except "Général".
std::vector<std::u16string> cityListItems(ProfileStore& canaux);

// The offset of canaux.ini, then the Hauppauge and Cinergy questions for a tuner whose name
// holds those brands; the answers hold for this plan only.
int32_t tunerOffset(ProfileStore& canaux, std::u16string_view tunerName, OffsetQuestion& question);

// R1 to R6 of the city's section; the whole band 21 to 69 when R1 is missing or 0.
FrequencyPlan buildFrequencyPlan(ProfileStore& canaux, std::u16string_view city,
                                 std::u16string_view tunerName, OffsetQuestion& question);

} // namespace korvane
