#include "si/guide_table.h"

#include "common/dvb_text.h"
namespace korvane {

namespace {

GuideRow rowOf(const ChannelInfo& channel, const EpgEvent& event) {
    return GuideRow{std::string(shownDvbText(channel.name.view())),
                    std::string(event.startText.view()), std::string(event.endText.view()),
                    std::string(shownDvbText(event.title.view())),
                    std::string(shownDvbText(event.description.view()))};
}

} // namespace

GuideTable guideTable(const ChannelRecords& records, int32_t currentIndex) {
    GuideTable table;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const ChannelInfo& channel = records[i];
        if (!channel.present.empty()) {
            if (currentIndex >= 0 && static_cast<std::size_t>(currentIndex) == i)
                table.selected = table.rows.size();
            table.rows.push_back(rowOf(channel, channel.present));
            table.origins.push_back({i, false});
        }
        if (!channel.following.empty()) {
            table.rows.push_back(rowOf(channel, channel.following));
            table.origins.push_back({i, true});
        }
    }
    return table;
}

} // namespace korvane
