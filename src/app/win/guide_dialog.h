#pragma once

#include <windows.h>

#include <cstddef>

namespace korvane {

// Switches to the channel at a list index (the channel switch of the main window).
using ChannelSelector = void (*)(std::size_t index);

// The procedure of dialog 107, "Guide des programmes". The dialog's creation parameter is the
// ChannelSelector a double-click uses.
INT_PTR CALLBACK ProgrammeGuideDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the list view with the present and following events of every channel, in list order,
// and selects and shows the present event of the channel being watched.
void fillGuideList(HWND table);

// The dialog, modal, with the cursor shown while it is open. A double-click on a row switches
// to its channel through `select` and leaves the dialog open.
void showGuideDialog(HWND owner, ChannelSelector select);

} // namespace korvane
