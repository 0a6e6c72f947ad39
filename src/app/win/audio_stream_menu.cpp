#include "app/win/audio_stream_menu.h"

#include "app/win/app_state.h"
#include "app/win/menu_state.h"
#include "common/win/wide_text.h"
#include "res/resource.h"

namespace korvane {

void setAudioStreamItems(const std::vector<AudioStreamMenuItem>& items) {
    HMENU bar = appState().fullMenu;
    if (!bar && menuAttached())
        bar = GetMenu(appState().mainWindow);
    if (!bar)
        return;
    HMENU popup = popupHolding(bar, IDM_AC3_TRACK);
    if (!popup)
        return;
    for (UINT command = IDM_AUDIO_STREAM_FIRST; command <= IDM_AUDIO_STREAM_LAST; ++command)
        DeleteMenu(popup, command, MF_BYCOMMAND);
    int position = positionOf(popup, IDM_AC3_TRACK);
    if (position < 0)
        return;
    ++position;
    for (const AudioStreamMenuItem& item : items) {
        std::wstring text = widenUtf8(item.text);
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_FTYPE;
        info.fType = MFT_STRING;
        info.fState = item.state;
        info.wID = item.command;
        info.dwTypeData = text.data();
        if (InsertMenuItemW(popup, static_cast<UINT>(position), TRUE, &info))
            ++position;
    }
}

} // namespace korvane
