#include "app/now_playing_text.h"

namespace korvane {

std::u16string nowPlayingText(std::u16string_view channelName, std::u16string_view title) {
    std::u16string text = u"\\0Music\\01\\0{0} - {1}\\0";
    text += channelName;
    text += u"\\0";
    text += title;
    text += u"\\0\\0\\0";
    return text;
}

std::u16string_view clearedNowPlayingText() {
    return u"\\0Music\\00\\0\\0\\0\\0\\0\\0";
}

} // namespace korvane
