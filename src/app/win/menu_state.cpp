#include "app/win/menu_state.h"

#include "app/win/app_state.h"
#include "app/win/config_store.h"
#include "res/resource.h"

namespace korvane {

bool menuAttached() {
    HWND window = appState().mainWindow;
    return window && GetMenu(window) != nullptr;
}

void setMenuItemState(UINT command, UINT state) {
    // Once start-up has recorded the full menu, its states are kept up to date while it is
    // detached too: the context menu copies them, and when the menu comes back a stale gray
    // item would block its accelerator (Ctrl+Entrée for a recording started in full screen).
    HMENU menu = appState().fullMenu;
    if (!menu && menuAttached())
        menu = GetMenu(appState().mainWindow);
    if (!menu)
        return;
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    info.fState = state;
    SetMenuItemInfoW(menu, command, FALSE, &info);
}

void setMenuCheck(UINT command, bool on) {
    setMenuItemState(command, on ? MFS_CHECKED : 0);
}

void syncMenuChecks() {
    const AppConfig& config = appConfig();
    setMenuCheck(IDM_SEND_NOW_PLAYING, config.sendNowPlaying);
    setMenuCheck(IDM_PREFER_AC3, config.preferAc3);
    setMenuCheck(IDM_FULL_WIDTH, config.fullWidth);
    setMenuCheck(IDM_MINIMIZE_TO_TRAY, config.minimizeToTray);
    const UINT applied = appliedPriority();
    for (const Priority& priority : priorities())
        setMenuCheck(priority.command, priority.command == applied);
    if (appState().mainWindow)
        DrawMenuBar(appState().mainWindow);
}

HMENU copyMenu(HMENU source) {
    HMENU copy = CreatePopupMenu();
    if (!copy)
        return nullptr;
    const int count = GetMenuItemCount(source);
    for (int position = 0; position < count; ++position) {
        wchar_t text[256] = {};
        GetMenuStringW(source, position, text, 256, MF_BYPOSITION);
        if (HMENU inner = GetSubMenu(source, position)) {
            if (HMENU innerCopy = copyMenu(inner))
                AppendMenuW(copy, MF_POPUP, reinterpret_cast<UINT_PTR>(innerCopy), text);
            continue;
        }
        UINT flags = GetMenuState(source, position, MF_BYPOSITION);
        UINT id = GetMenuItemID(source, position);
        AppendMenuW(copy, flags & 0xFFFF, id, text);
    }
    return copy;
}

int positionOf(HMENU popup, UINT command) {
    const int count = GetMenuItemCount(popup);
    for (int position = 0; position < count; ++position)
        if (GetMenuItemID(popup, position) == command)
            return position;
    return -1;
}

HMENU popupHolding(HMENU menu, UINT command) {
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        HMENU popup = GetSubMenu(menu, position);
        if (!popup)
            continue;
        if (positionOf(popup, command) >= 0)
            return popup;
        if (HMENU inner = popupHolding(popup, command))
            return inner;
    }
    return nullptr;
}

} // namespace korvane
