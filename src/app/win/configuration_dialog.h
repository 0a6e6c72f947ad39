#pragma once

#include <windows.h>

namespace korvane {

// The configuration dialog (resource 103): city, tuner, receiver and the three decoders.
// OK stores the selected names and saves the settings; Cancel stores nothing. The new
// devices and decoders are used from the next start.
INT_PTR CALLBACK ConfigurationDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs it modally, owned by owner.
void showConfigurationDialog(HWND owner);

} // namespace korvane
