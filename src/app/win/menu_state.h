#pragma once

#include <windows.h>

namespace korvane {

// True while the main window exists and has its menu bar (detached in compact mode and
// full screen).
bool menuAttached();
// Sets an item's state by command (MIIM_STATE) in the full menu, attached or not; before
// start-up has recorded the full menu, in the window's menu while it is attached.
// State 0 also clears a disabled state.
void setMenuItemState(UINT command, UINT state);
void setMenuCheck(UINT command, bool on);

// The check marks that follow the settings: now playing, AC-3 by default, full width and
// the priority applied at start-up. Redraws the menu bar.
void syncMenuChecks();

// The popup, at any depth below menu, that has the command as one of its own items.
HMENU popupHolding(HMENU menu, UINT command);
// The command's position in popup, -1 when it is not one of its items.
int positionOf(HMENU popup, UINT command);

// A new popup with the source's items by position: same flags (check, gray, separator),
// command and text. Nested popups are not copied.
HMENU copyMenu(HMENU source);

} // namespace korvane
