#include "app/win/window_modes.h"

#include "app/win/app_state.h"
#include "app/win/menu_state.h"
#include "res/resource.h"

namespace korvane {

void toggleAlwaysOnTop() {
    AppState& state = appState();
    if (state.fullScreen)
        return;
    AppConfig& config = appConfig();
    config.alwaysOnTop = !config.alwaysOnTop;
    SetWindowPos(state.mainWindow, config.alwaysOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
    setMenuCheck(IDM_ALWAYS_ON_TOP, config.alwaysOnTop);
}

} // namespace korvane
