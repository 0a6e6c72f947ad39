#pragma once

#include <windows.h>

namespace korvane {

// Timer of the signal quality dialog: five refreshes a second.
inline constexpr UINT_PTR kSignalTimer = 4762;
inline constexpr UINT kSignalRefreshMs = 200;

// The procedure of dialog 108, "Qualité du signal".
INT_PTR CALLBACK SignalQualityDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the four values from the tuner's signal statistics; a query that fails leaves its
// text as it was.
void refreshSignalQuality(HWND dialog);

// The dialog, modal, with the cursor shown while it is open.
void showSignalQualityDialog(HWND owner);

} // namespace korvane
