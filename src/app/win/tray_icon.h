#pragma once

#include <windows.h>

#include <string>

namespace korvane {

// The notification area: with "Réduire dans la zone de notification" on, a minimised main
// window hides and an icon (the program's) stands for it; a click on the icon brings the
// window back and removes the icon. The icon's tooltip says what records or comes next.

// The icon's callback message to the main window (lParam: the mouse message).
inline constexpr UINT kTrayIconMessage = WM_USER + 15;
// While the icon shows, its tooltip follows the schedule's state: refreshed whenever the
// schedule store says it changed, and on this timer for what only the clock changes.
inline constexpr UINT_PTR kTrayTooltipTimer = 138;

// The "Réduire dans la zone de notification" command: flips the setting, sets the item's
// check mark and saves the settings. Turned off while the window sits in the notification
// area, the window comes back.
void toggleMinimizeToTray();

// The main window's WM_SIZE: on a minimise with the setting on, the window hides and the
// icon shows. True when it did.
bool minimizeToTrayIfChosen(HWND window, WPARAM sizeType);

// The main window's kTrayIconMessage: a click (or double click) on the icon restores the
// window.
void onTrayIconMessage(HWND window, LPARAM mouseMessage);

// The tooltip's text again from the schedule (kTrayTooltipTimer, the schedule's change
// message); nothing while the icon is not shown.
void refreshTrayTooltip();

// The main window's message for a restarted task bar ("TaskbarCreated"): the icon is added
// again when it was shown. False for any other message.
bool onTaskbarRestarted(HWND window, UINT message);

// Takes the icon away (WM_DESTROY of the main window); also done at process end.
void removeTrayIcon();

// What the notification area holds of the program, for tests: whether the icon is shown,
// and the tooltip last given to it.
bool trayIconShown();
std::wstring trayIconTooltip();

// Removes the icon and shows the window again where it was before the minimise.
void restoreFromTray(HWND window);

} // namespace korvane
