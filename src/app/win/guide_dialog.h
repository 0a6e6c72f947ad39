#pragma once

#include <windows.h>

#include <cstddef>

namespace korvane {

// Switches to the channel at a list index (the channel switch of the main window).
using ChannelSelector = void (*)(std::size_t index);

// The procedure of dialog 107, "Guide des programmes", opened by showGuideDialog. The table
// holds the present and following events of every channel, in list order, with the present
// event of the channel being watched selected and shown.
INT_PTR CALLBACK ProgrammeGuideDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The dialog, modal, with the cursor shown while it is open. A double-click on a row switches
// to its channel through `select` and leaves the dialog open. "Enregistrer cette émission"
// (the button, or the row's context menu) schedules the selected event, when its end is
// known, with the margins of the settings.
void showGuideDialog(HWND owner, ChannelSelector select);

} // namespace korvane
