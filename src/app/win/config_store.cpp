#include "app/win/config_store.h"

#include "app/win/app_state.h"
#include "app/win/menu_state.h"
#include "common/repeated_failure.h"
#include "common/win/private_profile.h"
#include "common/win/show_error.h"
#include "common/win/wide_text.h"
#include "res/resource.h"

#include <optional>

namespace korvane {

namespace {

uint16_t lastPriority = IDM_PRIORITY_ABOVE_NORMAL;

// The main window's rectangle in screen coordinates. A minimised window reports a parking
// place far off screen, so its restored rectangle is stored instead: reopening there would
// leave the window out of sight.
std::optional<ScreenRect> mainWindowRect() {
    HWND window = appState().mainWindow;
    if (!window || !IsWindow(window))
        return std::nullopt;
    RECT r{};
    if (IsIconic(window)) {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof(placement);
        if (!GetWindowPlacement(window, &placement))
            return std::nullopt;
        r = placement.rcNormalPosition;
    } else if (!GetWindowRect(window, &r)) {
        return std::nullopt;
    }
    return ScreenRect{r.left, r.top, r.right, r.bottom};
}

} // namespace

std::wstring configPath() {
    return currentDirectoryPath(kConfigFileName);
}

void loadConfig() {
    PrivateProfile store(configPath());
    LoadedConfig loaded = readConfig(store, toU16(currentDirectory()));
    appConfig() = loaded.config;
    applyPriority(loaded.priorityCommand);
}

void saveConfig() {
    PrivateProfile store(configPath());
    SaveContext context;
    context.currentIndex = channelList().currentIndex();
    context.priorityClass = GetPriorityClass(GetCurrentProcess());
    context.windowRect = mainWindowRect();
    AppConfig& config = appConfig();
    // The fields keep the last rectangle saved, so that a save after the window is gone
    // (a close during a start-up dialog) does not bring back the geometry read at start.
    if (const auto& rect = context.windowRect) {
        config.windowLeft = rect->left;
        config.windowTop = rect->top;
        config.windowWidth = rect->right - rect->left;
        config.windowHeight = rect->bottom - rect->top;
    }
    // A file that cannot be written (read-only, its folder gone) is told once, not at every
    // save, until a save succeeds again; the settings stay in memory meanwhile.
    static RepeatedFailure failures;
    if (failures.mustReport(writeConfig(store, config, context)))
        showError(L"Impossible d'écrire le fichier config.ini : les réglages ne seront pas "
                  L"gardés après la fermeture du programme.");
}

void applyPriority(uint16_t command) {
    SetPriorityClass(GetCurrentProcess(), priorityClassForCommand(command));
    lastPriority = priorityCommandForClass(priorityClassForCommand(command));
    for (const Priority& priority : priorities())
        setMenuCheck(priority.command, priority.command == lastPriority);
}

uint16_t appliedPriority() {
    return lastPriority;
}

} // namespace korvane
