#include "channels/frequency_plan.h"

namespace korvane {

std::vector<std::u16string> cityListItems(ProfileStore& canaux) {
    std::vector<std::u16string> items{kAllChannelsCity};
    for (std::u16string& name : canaux.sectionNames())
        if (name != kGeneralSection)
            items.push_back(std::move(name));
    return items;
}

int32_t tunerOffset(ProfileStore& canaux, std::u16string_view tunerName, OffsetQuestion& question) {
    int32_t offset = canaux.readInt(kGeneralSection, u"Offset", kDefaultOffset);
    if (offset != 166 && tunerName.find(u"Hauppauge") != std::u16string_view::npos &&
        question.ask(u"L'offset recommandé pour une carte Hauppauge est 166.\n"
                     u"Voulez vous utiliser 166 ?",
                     u"Carte Hauppauge"))
        offset = 166;
    if (offset != 167 && tunerName.find(u"Cinergy") != std::u16string_view::npos &&
        question.ask(u"L'offset recommandé pour une carte Cinergy est 167.\n"
                     u"Voulez vous utiliser 167 ?",
                     u"Carte Cinergy"))
        offset = 167;
    return offset;
}

FrequencyPlan buildFrequencyPlan(ProfileStore& canaux, std::u16string_view city,
                                 std::u16string_view tunerName, OffsetQuestion& question) {
    const int32_t offset = tunerOffset(canaux, tunerName, question);
    static constexpr const char16_t* kKeys[] = {u"R1", u"R2", u"R3", u"R4", u"R5", u"R6"};
    FrequencyPlan plan;
    for (const char16_t* key : kKeys)
        plan.push_back(uhfChannelFrequency(canaux.readInt(city, key, 0), offset));
    if (plan.front() == uhfChannelFrequency(0, offset)) {
        plan.clear();
        for (int32_t channel = 21; channel <= 69; ++channel)
            plan.push_back(uhfChannelFrequency(channel, offset));
    }
    return plan;
}

} // namespace korvane
