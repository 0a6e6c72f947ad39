#include "app/win/now_playing.h"

#include "app/now_playing_text.h"
#include "app/win/app_state.h"

#include <string>
#include <string_view>

namespace korvane {

namespace {

// A messenger that stopped answering must not freeze the picture: the send gives up after
// this long instead of waiting for ever.
constexpr UINT kSendTimeoutMs = 2000;

std::u16string fromAnsi(std::string_view text) {
    if (text.empty())
        return {};
    int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    return std::u16string(wide.begin(), wide.end());
}

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
    sendStatus(
        nowPlayingText(fromAnsi(channel->name.view()), fromAnsi(channel->present.title.view())));
}

void clearNowPlaying() {
    sendStatus(clearedNowPlayingText());
}

} // namespace korvane
