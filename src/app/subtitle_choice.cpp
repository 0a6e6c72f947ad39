#include "app/subtitle_choice.h"

#include "app/channel_switch.h"

#include <algorithm>

namespace korvane {

namespace {

bool sameLanguage(const std::array<char, 3>& language, std::string_view code) {
    return code.size() == 3 && std::equal(language.begin(), language.end(), code.begin());
}

bool isFrench(const std::array<char, 3>& language) {
    return sameLanguage(language, "fre") || sameLanguage(language, "fra");
}

bool knownLanguage(const std::array<char, 3>& language) {
    return std::any_of(language.begin(), language.end(), [](char c) { return c != 0; });
}

// Lower is preferred.
int subtitleRank(const SubtitleStream& stream, SubtitlePreference preference,
                 const std::array<char, 3>& heardLanguage) {
    const bool wantsHardOfHearing = preference == SubtitlePreference::HardOfHearing;
    int rank = stream.forHardOfHearing() == wantsHardOfHearing ? 0 : 4;
    if (knownLanguage(heardLanguage) && stream.language == heardLanguage)
        return rank;
    return rank + (isFrench(stream.language) ? 1 : 2);
}

} // namespace

std::optional<std::size_t> preferredSubtitleStream(const ChannelInfo& channel,
                                                   SubtitlePreference preference,
                                                   std::array<char, 3> heardLanguage) {
    if (preference == SubtitlePreference::Off || channel.subtitleStreams.empty())
        return std::nullopt;
    std::size_t best = 0;
    int bestRank = subtitleRank(channel.subtitleStreams[0], preference, heardLanguage);
    for (std::size_t i = 1; i < channel.subtitleStreams.size(); ++i) {
        const int rank = subtitleRank(channel.subtitleStreams[i], preference, heardLanguage);
        if (rank < bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    return best;
}

std::array<char, 3> audioLanguageOf(const ChannelInfo& channel, int32_t pid) {
    for (const AudioStream& stream : channel.audioStreams)
        if (pid != 0 && stream.pid == pid)
            return stream.language;
    return {};
}

SubtitlePreference preferenceOf(const SubtitleStream* chosen) {
    if (!chosen)
        return SubtitlePreference::Off;
    return chosen->forHardOfHearing() ? SubtitlePreference::HardOfHearing
                                      : SubtitlePreference::Normal;
}

std::optional<std::size_t> nextSubtitleChoice(std::optional<std::size_t> current,
                                              std::size_t count) {
    if (!current)
        return count ? std::optional<std::size_t>(0) : std::nullopt;
    if (*current + 1 < count)
        return *current + 1;
    return std::nullopt;
}

std::string subtitleStreamName(const SubtitleStream& stream, std::size_t place) {
    // The audio tracks' names give the language; their "Piste n" stands for a missing one.
    AudioStream asAudio;
    asAudio.language = stream.language;
    std::string name = audioStreamName(asAudio, place);
    if (name.starts_with("Piste "))
        name = "Sous-titres " + std::to_string(place);
    if (stream.forHardOfHearing())
        name += " (sourds et malentendants)";
    return name;
}

std::u16string_view subtitlePreferenceWord(SubtitlePreference preference) {
    switch (preference) {
    case SubtitlePreference::Normal:
        return u"Normaux";
    case SubtitlePreference::HardOfHearing:
        return u"Sourds et malentendants";
    case SubtitlePreference::Off:
        break;
    }
    return u"Aucun";
}

SubtitlePreference subtitlePreferenceFromWord(std::u16string_view word) {
    for (SubtitlePreference preference :
         {SubtitlePreference::Normal, SubtitlePreference::HardOfHearing})
        if (word == subtitlePreferenceWord(preference))
            return preference;
    return SubtitlePreference::Off;
}

} // namespace korvane
