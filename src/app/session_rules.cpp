#include "app/session_rules.h"

namespace korvane {

std::string channelMenuText(int32_t number, std::string_view name) {
    std::string text = std::to_string(number) + ": ";
    for (char c : name) {
        if (c == '&')
            text += '&';
        text += c;
    }
    return text;
}

std::size_t channelAfterRescan(const ChannelRecords& records,
                               const std::optional<ChannelInfo>& watched) {
    if (!watched)
        return 0;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].onid == watched->onid && records[i].tsid == watched->tsid &&
            records[i].sid == watched->sid)
            return i;
    return 0;
}

int32_t startChannelIndex(int32_t storedIndex, std::size_t channelCount) {
    if (storedIndex >= 0 && static_cast<std::size_t>(storedIndex) < channelCount)
        return storedIndex;
    return 0;
}

} // namespace korvane
