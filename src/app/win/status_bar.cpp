#include "app/win/status_bar.h"

#include "app/status_bar_layout.h"
#include "app/win/app_state.h"
#include "app/win/now_playing.h"
#include "app/win/rescan_offer.h"
#include "common/dvb_text.h"
#include "res/resource.h"

#include <commctrl.h>

#include <string>

namespace korvane {

void createStatusBar() {
    AppState& state = appState();
    state.statusBar = CreateWindowExA(
        0, STATUSCLASSNAMEA, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, state.mainWindow,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), appInstance(), nullptr);
    layoutStatusBar();
    const ChannelList& list = channelList();
    const int32_t current = list.currentIndex();
    if (current >= 0 && static_cast<std::size_t>(current) < list.size())
        refreshChannelInfo();
}

void layoutStatusBar() {
    HWND bar = appState().statusBar;
    if (!bar)
        return;
    RECT r{};
    GetWindowRect(bar, &r);
    auto edges = statusBarEdges(r.right - r.left);
    SendMessageA(bar, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void refreshChannelInfo() {
    std::optional<ChannelInfo> channel = channelList().copyCurrent();
    if (!channel)
        return;
    const AppState& state = appState();
    RedrawWindow(state.mainWindow, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
    if (state.statusBar) {
        // Names and titles as shown: without a character-table selector.
        const std::string name(shownDvbText(channel->name.view()));
        const std::string present(shownDvbText(channel->present.title.view()));
        const std::string following(shownDvbText(channel->following.title.view()));
        const char* texts[kStatusBarParts] = {
            name.c_str(),      channel->present.startText.c_str(),
            present.c_str(),   channel->following.startText.c_str(),
            following.c_str(),
        };
        for (int part = 0; part < kStatusBarParts; ++part)
            SendMessageA(state.statusBar, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(texts[part]));
        showRescanOffer();
    }
    postNowPlaying();
}

void showRecordingDataState(bool starved) {
    if (!starved) {
        refreshChannelInfo();
        return;
    }
    showStatusNotice(L"Enregistrement : aucune donnée reçue");
}

void showStatusNotice(const wchar_t* text) {
    if (HWND bar = appState().statusBar)
        SendMessageW(bar, SB_SETTEXTW, kStatusBarParts - 1, reinterpret_cast<LPARAM>(text));
}

} // namespace korvane
