#include "app/win/now_playing.h"

#include "app/now_playing_text.h"
#include "app/win/app_state.h"
#include "common/dvb_text.h"
#include "common/win/wide_text.h"

#include <string>
#include <string_view>

namespace korvane {

namespace {

// A messenger that stopped answering must not freeze the picture: the send gives up after
// this long instead of waiting for ever.
constexpr UINT kSendTimeoutMs = 2000;

void sendStatus(std::u16string_view status) {
    HWND messenger = FindWindowW(L"MsnMsgrUIManager", nullptr);
    if (!messenger)
        return;
    std::wstring text(status.begin(), status.end());
    COPYDATASTRUCT data{};
    data.dwData = kNowPlayingData;
    data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    data.lpData = text.data();
    DWORD_PTR reply = 0;
    SendMessageTimeoutW(messenger, WM_COPYDATA, reinterpret_cast<WPARAM>(appState().mainWindow),
                        reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kSendTimeoutMs, &reply);
}

} // namespace

void postNowPlaying() {
    if (!appConfig().sendNowPlaying)
        return;
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel || channel->present.empty())
        return;
    sendStatus(nowPlayingText(widenAnsi(shownDvbText(channel->name.view())),
                              widenAnsi(shownDvbText(channel->present.title.view()))));
}

void clearNowPlaying() {
    sendStatus(clearedNowPlayingText());
}

} // namespace korvane
